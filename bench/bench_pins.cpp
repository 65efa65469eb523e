// SPDX-License-Identifier: MIT
// Each pin operation against a raw baseline (the same volatile accesses and
// barriers, written inline here) and against one system call per
// operation, the cost floor of the character-device route; then the quit
// listener's idle CPU share and quit latency, and the tool's run time.
// The block is the simulated board's register page, mapped as plain
// shared memory.
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "collector.h"

#include "registers.h"
#include "tavrel.h"

namespace {

volatile uint32_t* raw;  // this program's own view of the same page
char board_path[] = "/tmp/tavrel-bench-XXXXXX";

// The library's own barrier, so that the baseline fences exactly as it does.
inline void fence()
{
    tavrel::barrier();
}

void lib_set_val(benchmark::State& s)
{
    int v = 0;
    for (auto _ : s) tavrel_gpio_set_val(17, v ^= 1);
}
void raw_set_val(benchmark::State& s)
{
    int v = 0;
    for (auto _ : s) {
        fence();
        raw[(v ^= 1) ? 7 : 10] = 1u << 17;
        fence();
    }
}
void lib_get_val(benchmark::State& s)
{
    for (auto _ : s) benchmark::DoNotOptimize(tavrel_gpio_get_val(17));
}
void raw_get_val(benchmark::State& s)
{
    for (auto _ : s) {
        fence();
        uint32_t v = raw[13];
        fence();
        benchmark::DoNotOptimize((v >> 17) & 1);
    }
}
void lib_config_io(benchmark::State& s)
{
    int m = 0;
    for (auto _ : s) tavrel_gpio_config_io(17, m ^= 1);
}
void raw_config_io(benchmark::State& s)
{
    uint32_t m = 0;
    for (auto _ : s) {
        fence();
        uint32_t v = raw[1];
        fence();
        raw[1] = (v & ~(7u << 21)) | ((m ^= 1) << 21);
        fence();
    }
}
void lib_set_alt(benchmark::State& s)
{
    int a = 0;
    for (auto _ : s) tavrel_gpio_set_alt(18, a ^= 5);
}
void raw_set_alt(benchmark::State& s)
{
    static const uint32_t code[6] = {4, 5, 6, 7, 3, 2};
    int a = 0;
    for (auto _ : s) {
        fence();
        uint32_t v = raw[1];
        fence();
        raw[1] = (v & ~(7u << 24)) | (code[a ^= 5] << 24);
        fence();
    }
}
void lib_set_byte(benchmark::State& s)
{
    int b = 0;
    for (auto _ : s) tavrel_gpio_set_byte(4, b++);
}
void raw_set_byte(benchmark::State& s)
{
    int b = 0;
    for (auto _ : s) {
        fence();
        for (int i = 0; i < 8; ++i) {
            raw[(b >> i) & 1 ? 7 : 10] = 1u << (4 + i);
            fence();
        }
        ++b;
    }
}
void lib_get_byte(benchmark::State& s)
{
    for (auto _ : s) benchmark::DoNotOptimize(tavrel_gpio_get_byte(4));
}
void raw_get_byte(benchmark::State& s)
{
    for (auto _ : s) {
        fence();
        int32_t v = static_cast<int32_t>(raw[13]);
        fence();
        benchmark::DoNotOptimize((v >> 4) & 0xFF);
    }
}
void lib_get_mode(benchmark::State& s)
{
    for (auto _ : s) benchmark::DoNotOptimize(tavrel_gpio_get_mode(17));
}
void raw_get_mode(benchmark::State& s)
{
    for (auto _ : s) {
        fence();
        uint32_t v = raw[1];
        fence();
        benchmark::DoNotOptimize((v >> 21) & 7);
    }
}
void lib_set_pull(benchmark::State& s)
{
    int p = 0;
    for (auto _ : s) tavrel_gpio_set_pull(4, p ^= TAVREL_PULL_UP);
}
void raw_set_pull(benchmark::State& s)
{
    uint32_t p = 0;
    for (auto _ : s) {
        fence();
        raw[37] = p ^= 2;
        fence();
        tavrel::pull_settle_wait();
        raw[38] = 1u << 4;
        fence();
        tavrel::pull_settle_wait();
        raw[37] = 0;
        fence();
        raw[38] = 0;
        fence();
    }
}
// Four pins in each bank, two up and two down: all four words written.
constexpr uint64_t kMaskPins = 0x000F00000000000Fu;
void lib_set_mask(benchmark::State& s)
{
    uint64_t levels = 0x0005000000000005u;
    for (auto _ : s) tavrel_gpio_set_mask(kMaskPins, levels = ~levels);
}
void raw_set_mask(benchmark::State& s)
{
    uint64_t levels = 0x0005000000000005u;
    for (auto _ : s) {
        levels = ~levels;
        uint32_t p0 = static_cast<uint32_t>(kMaskPins), l0 = static_cast<uint32_t>(levels);
        uint32_t p1 = static_cast<uint32_t>(kMaskPins >> 32), l1 = static_cast<uint32_t>(levels >> 32);
        fence();
        raw[7] = p0 & l0;
        fence();
        raw[10] = p0 & ~l0;
        fence();
        raw[8] = p1 & l1;
        fence();
        raw[11] = p1 & ~l1;
        fence();
    }
}
void lib_get_all(benchmark::State& s)
{
    for (auto _ : s) benchmark::DoNotOptimize(tavrel_gpio_get_all());
}
void raw_get_all(benchmark::State& s)
{
    for (auto _ : s) {
        fence();
        uint64_t low = raw[13];
        fence();
        uint64_t high = raw[14] & 0x3FFFFF;
        fence();
        benchmark::DoNotOptimize(high << 32 | low);
    }
}
void syscall_per_operation(benchmark::State& s)
{
    for (auto _ : s) benchmark::DoNotOptimize(syscall(SYS_getppid));
}

BENCHMARK(lib_set_val);
BENCHMARK(raw_set_val);
BENCHMARK(lib_get_val);
BENCHMARK(raw_get_val);
BENCHMARK(lib_config_io);
BENCHMARK(raw_config_io);
BENCHMARK(lib_set_alt);
BENCHMARK(raw_set_alt);
BENCHMARK(lib_set_byte);
BENCHMARK(raw_set_byte);
BENCHMARK(lib_get_byte);
BENCHMARK(raw_get_byte);
BENCHMARK(lib_get_mode);
BENCHMARK(raw_get_mode);
BENCHMARK(lib_set_pull);
BENCHMARK(raw_set_pull);
BENCHMARK(lib_set_mask);
BENCHMARK(raw_set_mask);
BENCHMARK(lib_get_all);
BENCHMARK(raw_get_all);
BENCHMARK(syscall_per_operation);

double now_s()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// CPU time of a process, in seconds, from /proc.
double cpu_seconds(pid_t pid)
{
    char path[64], buf[1024];
    snprintf(path, sizeof path, "/proc/%d/stat", pid);
    FILE* f = fopen(path, "r");
    if (!f || !fgets(buf, sizeof buf, f)) return 0;
    fclose(f);
    const char* p = strrchr(buf, ')');
    unsigned long utime = 0, stime = 0;
    sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime);
    return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A child that opens access, starts the listener and waits.
pid_t start_listening_child()
{
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        if (tavrel_gpio_init() != 0 || tavrel_gpio_start_quit_listener() != 0) _exit(2);
        for (;;) pause();
    }
    return pid;
}

