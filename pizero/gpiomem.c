/* SPDX-License-Identifier: MIT */
/* Test-only stand-in for /dev/gpiomem, preloaded on the virtual boards:
 * Debian's kernels have no gpiomem driver, so "/dev/gpiomem" opens
 * /dev/mem and its mapping at offset 0 is the GPIO block's physical page,
 * as the driver gives it. Raw system calls throughout: it stands in for
 * the C library's own open and mmap, and must not call back into them. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#define API __attribute__((visibility("default")))

static const unsigned long kGpioPage = TAVREL_GPIO_PHYS >> 12;
static int gpiomem_fd = -1;

static int open_as(int dirfd, const char* path, int flags, mode_t mode)
{
    if (path && strcmp(path, "/dev/gpiomem") == 0) {
        int fd = (int)syscall(SYS_openat, AT_FDCWD, "/dev/mem", (flags & ~O_ACCMODE) | O_RDWR | O_SYNC, 0);
        if (fd >= 0) gpiomem_fd = fd;
        return fd;
    }
    return (int)syscall(SYS_openat, dirfd, path, flags, mode);
}

static mode_t mode_of(int flags, va_list ap)
{
    return (flags & (O_CREAT | O_TMPFILE)) ? (mode_t)va_arg(ap, int) : 0;
}

#define OPEN(name)                                   \
    API int name(const char* path, int flags, ...)   \
    {                                                \
        va_list ap;                                  \
        va_start(ap, flags);                         \
        mode_t mode = mode_of(flags, ap);            \
        va_end(ap);                                  \
        return open_as(AT_FDCWD, path, flags, mode); \
    }
#define OPENAT(name)                                          \
    API int name(int dirfd, const char* path, int flags, ...) \
    {                                                         \
        va_list ap;                                           \
        va_start(ap, flags);                                  \
        mode_t mode = mode_of(flags, ap);                     \
        va_end(ap);                                           \
        return open_as(dirfd, path, flags, mode);             \
    }
OPEN(open)
OPEN(open64)
OPENAT(openat)
OPENAT(openat64)

static void* map(void* addr, size_t len, int prot, int flags, int fd, uint64_t off)
{
    unsigned long page = (unsigned long)(off >> 12);
    if (fd >= 0 && fd == gpiomem_fd && off == 0) page = kGpioPage;
#ifdef SYS_mmap2 /* 32-bit ARM: the offset in pages */
    return (void*)syscall(SYS_mmap2, addr, len, prot, flags, fd, page);
#else
    return (void*)syscall(SYS_mmap, addr, len, prot, flags, fd, (off_t)page << 12);
#endif
}

API void* mmap(void* addr, size_t len, int prot, int flags, int fd, off_t off)
{
    return map(addr, len, prot, flags, fd, (uint64_t)off);
}

API void* mmap64(void* addr, size_t len, int prot, int flags, int fd, int64_t off)
{
    return map(addr, len, prot, flags, fd, (uint64_t)off);
}
