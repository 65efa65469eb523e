// SPDX-License-Identifier: MIT
// Descriptor I/O: a write that completes, and an exact-length timed read.
#include <errno.h>
#include <limits.h>
#include <poll.h>
#include <stdint.h>
#include <time.h>
#include <unistd.h>

#include "access.h"
#include "tavrel.h"

namespace tavrel {

// Nanoseconds: whole milliseconds would count a call that straddles a
// millisecond boundary as a millisecond older than it is.
int64_t monotonic_ns()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int remaining_ms(int64_t deadline)
{
    int64_t left = deadline - monotonic_ns();
    return left > 0 ? static_cast<int>((left + 999999) / 1000000) : 0;
}

int fail(int err)
{
    errno = err;
    return -1;
}

}  // namespace tavrel

using namespace tavrel;

extern "C" {

int tavrel_write_exact(int fd, const void* data, size_t len)
{
    const char* p = static_cast<const char*>(data);
    size_t written = 0;
    while (written < len) {
        // A count above SSIZE_MAX fails with EINVAL on 32-bit Linux.
        size_t chunk = len - written < size_t(SSIZE_MAX) ? len - written : size_t(SSIZE_MAX);
        ssize_t n = write(fd, p + written, chunk);
        if (n > 0) {
            written += static_cast<size_t>(n);
        } else if (n == 0) {
            return fail(EIO);  // no progress: retrying would spin for ever
        } else if (errno != EINTR) {
            return -1;
        }
    }
    return 0;
}

int tavrel_read_with_timeout(int fd, void* buf, size_t len, int timeout_ms)
{
    if (len > static_cast<size_t>(INT_MAX)) return fail(EINVAL);
    if (len > 0 && fd < 0) return fail(EBADF);  // poll would skip it and time out
    char* p = static_cast<char*>(buf);
    if (len > 0 && timeout_ms <= 0) return -1;
    // Monotonic, so a clock change cannot stretch or cut the limit, and
    // poll, which has no descriptor-number limit.
    const int64_t deadline = monotonic_ns() + int64_t{timeout_ms} * 1000000;
    size_t got = 0;
    while (got < len) {
        // Once the limit is used up, one last poll that does not wait:
        // data already there is still read.
        pollfd pfd = {fd, POLLIN, 0};
        int ready = poll(&pfd, 1, remaining_ms(deadline));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (ready == 0) return -1;
        if (pfd.revents & POLLNVAL) return fail(EBADF);
        ssize_t n = read(fd, p + got, len - got);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return -1;
        }
        if (n == 0) return -1;
        got += static_cast<size_t>(n);
    }
    return static_cast<int>(got);
}

}  // extern "C"
