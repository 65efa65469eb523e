/* SPDX-License-Identifier: MIT */
/* The library's edge events on the simulated board, with levels driven
 * through the C test API: each kind of edge, several pins, order and
 * sequence numbers, a lost event showing in seqno, debounce, poll
 * readiness, the deadlines, the pins' functions, another process and a
 * forked child, and every error.
 * Run under tavrel-sim --board FILE with FILE in TAVREL_SIM_BOARD, and
 * the wait tool's path as argument; prints "ok"/"FAIL" lines and exits 1
 * on a failure. */
#include <errno.h>
#include <fcntl.h>
#include <linux/gpio.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "tavrel.h"
#include "tavrel_simboard.h"

static int failures;
static tavrel_simboard* board;
static const char* wait_tool;
/* The board is a Pi 5's: its lines have the Pi 5's device tree's names. */
static int pi5;

static void check(int ok, const char* what)
{
    printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) failures++;
}

static int64_t now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

/* Exactly `want` events, waiting up to 10 s for them. */
static int collect(int fd, struct tavrel_edge_event* ev, int want)
{
    int got = 0;
    while (got < want) {
        int n = tavrel_gpio_edge_read(fd, ev + got, want - got, 10000);
        if (n <= 0) break;
        got += n;
    }
    return got;
}

static int nothing_more(int fd)
{
    struct tavrel_edge_event ev;
    return tavrel_gpio_edge_read(fd, &ev, 1, 0) == 0;
}

static void each_kind_of_edge_and_nothing_else(void)
{
    static const struct {
        int32_t edges;
        const char* what;
    } kinds[] = {{TAVREL_EDGE_RISING, "rising edges alone, when asked for"},
                 {TAVREL_EDGE_FALLING, "falling edges alone, when asked for"},
                 {TAVREL_EDGE_BOTH, "both edges, when asked for"}};
    for (int k = 0; k < 3; ++k) {
        int fd = tavrel_gpio_edge_open(1u << 5, kinds[k].edges, 0);
        tavrel_simboard_drive(board, 5, 1);
        tavrel_simboard_drive(board, 5, 0);
        struct tavrel_edge_event ev[2];
        int want = kinds[k].edges == TAVREL_EDGE_BOTH ? 2 : 1;
        int n = collect(fd, ev, want);
        int first = kinds[k].edges == TAVREL_EDGE_FALLING ? TAVREL_EDGE_FALLING : TAVREL_EDGE_RISING;
        check(fd >= 0 && n == want && ev[0].pin == 5 && ev[0].edge == first &&
                  (want == 1 || ev[1].edge == TAVREL_EDGE_FALLING) && nothing_more(fd),
              kinds[k].what);
        tavrel_gpio_edge_close(fd);
    }
}

static void several_pins_in_order_with_sequence_numbers(void)
{
    int fd = tavrel_gpio_edge_open(1u << 6 | 1u << 7 | 1ull << 53, TAVREL_EDGE_BOTH, 0);
    check(fd >= 0 && nothing_more(fd), "three pins in one request, nothing to read before a change");
    struct pollfd p = {fd, POLLIN, 0};
    check(poll(&p, 1, 0) == 0, "poll: not readable while nothing waits");
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    uint64_t before = (uint64_t)t.tv_sec * 1000000000u + (uint64_t)t.tv_nsec;
    tavrel_simboard_drive(board, 7, 1);
    tavrel_simboard_drive(board, 53, 1);
    tavrel_simboard_drive(board, 7, 0);
    check(poll(&p, 1, 10000) == 1 && (p.revents & POLLIN), "poll: readable once an edge waits");
    struct tavrel_edge_event ev[4];
    int n = collect(fd, ev, 3);
    check(n == 3 && ev[0].pin == 7 && ev[1].pin == 53 && ev[2].pin == 7 && ev[2].edge == TAVREL_EDGE_FALLING,
          "events in the order the levels changed, each with its pin and edge");
    check(n == 3 && ev[0].seqno == 1 && ev[1].seqno == 2 && ev[2].seqno == 3 && ev[0].pin_seqno == 1 &&
              ev[1].pin_seqno == 1 && ev[2].pin_seqno == 2,
          "seqno counts across the request, pin_seqno per pin");
    check(n == 3 && ev[0].timestamp_ns >= before && ev[0].timestamp_ns <= ev[1].timestamp_ns,
          "timestamps on CLOCK_MONOTONIC, in order");
    tavrel_gpio_edge_close(fd);
}

