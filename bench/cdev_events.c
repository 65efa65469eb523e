/* SPDX-License-Identifier: MIT */
/* The character device's edge events on the simulated board, measured:
 * the latency from a level change by the C test API to the read that
 * returns its event (median and 99th percentile over 10,000 events), raw
 * and through libtavrel, the raw figure taken before and after; the
 * CPU time of a process blocked waiting for an event, over 10 s; and the
 * fastest square wave the C test API drives on one line with no event
 * lost. A benchmark, not a test: it prints figures.
 * Run: tavrel-sim --board B --reset -- env TAVREL_SIM_BOARD=B tavrel-cdev-events-bench */
#include <fcntl.h>
#include <linux/gpio.h>
#include <poll.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include "tavrel.h"
#include "tavrel_simboard.h"

static tavrel_simboard* board;
static int chip;

static uint64_t now_ns(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint64_t)t.tv_sec * 1000000000u + (uint64_t)t.tv_nsec;
}

static int request(unsigned line, unsigned buffer)
{
    struct gpio_v2_line_request r;
    memset(&r, 0, sizeof r);
    r.offsets[0] = line;
    r.num_lines = 1;
    r.config.flags = GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_EDGE_RISING | GPIO_V2_LINE_FLAG_EDGE_FALLING;
    r.event_buffer_size = buffer;
    return ioctl(chip, GPIO_V2_GET_LINE_IOCTL, &r) < 0 ? -1 : r.fd;
}

static int compare(const void* a, const void* b)
{
    uint64_t x = *(const uint64_t*)a, y = *(const uint64_t*)b;
    return x < y ? -1 : x > y;
}

/* Drive to event, through a blocking read of the request or through
 * libtavrel's tavrel_gpio_edge_read (its poll, then its read). */
static void latency(int library)
{
    enum { kEvents = 10000 };
    static uint64_t took[kEvents];
    int fd = library ? tavrel_gpio_edge_open(1u << 4, TAVREL_EDGE_BOTH, 0) : request(4, 0);
    struct gpio_v2_line_event ev;
    struct tavrel_edge_event edge;
    for (int i = 0; i < kEvents; ++i) {
        uint64_t start = now_ns();
        tavrel_simboard_drive(board, 4, i % 2 == 0);
        if (library ? tavrel_gpio_edge_read(fd, &edge, 1, -1) != 1 : read(fd, &ev, sizeof ev) != sizeof ev)
            break;
        took[i] = now_ns() - start;
    }
    qsort(took, kEvents, sizeof took[0], compare);
    printf("latency, drive to %s, %d events: median %.1f us, 99th percentile %.1f us, worst %.1f us\n",
           library ? "tavrel_gpio_edge_read" : "read", kEvents, took[kEvents / 2] / 1000.0,
           took[kEvents * 99 / 100] / 1000.0, took[kEvents - 1] / 1000.0);
    close(fd);
}

static double cpu_seconds(void)
{
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

static void* press_after(void* arg)
{
    sleep(*(unsigned*)arg);
    tavrel_simboard_drive(board, 5, 1);
    return NULL;
}

static void blocked(void)
{
    unsigned seconds = 10;
    int fd = request(5, 0);
    pthread_t t;
    double before = cpu_seconds();
    pthread_create(&t, NULL, press_after, &seconds);
    struct gpio_v2_line_event ev;
    ssize_t n = read(fd, &ev, sizeof ev);
    pthread_join(t, NULL);
    printf(
        "blocked for %u s waiting for one event: %.3f s of CPU time, the edge detection's thread "
        "included%s\n",
        seconds, cpu_seconds() - before, n == sizeof ev ? "" : " (no event!)");
    close(fd);
}

struct wave {
    unsigned toggles;
    unsigned pause_ns;
};

static void* drive_wave(void* arg)
{
    struct wave* w = arg;
    struct timespec pause = {0, (long)w->pause_ns};
    for (unsigned i = 0; i < w->toggles; ++i) {
        tavrel_simboard_drive(board, 6, i % 2 == 0);
        if (w->pause_ns) nanosleep(&pause, NULL);
    }
    return NULL;
}

/* Events lost at this pace: gaps in the line's sequence numbers. */
static unsigned lost_at(unsigned pause_ns, double* rate)
{
    struct wave w = {20000, pause_ns};
    int fd = request(6, 1024);
    pthread_t t;
    uint64_t start = now_ns();
    pthread_create(&t, NULL, drive_wave, &w);
    unsigned got = 0, last = 0, lost = 0;
    struct gpio_v2_line_event ev[64];
    while (last < w.toggles) {
        /* Ends with the figure it has, should the last edge never come. */
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 10000) != 1) break;
        ssize_t n = read(fd, ev, sizeof ev);
        if (n <= 0) break;
        for (ssize_t i = 0; i < n / (ssize_t)sizeof ev[0]; ++i) {
            lost += ev[i].line_seqno - last - 1;
            last = ev[i].line_seqno;
            ++got;
        }
    }
    pthread_join(t, NULL);
    *rate = w.toggles / ((now_ns() - start) / 1e9);
    close(fd);
    return lost;
}

int main(void)
{
    char why[256];
    const char* path = getenv("TAVREL_SIM_BOARD");
    board = path ? tavrel_simboard_open(path, why, sizeof why) : NULL;
    chip = open("/dev/gpiochip0", O_RDWR | O_CLOEXEC);
    if (!board || chip < 0) {
        fprintf(stderr, "cdev_events: run under tavrel-sim --board FILE with TAVREL_SIM_BOARD=FILE\n");
        return 1;
    }
    latency(0);
    latency(1);
    latency(0);
    blocked();
    for (unsigned pause = 0;; pause = pause ? pause * 2 : 1000) {
        double rate;
        unsigned lost = lost_at(pause, &rate);
        printf("square wave, %u ns between edges: %.0f edges/s, %u events lost\n", pause, rate, lost);
        if (!lost || pause > 1000000) break;
    }
    return 0;
}
