// SPDX-License-Identifier: MIT
// tavrel-gpio_wait: waits for edges on pins and prints one line for each,
// until COUNT came or the time ran out; what a shell script uses to wait
// for a button. The kernel detects the edges: nothing is polled.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "cli.h"
#include "tavrel.h"

namespace {

constexpr const char kTool[] = "tavrel-gpio_wait";
constexpr const char kUsage[] =
    "Usage:\n\ttavrel-gpio_wait -p PIN [-p PIN]... [-r | -f | -b] [-d DEBOUNCE_US] [-n COUNT] "
    "[-t TIMEOUT_MS]\n";
constexpr int kTimedOut = 3;

struct Options {
    uint64_t pins = 0;
    int32_t edges = TAVREL_EDGE_BOTH;
    uint32_t debounce_us = 0;
    long long count = 1;
    long long timeout_ms = -1;  // none
};

bool parse_number(const char* text, long long max, long long* value)
{
    return tavrel_cli::number_as_written(text, 0, max, value);
}

bool bad(const char* what, const char* text, const char* expected)
{
    fprintf(stderr, "%s: bad %s '%s': expected %s\n", kTool, what, text, expected);
    return false;
}

bool parse(int argc, char** argv, Options* o, int* status)
{
    int opt;
    long long value;
    *status = 1;
    while ((opt = getopt_long(argc, argv, "hp:rfbd:n:t:", tavrel_cli::kStandardOptions, nullptr)) != -1) {
        switch (opt) {
        case 'p': {
            int count = tavrel_cli::chip_pins(kTool);
            if (!count) return false;
            bool named;
            if (!tavrel_cli::pin_argument(optarg, count - 1, &value, &named)) {
                char expected[80];
                snprintf(expected, sizeof expected, "a number from 0 to %d, or a line's name as GPIO17",
                         count - 1);
                if (named && errno != ENOENT)
                    snprintf(expected, sizeof expected, "a line's name, but the chip cannot be asked: %s",
                             strerror(errno));
                return bad("pin", optarg, expected);
            }
            o->pins |= uint64_t{1} << value;
            break;
        }
        case 'r': o->edges = TAVREL_EDGE_RISING; break;
        case 'f': o->edges = TAVREL_EDGE_FALLING; break;
        case 'b': o->edges = TAVREL_EDGE_BOTH; break;
        case 'd':
            if (!parse_number(optarg, UINT32_MAX, &value))
                return bad("debounce", optarg, "microseconds from 0 to 4294967295");
            o->debounce_us = static_cast<uint32_t>(value);
            break;
        case 'n':
            if (!parse_number(optarg, INT32_MAX, &o->count) || o->count == 0)
                return bad("count", optarg, "a number from 1 to 2147483647");
            break;
        case 't':
            if (!parse_number(optarg, INT32_MAX, &o->timeout_ms))
                return bad("timeout", optarg, "milliseconds from 0 to 2147483647");
            break;
        case 'h':
            fputs(kUsage, stdout);
            *status = tavrel_cli::report_written(kTool);
            return false;
        case 'V': *status = tavrel_cli::print_version(kTool); return false;
        default: fputs(kUsage, stderr); return false;
        }
    }
    if (!o->pins || optind < argc) {
        fputs(kUsage, stderr);
        return false;
    }
    return true;
}

// Nanoseconds: a deadline kept in whole milliseconds could end a wait up
// to a millisecond before its time.
int64_t monotonic_ns()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

const char* open_hint(int err)
{
    switch (err) {
    case ENOENT: return " (no GPIO character device of a BCM2835-family chip)";
    case EBUSY: return " (another program holds one of the pins)";
    case EACCES: return " (the gpio group may read and write /dev/gpiochip*)";
    default: return "";
    }
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    int status;
    if (!parse(argc, argv, &o, &status)) return status;

    int fd = tavrel_gpio_edge_open(o.pins, o.edges, o.debounce_us);
    if (fd < 0) {
        int err = errno;
        fprintf(stderr, "%s: cannot watch the pins: %s%s\n", kTool, strerror(err), open_hint(err));
        return 1;
    }
    // One deadline for all COUNT events, from the start.
    const int64_t deadline = o.timeout_ms < 0 ? -1 : monotonic_ns() + o.timeout_ms * 1000000;
    tavrel_edge_event events[16];
    long long seen = 0;
    while (seen < o.count) {
        int32_t wait_ms = -1;
        if (deadline >= 0) {
            int64_t left = deadline - monotonic_ns();
            wait_ms = left > 0 ? static_cast<int32_t>((left + 999999) / 1000000) : 0;
        }
        int32_t want = o.count - seen < 16 ? static_cast<int32_t>(o.count - seen) : 16;
        int n = tavrel_gpio_edge_read(fd, events, want, wait_ms);
        if (n < 0) {
            fprintf(stderr, "%s: cannot read the events: %s\n", kTool, strerror(errno));
            return 1;
        }
        // The wait is rounded up to whole milliseconds; should it still
        // end early, the rest is waited for.
        if (n == 0 && (deadline < 0 || monotonic_ns() >= deadline)) break;
        for (int i = 0; i < n; ++i) {
            const tavrel_edge_event& e = events[i];
            printf("%d %s %llu.%09llu\n", e.pin, e.edge == TAVREL_EDGE_RISING ? "rising" : "falling",
                   static_cast<unsigned long long>(e.timestamp_ns / 1000000000u),
                   static_cast<unsigned long long>(e.timestamp_ns % 1000000000u));
        }
        // Line by line, for a script reading as the events come.
        if (tavrel_cli::report_written(kTool) != 0) return 1;
        seen += n;
    }
    tavrel_gpio_edge_close(fd);
    return seen == o.count ? 0 : kTimedOut;
}
