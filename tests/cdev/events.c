/* SPDX-License-Identifier: MIT */
/* Edge events of the simulated character device, with levels driven
 * through the C test API: order and sequence numbers across lines, the
 * edges asked for and no others, active-low, both clocks, the buffer
 * dropping its oldest, poll and epoll readiness, a non-blocking read, a
 * blocked read woken by a drive from another thread, debouncing, a v1
 * line event and its full queue, no edge lost however loaded the machine,
 * line watchers that read late, and a request's lifetime: held while any
 * copy of its descriptor is open, released when its holder dies.
 * Run under tavrel-sim --board FILE with FILE in TAVREL_SIM_BOARD; prints
 * "ok"/"FAIL" lines and exits 1 on a failure. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/gpio.h>
#include <poll.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "tavrel_simboard.h"

static int failures;
static tavrel_simboard* board;
static int chip;

static void check(int ok, const char* what)
{
    printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) failures++;
}

static uint64_t now_ns(clockid_t id)
{
    struct timespec t;
    clock_gettime(id, &t);
    return (uint64_t)t.tv_sec * 1000000000u + (uint64_t)t.tv_nsec;
}

static int request(const unsigned* offsets, unsigned n, uint64_t flags, unsigned buffer)
{
    struct gpio_v2_line_request r;
    memset(&r, 0, sizeof r);
    for (unsigned i = 0; i < n; ++i) r.offsets[i] = offsets[i];
    r.num_lines = n;
    r.config.flags = flags;
    r.event_buffer_size = buffer;
    snprintf(r.consumer, sizeof r.consumer, "events");
    return ioctl(chip, GPIO_V2_GET_LINE_IOCTL, &r) < 0 ? -1 : r.fd;
}

/* Up to `max` events, as one read gives them. */
static int take(int fd, struct gpio_v2_line_event* out, int max)
{
    int n = (int)read(fd, out, (size_t)max * sizeof *out);
    return n < 0 ? -1 : n / (int)sizeof *out;
}

/* Exactly `want` events, with blocking reads. */
static int collect(int fd, struct gpio_v2_line_event* out, int want)
{
    int got = 0;
    while (got < want) {
        int n = take(fd, out + got, want - got);
        if (n <= 0) break;
        got += n;
    }
    return got;
}