void listener_figures()
{
    raw[13] = 0;
    pid_t pid = start_listening_child();
    usleep(200000);
    double c0 = cpu_seconds(pid), t0 = now_s();
    sleep(5);
    double share = (cpu_seconds(pid) - c0) / (now_s() - t0);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    printf("quit listener, idle: %.1f %% of one core\n", 100 * share);

    std::vector<double> latency;
    for (int i = 0; i < 30; ++i) {
        raw[13] = 0;
        pid = start_listening_child();
        usleep(20000);
        double t = now_s();
        raw[13] = 0xFu << 24;
        waitpid(pid, nullptr, 0);
        latency.push_back((now_s() - t) * 1e3);
    }
    printf("quit pattern to process end: median %.2f ms, worst %.2f ms (30 runs)\n", median(latency),
           *std::max_element(latency.begin(), latency.end()));
}

void tool_figure(const char* tool)
{
    std::vector<double> times;
    for (int i = 0; i < 100; ++i) {
        fflush(stdout);
        double t = now_s();
        pid_t pid = fork();
        if (pid == 0) {
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            execl(tool, tool, "-p", "18", "-f", "5", static_cast<char*>(nullptr));
            _exit(127);
        }
        waitpid(pid, nullptr, 0);
        times.push_back((now_s() - t) * 1e3);
    }
    printf("tavrel-gpio_mode -p 18 -f 5, start to exit: median %.2f ms (100 runs)\n", median(times));
}

}  // namespace

int main(int argc, char** argv)
{
    // Plain shared memory: the block as a real mapping costs, not the model.
    if (!getenv("TAVREL_BENCH_READY")) {
        int fd = mkstemp(board_path);
        if (fd < 0) return 1;  // empty: made a fresh board at first use
        close(fd);
        setenv("TAVREL_SIM_BOARD", board_path, 1);
        setenv("TAVREL_SIM_MODE", "plain", 1);
        setenv("LD_PRELOAD", TAVREL_SIM_SHIM, 1);
        setenv("TAVREL_BENCH_READY", "1", 1);
        execv("/proc/self/exe", argv);
        return 1;
    }
    int fd = open(getenv("TAVREL_SIM_BOARD"), O_RDWR);
    void* map = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (map == MAP_FAILED || tavrel_gpio_init_noatexit() != 0) return 1;
    raw = static_cast<volatile uint32_t*>(map);

    benchmark::Initialize(&argc, argv);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);

    printf("\n%-10s %9s %9s %7s %18s\n", "operation", "library", "raw", "ratio", "vs syscall/op");
    double sys = collector.ns["syscall_per_operation"];
    for (const char* op : {"set_val", "get_val", "config_io", "set_alt", "set_byte", "get_byte", "get_mode",
                           "set_pull", "set_mask", "get_all"}) {
        double lib = collector.ns[std::string("lib_") + op], base = collector.ns[std::string("raw_") + op];
        if (lib <= 0 || base <= 0) continue;
        printf("%-10s %7.2f ns %7.2f ns %7.2f %15.1fx faster\n", op, lib, base, lib / base, sys / lib);
    }
    printf("one system call: %.1f ns\n\n", sys);

    listener_figures();
    tool_figure(TAVREL_TOOL_PATH);
    tavrel_gpio_deinit();
    unlink(getenv("TAVREL_SIM_BOARD"));
    return 0;
}