/* The kernel keeps 16 events a pin and drops the oldest. */
static void a_full_queue_loses_the_oldest_and_seqno_shows_the_gap(void)
{
    int fd = tavrel_gpio_edge_open(1u << 8, TAVREL_EDGE_BOTH, 0);
    int sentinel = tavrel_gpio_edge_open(1u << 11, TAVREL_EDGE_RISING, 0);
    for (int i = 0; i < 40; ++i) tavrel_simboard_drive(board, 8, i % 2 == 0);
    tavrel_simboard_drive(board, 11, 1); /* comes after every change of pin 8 */
    struct tavrel_edge_event ev[64];
    check(collect(sentinel, ev, 1) == 1, "the sentinel's edge came");
    memset(ev, 0xA5, sizeof ev);
    int n = tavrel_gpio_edge_read(fd, ev, 5, 0);
    const unsigned char* guard = (const unsigned char*)&ev[5];
    int untouched = 1;
    for (size_t i = 0; i < sizeof ev[5]; ++i) untouched &= guard[i] == 0xA5;
    check(n == 5 && untouched && ev[0].seqno == 25, "a read stores at most max events, nothing past them");
    n = tavrel_gpio_edge_read(fd, ev + 5, 59, 0);
    check(n == 11 && ev[0].seqno == 25 && ev[5].seqno == 30 && ev[15].seqno == 40,
          "40 edges, the last 16 kept: seqno starts at 25");
    tavrel_gpio_edge_close(sentinel);
    tavrel_gpio_edge_close(fd);
    tavrel_simboard_drive(board, 11, 0);
}

/* The bounces fall within the period however slowly this runs: a second. */
static void a_bouncing_press_gives_one_event(void)
{
    int fd = tavrel_gpio_edge_open(1u << 12, TAVREL_EDGE_BOTH, 1000000);
    for (int i = 0; i < 5; ++i) {
        tavrel_simboard_drive(board, 12, 1);
        tavrel_simboard_drive(board, 12, 0);
    }
    tavrel_simboard_drive(board, 12, 1);
    struct tavrel_edge_event ev[4];
    int n = tavrel_gpio_edge_read(fd, ev, 4, 10000);
    check(n == 1 && ev[0].edge == TAVREL_EDGE_RISING && ev[0].seqno == 1,
          "a bouncing press, debounced: one event");
    check(tavrel_gpio_edge_read(fd, ev, 4, 1500) == 0, "and no other after it");
    tavrel_gpio_edge_close(fd);
}

static void on_alarm(int sig)
{
    (void)sig;
}

static void deadlines(void)
{
    int fd = tavrel_gpio_edge_open(1u << 9, TAVREL_EDGE_BOTH, 0);
    struct tavrel_edge_event ev[2];
    int64_t start = now_ms();
    int n = tavrel_gpio_edge_read(fd, ev, 2, 150);
    check(n == 0 && now_ms() - start >= 150, "a timed read with nothing to read returns 0 at its deadline");

    /* Signals every 20 ms, with a handler and no SA_RESTART. */
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_alarm;
    sigaction(SIGALRM, &sa, NULL);
    struct itimerval every = {{0, 20000}, {0, 20000}}, off;
    memset(&off, 0, sizeof off);
    setitimer(ITIMER_REAL, &every, NULL);
    start = now_ms();
    n = tavrel_gpio_edge_read(fd, ev, 2, 200);
    int64_t took = now_ms() - start;
    setitimer(ITIMER_REAL, &off, NULL);
    check(n == 0 && took >= 200, "signals do not shorten the deadline");

    tavrel_simboard_drive(board, 9, 1);
    check(collect(fd, ev, 1) == 1, "an event waiting");
    tavrel_simboard_drive(board, 9, 0);
    struct pollfd p = {fd, POLLIN, 0};
    poll(&p, 1, 10000);
    start = now_ms();
    n = tavrel_gpio_edge_read(fd, ev, 2, -1);
    check(n == 1 && now_ms() - start < 5000, "a read without a limit returns at once with an event waiting");
    tavrel_gpio_edge_close(fd);
}

/* Starts the wait tool with up to 10 arguments, its standard output and
 * error on pipes; its pid. */
