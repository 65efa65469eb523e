// SPDX-License-Identifier: MIT
// The board's GPIO character device as programs use it: the ioctl, read
// and close of its descriptors go to chardev/; devnode.cpp shows the node
// where libraries look for it.
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "chardev/cdev.h"
#include "chardev/files.h"
#include "shim/shim.h"

namespace tavrel_sim::shim {

namespace {

long device_ioctl(int fd, unsigned long request, void* arg, bool* handled)
{
    // The kernel reads the request as 32 bits: a caller's int constant,
    // sign-extended on its way into the unsigned long (libgpiod 2 does
    // that with GPIO_V2_GET_LINEINFO_IOCTL), is the same request.
    unsigned long cmd = static_cast<uint32_t>(request);
    *handled = true;
    if (cdev::is_chip(fd)) return cdev::chip_ioctl(model, trace_sink(), fd, cmd, arg);
    if (cdev::is_request(fd)) return cdev::request_ioctl(model, trace_sink(), fd, cmd, arg);
    *handled = false;
    return 0;
}

int result(long r)
{
    if (r >= 0) return static_cast<int>(r);
    errno = static_cast<int>(-r);
    return -1;
}

}  // namespace

// Asks the tables first: this runs from the shim's start too, before the
// model is made.
uint32_t device_closing(int fd)
{
    return cdev::any_open() ? cdev::closing(fd) : 0;
}

void device_closed(uint32_t request)
{
    if (request && model.is_open()) cdev::closed(model, trace_sink(), request);
}

void device_closing_range(unsigned first, unsigned last, uint32_t* requests, unsigned* n)
{
    *n = cdev::any_open() ? cdev::closing_range(first, last, requests, kMaxCopies) : 0;
}

void device_copied(int fd, int copy)
{
    if (copy >= 0 && cdev::any_open()) cdev::add_copy(fd, copy);
}

// Every request this process made is released at exit, as the kernel's
// closing of its descriptors does.
__attribute__((destructor)) void release_requests()
{
    if (cdev::any_open() && model.is_open()) cdev::release_all(model, trace_sink());
}

}  // namespace tavrel_sim::shim

using namespace tavrel_sim;
using namespace tavrel_sim::shim;

using Ioctl = int (*)(int, unsigned long, ...);
using Read = ssize_t (*)(int, void*, size_t);

#define TAVREL_SIM_IOCTL(name)                                                \
    SHIM_API int name(int fd, unsigned long cmd, ...)                         \
    {                                                                         \
        static Ioctl real = next<Ioctl>(#name);                               \
        va_list ap;                                                           \
        va_start(ap, cmd);                                                    \
        void* arg = va_arg(ap, void*);                                        \
        va_end(ap);                                                           \
        bool handled;                                                         \
        long r = device_ioctl(fd, cmd, arg, &handled);                        \
        if (handled) return result(r);                                        \
        if (!real) return static_cast<int>(syscall(SYS_ioctl, fd, cmd, arg)); \
        return real(fd, cmd, arg);                                            \
    }

TAVREL_SIM_IOCTL(ioctl)
// 32-bit programs built with 64-bit time call this one.
TAVREL_SIM_IOCTL(__ioctl_time64)

SHIM_API ssize_t read(int fd, void* buf, size_t count)
{
    static Read real = next<Read>("read");
    bool handled;
    ssize_t r = cdev::request_read(model, fd, buf, count, &handled);
    if (!handled) r = cdev::watch_read(fd, buf, count, &handled);
    if (!handled) return real(fd, buf, count);
    if (r >= 0) return r;
    errno = static_cast<int>(-r);
    return -1;
}

SHIM_API ssize_t __read_chk(int fd, void* buf, size_t count, size_t size)
{
    (void)size;
    return read(fd, buf, count);
}
