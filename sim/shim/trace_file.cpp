// SPDX-License-Identifier: MIT
// The trace file, and its descriptor kept from the program.
#include <errno.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "shim/shim.h"

namespace tavrel_sim::shim {

namespace {

// The trace file. Its descriptor sits high, out of the way of the
// program's own, and the program cannot close or replace it through the
// C library (see close and dup2 below). It is checked before every record
// all the same: when a raw system call closed it or put another file
// there, it is opened again by path, and no record lands in a file of the
// program's.
class TraceFile : public TraceSink {
public:
    // Opens the trace named in the environment, if it is not open yet.
    bool open()
    {
        char buf[4096];
        const char* path = env_path(kTraceEnv, buf, sizeof buf);
        if (!path && getenv(kTraceEnv) && *getenv(kTraceEnv)) {
            say("tavrel-sim: the trace path in %s is too long\n", kTraceEnv);
            return false;
        }
        if (!path) path = "";
        if (strcmp(path, path_) == 0 && (fd_.load() >= 0 || !*path)) return true;
        drop();
        snprintf(path_, sizeof path_, "%s", path);
        if (!*path_) return true;
        if (!reopen()) {
            say("tavrel-sim: cannot open the trace %s: %s\n", path_, strerror(errno));
            return false;
        }
        return true;
    }

    bool append(const TraceRecord& record) override
    {
        if (!*path_) return true;  // no trace asked for
        int fd = fd_.load();
        FileId now;
        if (fd < 0 || !identify(fd, &now) || now.dev != id_.dev || now.ino != id_.ino) {
            fd_.store(-1);  // not ours any more: never written to
            if (!reopen()) return false;
            fd = fd_.load();
        }
        // O_APPEND: one write per record keeps records whole across processes.
        return ::write(fd, &record, sizeof record) == static_cast<ssize_t>(sizeof record);
    }

    bool is(int fd) const { return fd >= 0 && fd == fd_.load(); }
    bool asked() const { return path_[0] != '\0'; }
    int fd() const { return fd_.load(); }