static int readable(int fd)
{
    struct pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

static void order_and_sequence(void)
{
    unsigned lines[] = {5, 6};
    int fd =
        request(lines, 2,
                GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_EDGE_RISING | GPIO_V2_LINE_FLAG_EDGE_FALLING, 0);
    check(fd >= 0, "a request of two lines detecting both edges");
    check(!readable(fd), "nothing to read before a level changes");
    uint64_t before = now_ns(CLOCK_MONOTONIC);
    tavrel_simboard_drive(board, 5, 1);
    tavrel_simboard_drive(board, 6, 1);
    tavrel_simboard_drive(board, 5, 0);
    uint64_t after = now_ns(CLOCK_MONOTONIC);
    struct pollfd p = {fd, POLLIN, 0};
    check(poll(&p, 1, 5000) == 1, "poll reports the request readable");
    struct gpio_v2_line_event ev[8];
    check(collect(fd, ev, 3) == 3, "three edges, three events");
    check(ev[0].offset == 5 && ev[0].id == GPIO_V2_LINE_EVENT_RISING_EDGE && ev[1].offset == 6 &&
              ev[1].id == GPIO_V2_LINE_EVENT_RISING_EDGE && ev[2].offset == 5 &&
              ev[2].id == GPIO_V2_LINE_EVENT_FALLING_EDGE,
          "in the order the levels changed, each with its edge");
    check(ev[0].seqno == 1 && ev[1].seqno == 2 && ev[2].seqno == 3, "sequence numbers across the request");
    check(ev[0].line_seqno == 1 && ev[1].line_seqno == 1 && ev[2].line_seqno == 2, "and per line");
    check(ev[0].timestamp_ns >= before && ev[2].timestamp_ns <= after &&
              ev[0].timestamp_ns <= ev[1].timestamp_ns,
          "CLOCK_MONOTONIC timestamps of when the levels changed");
    check(!readable(fd), "nothing readable once every event is read");
    close(fd);
}

static void edges_asked_for(void)
{
    unsigned line[] = {7};
    int fd = request(line, 1,
                     GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_EDGE_FALLING | GPIO_V2_LINE_FLAG_ACTIVE_LOW |
                         GPIO_V2_LINE_FLAG_EVENT_CLOCK_REALTIME,
                     0);
    uint64_t before = now_ns(CLOCK_REALTIME);
    tavrel_simboard_drive(board, 7, 1); /* logical 0: a falling edge */
    tavrel_simboard_drive(board, 7, 0); /* logical 1: rising, not asked for */
    tavrel_simboard_drive(board, 7, 1);
    uint64_t after = now_ns(CLOCK_REALTIME);
    struct gpio_v2_line_event ev[4];
    int n = collect(fd, ev, 2);
    check(n == 2 && !readable(fd) && ev[0].id == GPIO_V2_LINE_EVENT_FALLING_EDGE &&
              ev[1].id == GPIO_V2_LINE_EVENT_FALLING_EDGE && ev[1].seqno == 2,
          "active-low: the logical falling edges alone, as asked");
    check(n >= 1 && ev[0].timestamp_ns >= before && ev[0].timestamp_ns <= after + 1000000,
          "CLOCK_REALTIME timestamps when asked");
    close(fd);
}

static void buffer_drops_the_oldest(void)
{
    unsigned line[] = {8}, sentinel[] = {11};
    uint64_t both = GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_EDGE_RISING | GPIO_V2_LINE_FLAG_EDGE_FALLING;
    int fd = request(line, 1, both, 3);
    int last = request(sentinel, 1, both, 0);
    for (int i = 0; i < 10; ++i) tavrel_simboard_drive(board, 8, i % 2 == 0);
    /* Events come in the board's order: once the sentinel's has, every
     * change of line 8 has reached its buffer. */
    tavrel_simboard_drive(board, 11, 1);
    struct gpio_v2_line_event ev[8];
    collect(last, ev, 1);
    close(last);
    fcntl(fd, F_SETFL, O_NONBLOCK);
    int n = take(fd, ev, 8);
    /* A buffer of 3 is rounded up to 4, as the kernel's kfifo is. */
    check(n == 4 && ev[0].line_seqno == 7 && ev[3].line_seqno == 10, "a full buffer keeps the newest events");
    check(take(fd, ev, 8) < 0 && errno == EAGAIN,
          "a non-blocking read with nothing waiting fails with EAGAIN");
    close(fd);
}

static void* press_later(void* arg)
{
    (void)arg;
    usleep(50000);
    tavrel_simboard_drive(board, 9, 1);
    return NULL;
}

static void blocked_read_and_epoll(void)
{
    unsigned line[] = {9};
    int fd = request(line, 1, GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_EDGE_RISING, 0);
    int ep = epoll_create1(EPOLL_CLOEXEC);
    struct epoll_event want = {EPOLLIN, {.fd = fd}}, got;
    epoll_ctl(ep, EPOLL_CTL_ADD, fd, &want);
    check(epoll_wait(ep, &got, 1, 0) == 0, "epoll: not ready before the edge");
    pthread_t t;
    pthread_create(&t, NULL, press_later, NULL);
    struct gpio_v2_line_event ev;
    int n = take(fd, &ev, 1);
    pthread_join(t, NULL);
    check(n == 1 && ev.id == GPIO_V2_LINE_EVENT_RISING_EDGE && ev.offset == 9,
          "a blocked read is woken by a drive from another thread");
    tavrel_simboard_drive(board, 9, 0);
    tavrel_simboard_drive(board, 9, 1);
    check(epoll_wait(ep, &got, 1, 5000) == 1 && got.data.fd == fd, "epoll: ready after the edge");
    close(ep);
    close(fd);
}

/* A press that bounces gives one event, a period after its last bounce,
 * and the value stays the debounced one until then. The period is long
 * enough that the bounces, a few calls apart, always fall within it. */
static void debounce_gives_one_event(void)
{
    const uint32_t period_us = 1000000;
    struct gpio_v2_line_request r;
    memset(&r, 0, sizeof r);
    r.offsets[0] = 12;
    r.num_lines = 1;
    r.config.flags = GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_EDGE_RISING | GPIO_V2_LINE_FLAG_EDGE_FALLING;
    r.config.num_attrs = 1;
    r.config.attrs[0].attr.id = GPIO_V2_LINE_ATTR_ID_DEBOUNCE;
    r.config.attrs[0].attr.debounce_period_us = period_us;
    r.config.attrs[0].mask = 1;
    check(ioctl(chip, GPIO_V2_GET_LINE_IOCTL, &r) == 0, "a debounced request");
    struct gpio_v2_line_info info;
    memset(&info, 0, sizeof info);
    info.offset = 12;
    check(ioctl(chip, GPIO_V2_GET_LINEINFO_IOCTL, &info) == 0 && info.num_attrs == 1 &&
              info.attrs[0].id == GPIO_V2_LINE_ATTR_ID_DEBOUNCE &&
              info.attrs[0].debounce_period_us == period_us,
          "line information shows its period");
    for (int i = 0; i < 4; ++i) tavrel_simboard_drive(board, 12, i % 2 == 0);
    uint64_t last = now_ns(CLOCK_MONOTONIC); /* no later than the last bounce */
    tavrel_simboard_drive(board, 12, 1);
    struct gpio_v2_line_values v = {0, 1};
    int asked = ioctl(r.fd, GPIO_V2_LINE_GET_VALUES_IOCTL, &v);
    /* Said of a read that ended within the period, as any but a machine
     * stalled for a second ends. */
    int within = now_ns(CLOCK_MONOTONIC) < last + (uint64_t)period_us * 1000;
    check(asked == 0 && (v.bits == 0 || !within), "the value stays the debounced one while the line bounces");
    struct gpio_v2_line_event ev[2];
    int n = take(r.fd, ev, 2);
    check(n == 1 && ev[0].id == GPIO_V2_LINE_EVENT_RISING_EDGE &&
              ev[0].timestamp_ns >= last + (uint64_t)period_us * 1000,
          "a bouncing press gives one event, a period after its last bounce");
    check(!readable(r.fd), "and no other");
    v.bits = 0;
    check(ioctl(r.fd, GPIO_V2_LINE_GET_VALUES_IOCTL, &v) == 0 && v.bits == 1,
          "then the value is the new level");
    /* A pulse shorter than the period, back at the level it left, is no
     * edge at all: nothing comes when the period after it is over. */
    uint64_t start = now_ns(CLOCK_MONOTONIC);
    tavrel_simboard_drive(board, 12, 0);
    tavrel_simboard_drive(board, 12, 1);
    int short_pulse = now_ns(CLOCK_MONOTONIC) < start + (uint64_t)period_us * 1000;
    struct pollfd p = {r.fd, POLLIN, 0};
    check(!short_pulse || poll(&p, 1, (int)(period_us / 1000) + 300) == 0,
          "a pulse shorter than the period gives no event");
    close(r.fd);
}

static void v1_line_event(void)
{
    struct gpioevent_request r;
    memset(&r, 0, sizeof r);
    r.lineoffset = 10;
    r.handleflags = GPIOHANDLE_REQUEST_INPUT;
    r.eventflags = GPIOEVENT_REQUEST_BOTH_EDGES;
    snprintf(r.consumer_label, sizeof r.consumer_label, "v1");
    check(ioctl(chip, GPIO_GET_LINEEVENT_IOCTL, &r) == 0, "a v1 line event");
    tavrel_simboard_drive(board, 10, 1);
    struct gpioevent_data d;
    check(read(r.fd, &d, sizeof d) == sizeof d && d.id == GPIOEVENT_EVENT_RISING_EDGE,
          "reads gpioevent_data");
    struct gpiohandle_data values;
    check(ioctl(r.fd, GPIOHANDLE_GET_LINE_VALUES_IOCTL, &values) == 0 && values.values[0] == 1,
          "and its line's value");
    close(r.fd);
}

static void drive_edges(unsigned pin, int edges)
{
    for (int i = 0; i < edges; ++i) tavrel_simboard_drive(board, pin, i % 2 == 0);
}

static void v1_full_queue_keeps_the_oldest(void)
{
    tavrel_simboard_drive(board, 11, 0);
    struct gpioevent_request r;
    memset(&r, 0, sizeof r);
    r.lineoffset = 11;
    r.handleflags = GPIOHANDLE_REQUEST_INPUT;
    r.eventflags = GPIOEVENT_REQUEST_BOTH_EDGES;
    check(ioctl(chip, GPIO_GET_LINEEVENT_IOCTL, &r) == 0, "a v1 line event to fill");
    drive_edges(11, 16);
    uint64_t between = now_ns(CLOCK_MONOTONIC);
    drive_edges(11, 16);
    struct gpioevent_data d[20];
    ssize_t got = read(r.fd, d, sizeof d);
    int oldest = got == 16 * (ssize_t)sizeof d[0];
    for (int i = 0; oldest && i < 16; ++i)
        oldest = d[i].timestamp < between &&
                 d[i].id == (i % 2 == 0 ? GPIOEVENT_EVENT_RISING_EDGE : GPIOEVENT_EVENT_FALLING_EDGE);
    check(oldest && !readable(r.fd), "a full v1 queue keeps its 16 oldest events and drops the new ones");
    close(r.fd);
    tavrel_simboard_drive(board, 11, 0);
}

/* 20,000 edges from another process, two CPU-bound processes beside it:
 * every edge is counted, and only a full queue drops events. */
static void no_edge_lost_under_load(void)
{
    enum { kEdges = 20000 };
    unsigned pin = 4;
    tavrel_simboard_drive(board, pin, 0);
    int fd = request(&pin, 1,
                     GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_EDGE_RISING | GPIO_V2_LINE_FLAG_EDGE_FALLING,
                     1024);
    pid_t busy[2];
    for (int i = 0; i < 2; ++i)
        if ((busy[i] = fork()) == 0)
            for (;;) {
            }
    pid_t driver = fork();
    if (driver == 0) {
        drive_edges(pin, kEdges);
        _exit(0);
    }
    struct gpio_v2_line_event ev[64];
    uint32_t last = 0;
    int ordered = 1;
    uint64_t deadline = now_ns(CLOCK_MONOTONIC) + 120ull * 1000000000u;
    while (last < kEdges && now_ns(CLOCK_MONOTONIC) < deadline) {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 1000) != 1) continue;
        int n = take(fd, ev, 64);
        for (int i = 0; i < n; ++i) {
            ordered &= ev[i].line_seqno > last && ev[i].seqno == ev[i].line_seqno;
            last = ev[i].line_seqno;
        }
    }
    int status;
    waitpid(driver, &status, 0);
    for (int i = 0; i < 2; ++i) {
        kill(busy[i], SIGKILL);
        waitpid(busy[i], NULL, 0);
    }
    check(last == kEdges && ordered,
          "20,000 edges under load: the last event's line_seqno is 20,000, in order");
    close(fd);
    tavrel_simboard_drive(board, pin, 0);
}