static pid_t start_tool(const char* const* args, int* out, int* err)
{
    int o[2], e[2];
    if (pipe(o) != 0 || pipe(e) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(o[1], 1);
        dup2(e[1], 2);
        const char* argv[12] = {wait_tool};
        for (int i = 0; i < 10 && args[i]; ++i) argv[i + 1] = args[i];
        execv(wait_tool, (char* const*)argv);
        _exit(127);
    }
    close(o[1]);
    close(e[1]);
    *out = o[0];
    *err = e[0];
    return pid;
}

/* Reads a pipe to its end into buf; closes it. */
static void drain(int fd, char* buf, size_t size)
{
    size_t got = 0;
    ssize_t n;
    while (got + 1 < size && (n = read(fd, buf + got, size - 1 - got)) > 0) got += (size_t)n;
    buf[got] = '\0';
    close(fd);
}

/* The tool's exit status, with what it printed. */
static int run_tool(const char* const* args, char* out, char* err)
{
    int o, e, status;
    pid_t pid = start_tool(args, &o, &e);
    drain(o, out, 512);
    drain(e, err, 512);
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

static int tool_on_pin_10(void)
{
    static const char* const args[] = {"-p", "10", "-t", "50", NULL};
    char out[512], err[512];
    return run_tool(args, out, err);
}

/* "PIN EDGE SECONDS.NINE_DIGITS" */
static int is_event_line(const char* line, const char* pin_and_edge)
{
    size_t n = strlen(pin_and_edge);
    if (strncmp(line, pin_and_edge, n) != 0 || line[n] != ' ') return 0;
    const char* dot = strchr(line + n + 1, '.');
    if (!dot || dot == line + n + 1) return 0;
    for (int i = 1; i <= 9; ++i)
        if (dot[i] < '0' || dot[i] > '9') return 0;
    return dot[10] == '\n' || dot[10] == '\0';
}

/* Waits up to 30 s for another program's request to hold the pin: the
 * board shows a line held once its request is whole, edge detection
 * running. A request of our own to see EBUSY would not do: it could take
 * the pin from the tool, and the lines are held a moment before their
 * detection starts. */
static int wait_held(uint32_t pin)
{
    return tavrel_simboard_wait_held(board, (int32_t)pin, 30000) == 0;
}

static int64_t now_ns(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

/* An edge in the first tenth of a second, whose nanoseconds need the
 * leading zeros: the printed stamp must read back as a time between just
 * before and just after the drive. A drive that a loaded machine delays
 * past that tenth is made again, 20 times at most. */
static int stamp_is_printed_whole(void)
{
    static const char* const args[] = {"-p", "13", "-t", "30000", NULL};
    for (int attempt = 0; attempt < 20; ++attempt) {
        int out, err, status, level = tavrel_simboard_level(board, 13);
        char text[512], errors[512];
        pid_t pid = start_tool(args, &out, &err);
        if (!wait_held(13)) return 0;
        int64_t t = now_ns();
        struct timespec pause = {0, 1000000000 - t % 1000000000 + 1000000};
        nanosleep(&pause, NULL);
        int64_t before = now_ns();
        tavrel_simboard_drive(board, 13, !level);
        int64_t after = now_ns();
        drain(out, text, sizeof text);
        drain(err, errors, sizeof errors);
        waitpid(pid, &status, 0);
        if (before / 1000000000 != after / 1000000000 || after % 1000000000 >= 100000000) continue;
        const char* space = strrchr(text, ' ');
        long long seconds, nanoseconds;
        return is_event_line(text, level ? "13 falling" : "13 rising") && space &&
               sscanf(space + 1, "%lld.%9lld", &seconds, &nanoseconds) == 2 &&
               seconds * 1000000000 + nanoseconds >= before && seconds * 1000000000 + nanoseconds <= after;
    }
    return 0;
}

static void the_wait_tool(void)
{
    /* The time limit turns a lost edge into a failure, not a hang. */
    static const char* const args[] = {"-p", "4", "-p", "13", "-n", "2", "-t", "30000", NULL};
    int out, err, status;
    pid_t pid = start_tool(args, &out, &err);
    check(wait_held(13), "tavrel-gpio_wait holds its pins");
    tavrel_simboard_drive(board, 13, 1);
    tavrel_simboard_drive(board, 13, 0);
    char text[512], errors[512];
    drain(out, text, sizeof text);
    drain(err, errors, sizeof errors);
    waitpid(pid, &status, 0);
    char* second = strchr(text, '\n');
    check(WIFEXITED(status) && WEXITSTATUS(status) == 0 && is_event_line(text, "13 rising") && second &&
              is_event_line(second + 1, "13 falling") && errors[0] == '\0',
          "tavrel-gpio_wait: a line per edge, PIN EDGE SECONDS.NANOSECONDS, and status 0 after COUNT");

    /* Pin 13 is low now. Raised before the tool starts, its first edge is a fall. */
    tavrel_simboard_drive(board, 13, 1);
    static const char* const rising[] = {"-p", "13", "-r", "-t", "30000", NULL};
    pid = start_tool(rising, &out, &err);
    check(wait_held(13), "tavrel-gpio_wait -r holds its pin");
    tavrel_simboard_drive(board, 13, 0);
    tavrel_simboard_drive(board, 13, 1);
    drain(out, text, sizeof text);
    drain(err, errors, sizeof errors);
    waitpid(pid, &status, 0);
    check(WIFEXITED(status) && WEXITSTATUS(status) == 0 && is_event_line(text, "13 rising"),
          "tavrel-gpio_wait -r: the fall before is not counted");

    static const char* const three[] = {"-p", "13", "-n", "3", "-t", "300", NULL};
    pid = start_tool(three, &out, &err);
    check(wait_held(13), "tavrel-gpio_wait -n 3 holds its pin");
    tavrel_simboard_drive(board, 13, 0);
    drain(out, text, sizeof text);
    drain(err, errors, sizeof errors);
    waitpid(pid, &status, 0);
    check(WIFEXITED(status) && WEXITSTATUS(status) == 3 && is_event_line(text, "13 falling") &&
              strchr(text, '\n') == text + strlen(text) - 1,
          "tavrel-gpio_wait -n 3: one event of three by the deadline is status 3, the event printed");

    check(stamp_is_printed_whole(), "tavrel-gpio_wait: nanoseconds below 100000000 printed as nine digits");

    static const char* const by_name_zero[] = {"-p", "SPI_MOSI", "-p", "GPIO13", "-t", "0", NULL};
    static const char* const by_name_pi5[] = {"-p", "FAN_TACH", "-p", "GPIO13", "-t", "0", NULL};
    const char* const* by_name = pi5 ? by_name_pi5 : by_name_zero;
    check(run_tool(by_name, text, errors) == 3 && errors[0] == '\0',
          "tavrel-gpio_wait: pins by their line names, or as GPIO and the number");
    static const char* const help[] = {"--help", NULL};
    check(run_tool(help, text, errors) == 0 && strncmp(text, "Usage:", 6) == 0 && errors[0] == '\0',
          "tavrel-gpio_wait --help: the usage on standard output, status 0");
    static const char* const version[] = {"--version", NULL};
    check(run_tool(version, text, errors) == 0 && strncmp(text, "tavrel-gpio_wait ", 17) == 0,
          "tavrel-gpio_wait --version: the version");

    static const char* const timeout[] = {"-p", "4", "-r", "-t", "0", NULL};
    check(run_tool(timeout, text, errors) == 3 && text[0] == '\0',
          "tavrel-gpio_wait: status 3 when the time runs out");
    static const char* const timed[] = {"-p", "4", "-r", "-t", "120", NULL};
    int64_t start = now_ms();
    check(run_tool(timed, text, errors) == 3 && now_ms() - start >= 120,
          "tavrel-gpio_wait: and not before TIMEOUT_MS");

    static const struct {
        const char* args[4];
        const char* err;
    } bad[] = {
        {{NULL}, "Usage:"},
        {{"-p", "54", NULL},
         "tavrel-gpio_wait: bad pin '54': expected a number from 0 to 53, or a line's name as GPIO17\n"},
        {{"-p", "4", "-n", "0"}, "tavrel-gpio_wait: bad count '0'"},
        {{"-p", "4", "-t", "-1"}, "tavrel-gpio_wait: bad timeout '-1'"},
        {{"-p", "4", "-d", "1e3"}, "tavrel-gpio_wait: bad debounce '1e3'"},
        {{"-p", "99999999999999999999", NULL}, "tavrel-gpio_wait: bad pin '99999999999999999999'"},
        {{"-p", "4", "-t", "99999999999999999999"}, "tavrel-gpio_wait: bad timeout"},
        {{"-p", "4", "-n", "99999999999999999999"}, "tavrel-gpio_wait: bad count"},
        {{"-p", "4", "-d", "99999999999999999999"}, "tavrel-gpio_wait: bad debounce"},
        {{"-p", "NO_SUCH_LINE", NULL}, "tavrel-gpio_wait: bad pin 'NO_SUCH_LINE'"},
        {{"-p", "4", "extra", NULL}, "Usage:"}};
    int all = 1;
    for (size_t i = 0; i < sizeof bad / sizeof bad[0]; ++i) {
        const char* a[8] = {bad[i].args[0], bad[i].args[1], bad[i].args[2], bad[i].args[3], NULL};
        int rc = run_tool(a, text, errors);
        int ok = rc == 1 && strncmp(errors, bad[i].err, strlen(bad[i].err)) == 0 && text[0] == '\0';
        if (!ok) printf("     %s -> %d, %s", bad[i].args[0] ? bad[i].args[1] : "(none)", rc, errors);
        all &= ok;
    }
    check(all, "tavrel-gpio_wait: bad arguments fail with status 1 and say why");
}

static void pins_functions_processes_and_fork(void)
{
    int32_t at_open = tavrel_simboard_function(board, 10);
    check(tavrel_gpio_init_noatexit() == 0, "register access open");
    tavrel_gpio_config_io(10, 1);
    int fd = tavrel_gpio_edge_open(1u << 10, TAVREL_EDGE_BOTH, 0);
    check(fd >= 0 && tavrel_simboard_function(board, 10) == 0, "a watched output becomes an input");
    check(tavrel_gpio_edge_open(1u << 10 | 1u << 13, TAVREL_EDGE_BOTH, 0) == -1 && errno == EBUSY,
          "EBUSY in the same process");
    check(tool_on_pin_10() == 1, "EBUSY in another process: the tool fails");

    pid_t child = fork();
    if (child == 0) _exit(tavrel_gpio_edge_close(fd) == 0 ? 0 : 1);
    int status;
    waitpid(child, &status, 0);

    /* A forked child shares the request's queue, as the kernel's file:
     * what it reads, the parent does not read again. */
    tavrel_simboard_drive(board, 10, 1);
    pid_t reader = fork();
    if (reader == 0) {
        struct tavrel_edge_event e;
        _exit(tavrel_gpio_edge_read(fd, &e, 1, 10000) == 1 && e.pin == 10 && e.edge == TAVREL_EDGE_RISING
                  ? 0
                  : 1);
    }
    int read_status;
    waitpid(reader, &read_status, 0);
    check(WIFEXITED(read_status) && WEXITSTATUS(read_status) == 0,
          "a forked child reads the request's events");
    tavrel_simboard_drive(board, 10, 0);
    struct tavrel_edge_event ev;
    check(WIFEXITED(status) && WEXITSTATUS(status) == 0 && collect(fd, &ev, 1) == 1 && ev.pin == 10 &&
              ev.edge == TAVREL_EDGE_FALLING,
          "a forked child's close leaves the parent's request alone; the parent reads what the child left");
    check(tool_on_pin_10() == 1 && tavrel_simboard_wait_held(board, 10, 0) == 0 &&
              tavrel_simboard_wait_free(board, 10, 50) == -1 && errno == ETIMEDOUT,
          "the pin still held after the child's close, as the board says");

    check(tavrel_gpio_edge_close(fd) == 0 && tavrel_simboard_function(board, 10) == 0 &&
              tavrel_simboard_wait_free(board, 10, 0) == 0,
          "after the close the pin is free and stays an input");
    check(tool_on_pin_10() == 3, "and is free for another process: the tool times out");
    tavrel_gpio_deinit();
    check(tavrel_simboard_function(board, 10) == at_open,
          "the library's own close puts back the function at open");
    tavrel_simboard_drive(board, 10, 0);
}

static void every_error(void)
{
    check(tavrel_gpio_pin_by_name("GPIO17") == 17 && tavrel_gpio_pin_by_name("ID_SDA") == 0 &&
              tavrel_gpio_pin_by_name(pi5 ? "FAN_TACH" : "SPI_SCLK") == (pi5 ? 29 : 11),
          "pins by their line names, as gpiofind finds them");
    check(tavrel_gpio_pin_by_name(pi5 ? "GPIO29" : "GPIO4") == -1 && errno == ENOENT &&
              tavrel_gpio_pin_by_name("gpio17") == -1 && errno == ENOENT &&
              tavrel_gpio_pin_by_name("GPIO17GPIO17GPIO17GPIO17GPIO17GPIO17") == -1 && errno == ENOENT,
          "ENOENT: a name no line has (GPIO4's line is GPIO_GCLK, a Pi 5's GPIO29 FAN_TACH), in any case, or "
          "too long for one");
    check(tavrel_gpio_pin_by_name("") == -1 && errno == EINVAL && tavrel_gpio_pin_by_name(NULL) == -1 &&
              errno == EINVAL,
          "EINVAL: an empty or null name");
    check(tavrel_gpio_edge_open(0, TAVREL_EDGE_BOTH, 0) == -1 && errno == EINVAL, "EINVAL: no pin");
    check(tavrel_gpio_edge_open(1ull << 54, TAVREL_EDGE_BOTH, 0) == -1 && errno == EINVAL, "EINVAL: pin 54");
    check(tavrel_gpio_edge_open(1ull << 63, TAVREL_EDGE_BOTH, 0) == -1 && errno == EINVAL, "EINVAL: pin 63");
    check(tavrel_gpio_edge_open(1u << 4 | 1ull << 54, TAVREL_EDGE_BOTH, 0) == -1 && errno == EINVAL &&
              tavrel_gpio_edge_open(1u << 4 | 1ull << 60, TAVREL_EDGE_BOTH, 0) == -1 && errno == EINVAL,
          "EINVAL: a pin the chip lacks beside one it has, not dropped from the mask");
    int bad_edges[] = {0, 4, -1};
    int all = 1;
    for (int i = 0; i < 3; ++i)
        all &= tavrel_gpio_edge_open(1u << 5, bad_edges[i], 0) == -1 && errno == EINVAL;
    check(all, "EINVAL: edges other than 1, 2 and 3");

    int fd = tavrel_gpio_edge_open(1u << 5, TAVREL_EDGE_BOTH, 0);
    struct tavrel_edge_event ev;
    check(tavrel_gpio_edge_read(fd, NULL, 1, 0) == -1 && errno == EINVAL, "EINVAL: no buffer");
    check(tavrel_gpio_edge_read(fd, &ev, 0, 0) == -1 && errno == EINVAL, "EINVAL: max 0");
    check(tavrel_gpio_edge_read(fd, &ev, 1, -2) == -1 && errno == EINVAL, "EINVAL: a timeout below -1");
    check(tavrel_gpio_edge_read(-1, &ev, 1, -1) == -1 && errno == EBADF, "EBADF: -1, without waiting");
    tavrel_gpio_edge_close(fd);
    check(tavrel_gpio_edge_read(fd, &ev, 1, 0) == -1 && errno == EBADF, "EBADF: a closed descriptor");
    check(tavrel_gpio_edge_close(fd) == -1 && errno == EBADF, "EBADF: closed twice");
    int pipe_fds[2];
    if (pipe(pipe_fds) == 0) {
        (void)!write(pipe_fds[1], "abc", 3);
        check(tavrel_gpio_edge_read(pipe_fds[0], &ev, 1, 0) == -1 && errno == EINVAL,
              "EINVAL: a descriptor that does not read as events");
        close(pipe_fds[0]);
        close(pipe_fds[1]);
    }
}

int main(int argc, char** argv)
{
    char why[256];
    const char* path = getenv("TAVREL_SIM_BOARD");
    board = path ? tavrel_simboard_open(path, why, sizeof why) : NULL;
    if (!board || argc < 2) {
        fprintf(stderr, "edges: no board (run under tavrel-sim --board FILE) or no wait tool\n");
        return 1;
    }
    wait_tool = argv[1];
    pi5 = tavrel_simboard_soc(board) == TAVREL_SIMBOARD_BCM2712;
    for (int pin = 5; pin <= 13; ++pin) tavrel_simboard_drive(board, pin, 0);
    tavrel_simboard_drive(board, 53, 0);
    each_kind_of_edge_and_nothing_else();
    several_pins_in_order_with_sequence_numbers();
    a_full_queue_loses_the_oldest_and_seqno_shows_the_gap();
    a_bouncing_press_gives_one_event();
    deadlines();
    pins_functions_processes_and_fork();
    every_error();
    the_wait_tool();
    return failures ? 1 : 0;
}
