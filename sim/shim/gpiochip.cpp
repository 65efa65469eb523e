// SPDX-License-Identifier: MIT
// The board's GPIO character device as programs find and use it: the
// ioctl, read and close of its descriptors go to chardev/, and the device
// node and its sysfs entries show where libraries look for them (stat,
// realpath, a listing of /dev, /sys/bus/gpio/devices/gpiochip0).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "chardev/cdev.h"
#include "shim/shim.h"

namespace tavrel_sim::shim {

namespace {

constexpr char kSysfs[] = "/sys/bus/gpio/devices/gpiochip0";

long device_ioctl(int fd, unsigned long cmd, void* arg, bool* handled)
{
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

// What the kernel's sysfs shows of the chip, as files' contents.
const char* sysfs_text(const char* path)
{
    size_t n = strlen(kSysfs);
    if (strncmp(path, kSysfs, n) != 0) return nullptr;
    if (strcmp(path + n, "/dev") == 0) return "254:0\n";
    if (strcmp(path + n, "/uevent") == 0) return "MAJOR=254\nMINOR=0\nDEVNAME=gpiochip0\nOF_NAME=gpio\n";
    return nullptr;
}

template <typename Stat>
void fill_stat(Stat* st)
{
    memset(st, 0, sizeof *st);
    st->st_mode = S_IFCHR | 0660;
    st->st_rdev = makedev(cdev::kMajor, cdev::kMinor);
    st->st_uid = getuid();
    st->st_gid = getgid();
    st->st_nlink = 1;
    st->st_blksize = 4096;
    st->st_ino = 1;
    st->st_dev = makedev(0, 5);  // devtmpfs's
}

bool is_node(const char* path)
{
    return path && strcmp(path, cdev::kPath) == 0;
}

bool is_dev_dir(const char* path)
{
    return path && (strcmp(path, "/dev") == 0 || strcmp(path, "/dev/") == 0);
}

}  // namespace

// A synthesized sysfs file, opened as a memfd holding its text; -2 for a
// path that is not one.
int open_sysfs(const char* path, int flags)
{
    const char* text = path ? sysfs_text(path) : nullptr;
    if (!text) return -2;
    if ((flags & O_ACCMODE) != O_RDONLY) {
        errno = EACCES;
        return -1;
    }
    int fd = static_cast<int>(
        syscall(SYS_memfd_create, "tavrel-sim-sysfs", (flags & O_CLOEXEC) ? MFD_CLOEXEC : 0));
    if (fd < 0) return -1;
    size_t len = strlen(text);
    if (syscall(SYS_write, fd, text, len) != static_cast<long>(len) || lseek(fd, 0, SEEK_SET) != 0) {
        syscall(SYS_close, fd);
        errno = EIO;
        return -1;
    }
    return fd;
}

// Asks the tables first: this runs from the shim's start too, before the
// model is made.
void device_closing(int fd)
{
    if ((cdev::is_chip(fd) || cdev::is_request(fd)) && model.is_open())
        cdev::closing(model, trace_sink(), fd);
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
    ssize_t r = cdev::request_read(fd, buf, count, &handled);
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

// ---- the device node, where libraries look for it --------------------------

#define TAVREL_SIM_STAT(name, type)                      \
    SHIM_API int name(const char* path, struct type* st) \
    {                                                    \
        using Fn = int (*)(const char*, struct type*);   \
        static Fn real = next<Fn>(#name);                \
        if (!is_node(path)) return real(path, st);       \
        fill_stat(st);                                   \
        return 0;                                        \
    }
TAVREL_SIM_STAT(stat, stat)
TAVREL_SIM_STAT(lstat, stat)
TAVREL_SIM_STAT(stat64, stat64)
TAVREL_SIM_STAT(lstat64, stat64)

#define TAVREL_SIM_FSTATAT(name, type)                                         \
    SHIM_API int name(int dirfd, const char* path, struct type* st, int flags) \
    {                                                                          \
        using Fn = int (*)(int, const char*, struct type*, int);               \
        static Fn real = next<Fn>(#name);                                      \
        if (!is_node(path)) return real(dirfd, path, st, flags);               \
        fill_stat(st);                                                         \
        return 0;                                                              \
    }
TAVREL_SIM_FSTATAT(fstatat, stat)
TAVREL_SIM_FSTATAT(fstatat64, stat64)

#define TAVREL_SIM_FSTAT(name, type)                 \
    SHIM_API int name(int fd, struct type* st)       \
    {                                                \
        using Fn = int (*)(int, struct type*);       \
        static Fn real = next<Fn>(#name);            \
        if (!cdev::is_chip(fd)) return real(fd, st); \
        fill_stat(st);                               \
        return 0;                                    \
    }
TAVREL_SIM_FSTAT(fstat, stat)
TAVREL_SIM_FSTAT(fstat64, stat64)

// The node and the sysfs files may be read and written, as by a member of
// the gpio group on Raspberry Pi OS; the sysfs files only read.
static int synthesized_access(const char* path, int mode)
{
    if (is_node(path)) return 0;
    if (!path || !sysfs_text(path)) return 1;
    if (mode & (W_OK | X_OK)) {
        errno = EACCES;
        return -1;
    }
    return 0;
}

SHIM_API int access(const char* path, int mode)
{
    using Fn = int (*)(const char*, int);
    static Fn real = next<Fn>("access");
    int r = synthesized_access(path, mode);
    return r <= 0 ? r : real(path, mode);
}

SHIM_API int faccessat(int dirfd, const char* path, int mode, int flags)
{
    using Fn = int (*)(int, const char*, int, int);
    static Fn real = next<Fn>("faccessat");
    int r = synthesized_access(path, mode);
    return r <= 0 ? r : real(dirfd, path, mode, flags);
}

SHIM_API char* realpath(const char* path, char* resolved)
{
    using Fn = char* (*)(const char*, char*);
    static Fn real = next<Fn>("realpath");
    if (!is_node(path)) return real(path, resolved);
    if (!resolved) return strdup(path);
    return strcpy(resolved, path);
}

// A listing of /dev holds the node: scandir, as libgpiod's chip iterator
// lists it, and readdir.
using Filter = int (*)(const struct dirent*);
using Compare = int (*)(const struct dirent**, const struct dirent**);

static struct dirent* node_entry()
{
    auto* e = static_cast<struct dirent*>(calloc(1, sizeof(struct dirent)));
    if (!e) return nullptr;
    e->d_ino = 1;
    e->d_type = DT_CHR;
    e->d_reclen = sizeof *e;
    snprintf(e->d_name, sizeof e->d_name, "%s", cdev::kName);
    return e;
}

SHIM_API int scandir(const char* dir, struct dirent*** list, Filter filter, Compare compare)
{
    using Fn = int (*)(const char*, struct dirent***, Filter, Compare);
    static Fn real = next<Fn>("scandir");
    int n = real(dir, list, filter, compare);
    if (n < 0 || !is_dev_dir(dir)) return n;
    for (int i = 0; i < n; ++i)
        if (strcmp((*list)[i]->d_name, cdev::kName) == 0) return n;
    struct dirent* e = node_entry();
    if (!e) return n;
    if (filter && !filter(e)) {
        free(e);
        return n;
    }
    auto* grown = static_cast<struct dirent**>(realloc(*list, (n + 1) * sizeof **list));
    if (!grown) {
        free(e);
        return n;
    }
    grown[n] = e;
    *list = grown;
    if (compare)
        qsort(grown, n + 1, sizeof *grown, reinterpret_cast<int (*)(const void*, const void*)>(compare));
    return n + 1;
}
