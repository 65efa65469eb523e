// SPDX-License-Identifier: MIT
// The Pi 5: the library's pin operations on the RP1's window against the
// character device's line ioctls (GPIO_V2_LINE_SET_VALUES_IOCTL and
// _GET_VALUES, as gpioset and gpioget make them) and against one bare
// system call, the floor of any kernel route. The block is a simulated Pi
// 5 board's window, mapped as plain shared memory; the character device
// is the simulated board's, whose ioctls the shim answers in the process.
#include <fcntl.h>
#include <linux/gpio.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <map>
#include <string>

#include <benchmark/benchmark.h>

#include "collector.h"

#include "tavrel.h"
#include "tavrel_simboard.h"

namespace {

int line_fd = -1;  // a request of line 17 as an output, and line 22 as an input

void lib_set_val(benchmark::State& s)
{
    int v = 0;
    for (auto _ : s) tavrel_gpio_set_val(17, v ^= 1);
}
void lib_get_val(benchmark::State& s)
{
    for (auto _ : s) benchmark::DoNotOptimize(tavrel_gpio_get_val(22));
}
void lib_set_mask(benchmark::State& s)
{
    uint64_t v = 0;
    for (auto _ : s) tavrel_gpio_set_mask(1u << 17 | 1ull << 40, v ^= 1u << 17 | 1ull << 40);
}
void cdev_set_values(benchmark::State& s)
{
    gpio_v2_line_values values = {0, 1};
    for (auto _ : s) {
        values.bits ^= 1;
        ioctl(line_fd, GPIO_V2_LINE_SET_VALUES_IOCTL, &values);
    }
}
void cdev_get_values(benchmark::State& s)
{
    gpio_v2_line_values values = {0, 2};
    for (auto _ : s) {
        ioctl(line_fd, GPIO_V2_LINE_GET_VALUES_IOCTL, &values);
        benchmark::DoNotOptimize(values.bits);
    }
}
void syscall_per_operation(benchmark::State& s)
{
    for (auto _ : s) benchmark::DoNotOptimize(syscall(SYS_getppid));
}
BENCHMARK(lib_set_val);
BENCHMARK(lib_get_val);
BENCHMARK(lib_set_mask);
BENCHMARK(cdev_set_values);
BENCHMARK(cdev_get_values);
BENCHMARK(syscall_per_operation);

void write_file(const std::string& path, const char* text, size_t n)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || fwrite(text, 1, n, f) != n || fclose(f) != 0) exit(1);
}

// A Pi 5 board, plain, with the Pi 5's device tree; then this program
// again under the shim.
void prepare(char** argv)
{
    char dir[] = "/tmp/tavrel-bench-rp1-XXXXXX";
    if (!mkdtemp(dir)) exit(1);
    std::string d = dir, node = "/axi/pcie@120000/rp1/gpio@d0000", path = d + "/tree";
    for (const char* sub :
         {"", "/__symbols__", "/axi", "/axi/pcie@120000", "/axi/pcie@120000/rp1", node.c_str()})
        mkdir((path + sub).c_str(), 0700);
    write_file(path + "/__symbols__/gpio", (node + '\0').c_str(), node.size() + 1);
    write_file(path + node + "/compatible", "raspberrypi,rp1-gpio", sizeof "raspberrypi,rp1-gpio");
    std::string board = d + "/board";
    char why[256];
    tavrel_simboard* b = tavrel_simboard_open(board.c_str(), why, sizeof why);
    if (!b || tavrel_simboard_set_soc(b, TAVREL_SIMBOARD_BCM2712) != 0) exit(1);
    tavrel_simboard_close(b);
    setenv("TAVREL_SIM_BOARD", board.c_str(), 1);
    setenv("TAVREL_SIM_DEVICE_TREE", path.c_str(), 1);
    setenv("TAVREL_SIM_MODE", "plain", 1);
    setenv("LD_PRELOAD", TAVREL_SIM_SHIM, 1);
    setenv("TAVREL_BENCH_DIR", dir, 1);
    execv("/proc/self/exe", argv);
    exit(1);
}

int request_lines()
{
    int chip = open("/dev/gpiochip0", O_RDWR | O_CLOEXEC);
    if (chip < 0) return -1;
    gpio_v2_line_request req;
    memset(&req, 0, sizeof req);
    req.offsets[0] = 17;
    req.offsets[1] = 22;
    req.num_lines = 2;
    strcpy(req.consumer, "bench");
    req.config.flags = GPIO_V2_LINE_FLAG_INPUT;
    req.config.num_attrs = 1;
    req.config.attrs[0].attr.id = GPIO_V2_LINE_ATTR_ID_FLAGS;
    req.config.attrs[0].attr.flags = GPIO_V2_LINE_FLAG_OUTPUT;
    req.config.attrs[0].mask = 1;
    int rc = ioctl(chip, GPIO_V2_GET_LINE_IOCTL, &req);
    close(chip);
    return rc < 0 ? -1 : req.fd;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!getenv("TAVREL_BENCH_DIR")) prepare(argv);
    line_fd = request_lines();
    if (line_fd < 0 || tavrel_gpio_init_noatexit() != 0 || tavrel_gpio_chip() != TAVREL_CHIP_BCM2712) {
        fprintf(stderr, "bench_rp1: no Pi 5 board\n");
        return 1;
    }
    tavrel_gpio_config_io(22, 0);
    benchmark::Initialize(&argc, argv);
    Collector c;
    benchmark::RunSpecifiedBenchmarks(&c);
    double sys = c.ns["syscall_per_operation"];
    printf(
        "\nset a level: library %.1f ns, character device %.1f ns (%.1fx), one system call %.1f ns (%.1fx)\n",
        c.ns["lib_set_val"], c.ns["cdev_set_values"], c.ns["cdev_set_values"] / c.ns["lib_set_val"], sys,
        sys / c.ns["lib_set_val"]);
    printf(
        "read a level: library %.1f ns, character device %.1f ns (%.1fx), one system call %.1f ns (%.1fx)\n",
        c.ns["lib_get_val"], c.ns["cdev_get_values"], c.ns["cdev_get_values"] / c.ns["lib_get_val"], sys,
        sys / c.ns["lib_get_val"]);
    tavrel_gpio_deinit();
    close(line_fd);
    std::string dir = getenv("TAVREL_BENCH_DIR");
    for (const char* f :
         {"/tree/axi/pcie@120000/rp1/gpio@d0000/compatible", "/tree/__symbols__/gpio", "/board"})
        unlink((dir + f).c_str());
    for (const char* sub : {"/tree/axi/pcie@120000/rp1/gpio@d0000", "/tree/axi/pcie@120000/rp1",
                            "/tree/axi/pcie@120000", "/tree/axi", "/tree/__symbols__", "/tree", ""})
        rmdir((dir + sub).c_str());
    return 0;
}