static int watch(unsigned offset)
{
    struct gpio_v2_line_info info;
    memset(&info, 0, sizeof info);
    info.offset = offset;
    return ioctl(chip, GPIO_V2_GET_LINEINFO_WATCH_IOCTL, &info);
}

/* The next change of line information, within 5 s; 0 when none came. */
static int next_change(struct gpio_v2_line_info_changed* c)
{
    struct pollfd p = {chip, POLLIN, 0};
    return poll(&p, 1, 5000) == 1 && read(chip, c, sizeof *c) == sizeof *c;
}

static void late_watcher_sees_each_consumer(void)
{
    check(watch(9) == 0, "line 9 watched");
    for (int i = 0; i < 8; ++i) {
        struct gpio_v2_line_request r;
        memset(&r, 0, sizeof r);
        r.offsets[0] = 9;
        r.num_lines = 1;
        r.config.flags = GPIO_V2_LINE_FLAG_INPUT;
        snprintf(r.consumer, sizeof r.consumer, "c%d", i);
        if (ioctl(chip, GPIO_V2_GET_LINE_IOCTL, &r) == 0) close(r.fd);
    }
    int each = 1;
    for (int i = 0; i < 8; ++i) {
        struct gpio_v2_line_info_changed req, rel;
        char want[8];
        snprintf(want, sizeof want, "c%d", i);
        each &= next_change(&req) && req.event_type == GPIO_V2_LINE_CHANGED_REQUESTED &&
                strcmp(req.info.consumer, want) == 0 && next_change(&rel) &&
                rel.event_type == GPIO_V2_LINE_CHANGED_RELEASED;
    }
    check(each, "a watcher that reads late sees each request's own consumer");
    ioctl(chip, GPIO_GET_LINEINFO_UNWATCH_IOCTL, &(uint32_t){9});
}

