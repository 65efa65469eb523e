// SPDX-License-Identifier: MIT
#include "support/io_faults.h"

#include <dlfcn.h>
#include <errno.h>
#include <time.h>
#include <unistd.h>

namespace tavrel_test::io_faults {

std::atomic<int> eagain_fd{kNone};
std::atomic<int> eagain_count{0};
std::atomic<int> stalled_fd{kNone};
std::atomic<int> counted_fd{kNone};
std::atomic<size_t> counted_bytes{0};
std::atomic<size_t> counted_calls{0};
std::atomic<size_t> counted_eintr{0};
std::atomic<long> clock_step_ns{0};
std::atomic<size_t> largest_read{0};
std::atomic<size_t> read_calls{0};

void reset()
{
    eagain_fd = kNone;
    eagain_count = 0;
    stalled_fd = kNone;
    counted_fd = kNone;
    counted_bytes = 0;
    counted_calls = 0;
    counted_eintr = 0;
    clock_step_ns = 0;
    largest_read = 0;
    read_calls = 0;
}

}  // namespace tavrel_test::io_faults

using namespace tavrel_test::io_faults;

extern "C" ssize_t read(int fd, void* buf, size_t n)
{
    using Fn = ssize_t (*)(int, void*, size_t);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "read"));
    if (fd == eagain_fd.load() && eagain_count.fetch_sub(1) > 0) {
        errno = EAGAIN;
        return -1;
    }
    if (fd == counted_fd.load()) {
        ++read_calls;
        if (n > largest_read.load()) largest_read = n;
    }
    return real(fd, buf, n);
}

extern "C" int clock_gettime(clockid_t clock, timespec* ts)
{
    using Fn = int (*)(clockid_t, timespec*);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "clock_gettime"));
    static std::atomic<long> skew{0};
    int rc = real(clock, ts);
    if (long step = clock_step_ns.load(); step && clock == CLOCK_MONOTONIC && rc == 0) {
        long ns = ts->tv_nsec + (skew += step);
        ts->tv_sec += ns / 1000000000;
        ts->tv_nsec = ns % 1000000000;
    }
    return rc;
}

extern "C" ssize_t write(int fd, const void* buf, size_t n)
{
    using Fn = ssize_t (*)(int, const void*, size_t);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "write"));
    if (fd == stalled_fd.load() && n > 0) return 0;
    ssize_t r = real(fd, buf, n);
    if (fd == counted_fd.load()) {
        if (r > 0) counted_bytes += static_cast<size_t>(r);
        if (r > 0) ++counted_calls;
        if (r < 0 && errno == EINTR) ++counted_eintr;
    }
    return r;
}