    // Moves the descriptor away from `fd`, which the program is about to
    // reuse; false if it cannot move.
    bool step_aside(int fd)
    {
        if (!is(fd)) return true;
        int moved = fcntl(fd, F_DUPFD_CLOEXEC, fd + 1);
        if (moved < 0) return false;
        fd_.store(moved);
        syscall(SYS_close, fd);
        return true;
    }

private:
    bool reopen()
    {
        if (!*path_) return false;
        int fd = static_cast<int>(syscall(SYS_openat, AT_FDCWD, path_,
                                          O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd < 0) return false;
        int high = fcntl(fd, F_DUPFD_CLOEXEC, high_floor());
        if (high >= 0) {
            syscall(SYS_close, fd);
            fd = high;
        }
        if (!identify(fd, &id_) || !id_.regular) {
            syscall(SYS_close, fd);
            errno = EINVAL;
            return false;
        }
        fd_.store(fd);
        return true;
    }

    void drop()
    {
        int fd = fd_.exchange(-1);
        if (fd >= 0) syscall(SYS_close, fd);
    }

    // Near the top of the descriptor table, where programs that take the
    // lowest free number do not reach.
    static int high_floor()
    {
        long max = sysconf(_SC_OPEN_MAX);
        if (max <= 64) return 0;
        return static_cast<int>((max > 1024 ? 1024 : max) - 32);
    }

    std::atomic<int> fd_{-1};
    FileId id_;
    char path_[4096] = {};
};

TraceFile trace;

int close_range_around(unsigned first, unsigned last, int flags);

// close_range over [first, last], around the trace's descriptor; the
// device's descriptors it closes are closed as close closes them.
int close_around(unsigned first, unsigned last, int flags)
{
    uint32_t requests[kMaxCopies];
    unsigned n = 0;
    if (!(flags & CLOSE_RANGE_CLOEXEC)) {
        device_closing_range(first, last, requests, &n);
        device_fds_closed(first, last);
    }
    int rc = close_range_around(first, last, flags);
    int err = errno;
    for (unsigned i = 0; i < n; ++i) device_closed(requests[i]);
    errno = err;
    return rc;
}

int close_range_around(unsigned first, unsigned last, int flags)
{
    int t = trace_fd();
    if (t < 0 || static_cast<unsigned>(t) < first || static_cast<unsigned>(t) > last)
        return static_cast<int>(syscall(SYS_close_range, first, last, flags));
    unsigned fd = static_cast<unsigned>(t);
    int rc = 0;
    if (fd > first) rc = static_cast<int>(syscall(SYS_close_range, first, fd - 1, flags));
    if (rc == 0 && fd < last) rc = static_cast<int>(syscall(SYS_close_range, fd + 1, last, flags));
    return rc;
}

}  // namespace

TraceSink* trace_sink()
{
    return trace.asked() ? &trace : nullptr;
}

bool open_trace()
{
    return trace.open();
}

bool is_trace_fd(int fd)
{
    return trace.is(fd);
}

int trace_fd()
{
    return trace.fd();
}

bool trace_step_aside(int fd)
{
    return trace.step_aside(fd);
}

}  // namespace tavrel_sim::shim

using namespace tavrel_sim::shim;

// A program that closes every descriptor it did not open (a daemon's
// start) is told the trace's is closed, and leaves it be; one that puts a
// file at its number gets the number, the trace moving aside first.
SHIM_API int close(int fd)
{
    using Close = int (*)(int);
    static Close real = next<Close>("close");
    if (is_trace_fd(fd)) return 0;
    uint32_t request = device_closing(fd);
    if (fd >= 0) device_fds_closed(static_cast<unsigned>(fd), static_cast<unsigned>(fd));
    int rc = real(fd);
    int err = errno;
    device_closed(request);
    errno = err;
    return rc;
}

SHIM_API int dup(int fd)
{
    using Dup = int (*)(int);
    static Dup real = next<Dup>("dup");
    int copy = real(fd);
    device_copied(fd, copy);
    return copy;
}

// fcntl's copies of a descriptor are the device's too; every other command
// passes through untouched.
#define TAVREL_SIM_FCNTL(name)                                                                   \
    SHIM_API int name(int fd, int cmd, ...)                                                      \
    {                                                                                            \
        using Fcntl = int (*)(int, int, ...);                                                    \
        static Fcntl real = next<Fcntl>(#name);                                                  \
        va_list ap;                                                                              \
        va_start(ap, cmd);                                                                       \
        void* arg = va_arg(ap, void*);                                                           \
        va_end(ap);                                                                              \
        int rc = real ? real(fd, cmd, arg) : static_cast<int>(syscall(SYS_fcntl, fd, cmd, arg)); \
        if (cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC) device_copied(fd, rc);                     \
        return rc;                                                                               \
    }

TAVREL_SIM_FCNTL(fcntl)
TAVREL_SIM_FCNTL(fcntl64)

SHIM_API int dup2(int old_fd, int new_fd)
{
    using Dup2 = int (*)(int, int);
    static Dup2 real = next<Dup2>("dup2");
    if (old_fd != new_fd && !trace_step_aside(new_fd)) {
        errno = EBUSY;
        return -1;
    }
    uint32_t request = 0;
    if (old_fd != new_fd && fcntl(old_fd, F_GETFD) >= 0) request = device_closing(new_fd);
    if (old_fd != new_fd && new_fd >= 0)
        device_fds_closed(static_cast<unsigned>(new_fd), static_cast<unsigned>(new_fd));
    int rc = real(old_fd, new_fd);
    int err = errno;
    device_closed(request);
    if (old_fd != new_fd) device_copied(old_fd, rc);
    errno = err;
    return rc;
}

SHIM_API int dup3(int old_fd, int new_fd, int flags)
{
    using Dup3 = int (*)(int, int, int);
    static Dup3 real = next<Dup3>("dup3");
    if (old_fd != new_fd && !trace_step_aside(new_fd)) {
        errno = EBUSY;
        return -1;
    }
    uint32_t request = 0;
    if (old_fd != new_fd && fcntl(old_fd, F_GETFD) >= 0) request = device_closing(new_fd);
    if (old_fd != new_fd && new_fd >= 0)
        device_fds_closed(static_cast<unsigned>(new_fd), static_cast<unsigned>(new_fd));
    int rc = real(old_fd, new_fd, flags);
    int err = errno;
    device_closed(request);
    if (old_fd != new_fd) device_copied(old_fd, rc);
    errno = err;
    return rc;
}

SHIM_API int close_range(unsigned first, unsigned last, int flags)
{
    if (first > last) {
        errno = EINVAL;
        return -1;
    }
    return close_around(first, last, flags);
}

SHIM_API void closefrom(int lowfd)
{
    if (lowfd < 0) lowfd = 0;
    if (close_around(static_cast<unsigned>(lowfd), ~0u, 0) == 0) return;
    // No close_range in this kernel: one by one, as the C library does.
    long max = sysconf(_SC_OPEN_MAX);
    for (long fd = lowfd; fd < max; ++fd) close(static_cast<int>(fd));
}