static int used(unsigned offset)
{
    struct gpio_v2_line_info info;
    memset(&info, 0, sizeof info);
    info.offset = offset;
    return ioctl(chip, GPIO_V2_GET_LINEINFO_IOCTL, &info) == 0 && (info.flags & GPIO_V2_LINE_FLAG_USED);
}

static void held_while_a_copy_is_open(void)
{
    unsigned pin = 7;
    int fd = request(&pin, 1, GPIO_V2_LINE_FLAG_OUTPUT, 0);
    int copies[3] = {dup(fd), fcntl(fd, F_DUPFD_CLOEXEC, 40), dup2(fd, 50)};
    close(fd);
    int held = used(pin);
    struct gpio_v2_line_values v = {1, 1};
    int answers =
        ioctl(copies[1], GPIO_V2_LINE_SET_VALUES_IOCTL, &v) == 0 && tavrel_simboard_level(board, pin) == 1;
    close(copies[0]);
    close(copies[1]);
    held &= used(pin);
    pid_t child = fork();
    if (child == 0) {
        sleep(1);
        _exit(0);
    }
    close(copies[2]);
    held &= used(pin);
    waitpid(child, NULL, 0);
    check(held && answers,
          "a request stays held while a dup, an F_DUPFD copy or a forked child's copy is open");
    check(!used(pin) && tavrel_simboard_function(board, pin) == 0, "and is released with its last copy");
    fd = request(&pin, 1, GPIO_V2_LINE_FLAG_OUTPUT, 0);
    close_range((unsigned)fd, (unsigned)fd, 0);
    check(!used(pin), "close_range releases what it closes");
}

static void a_dead_holders_lines_are_released(void)
{
    check(watch(8) == 0, "line 8 watched");
    const char* how[] = {"SIGKILL", "_exit", "abort"};
    for (int k = 0; k < 3; ++k) {
        pid_t child = fork();
        if (child == 0) {
            unsigned pin = 8;
            int fd = request(&pin, 1, GPIO_V2_LINE_FLAG_OUTPUT, 0);
            struct gpio_v2_line_values v = {1, 1};
            ioctl(fd, GPIO_V2_LINE_SET_VALUES_IOCTL, &v);
            if (k == 0) raise(SIGKILL);
            if (k == 1) _exit(0);
            signal(SIGABRT, SIG_DFL);
            abort();
        }
        waitpid(child, NULL, 0);
        struct gpio_v2_line_info_changed c;
        int released = 0;
        while (!released && next_change(&c)) released = c.event_type == GPIO_V2_LINE_CHANGED_RELEASED;
        char what[96];
        snprintf(what, sizeof what, "a holder ended by %s: its line is released and an input", how[k]);
        check(released && tavrel_simboard_function(board, 8) == 0 && !used(8), what);
    }
}

int main(void)
{
    char why[256];
    const char* path = getenv("TAVREL_SIM_BOARD");
    /* The device mapped and the chip open first: the test API works after
     * them, as a test of a program's own would use it. */
    int mem = open("/dev/gpiomem", O_RDWR | O_SYNC | O_CLOEXEC);
    void* block = mem < 0 ? MAP_FAILED : mmap(NULL, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, mem, 0);
    chip = open("/dev/gpiochip0", O_RDWR | O_CLOEXEC);
    board = path ? tavrel_simboard_open(path, why, sizeof why) : NULL;
    check(block != MAP_FAILED && board != NULL, "the test API opens the board after the device is mapped");
    if (!board || chip < 0) {
        fprintf(stderr, "events: no board or no chip (run under tavrel-sim --board FILE)\n");
        return 1;
    }
    for (int pin = 5; pin <= 12; ++pin) tavrel_simboard_drive(board, pin, 0);
    /* The kernel reads a request as 32 bits: one sign-extended from an int
     * constant, as libgpiod 2 passes GPIO_V2_GET_LINEINFO_IOCTL, is the same. */
    struct gpio_v2_line_info info;
    memset(&info, 0, sizeof info);
    info.offset = 17;
    check(ioctl(chip, (unsigned long)(long)(int)GPIO_V2_GET_LINEINFO_IOCTL, &info) == 0 &&
              strcmp(info.name, "GPIO17") == 0,
          "a request sign-extended to 64 bits is read as its 32 bits");
    order_and_sequence();
    edges_asked_for();
    buffer_drops_the_oldest();
    blocked_read_and_epoll();
    debounce_gives_one_event();
    v1_line_event();
    v1_full_queue_keeps_the_oldest();
    no_edge_lost_under_load();
    late_watcher_sees_each_consumer();
    held_while_a_copy_is_open();
    a_dead_holders_lines_are_released();
    return failures ? 1 : 0;
}
