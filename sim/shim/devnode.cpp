// SPDX-License-Identifier: MIT
// The character device's node and sysfs entries, where libraries look for
// them: stat and statx showing a character device, access, realpath, a
// listing of /dev (scandir, readdir), no extended attributes, and
// /sys/bus/gpio/devices/gpiochip0's files, synthesized.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>

#include "chardev/cdev.h"
#include "shim/shim.h"

namespace tavrel_sim::shim {

namespace {

constexpr char kSysfs[] = "/sys/bus/gpio/devices/gpiochip0";

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

}  // namespace tavrel_sim::shim

using namespace tavrel_sim;
using namespace tavrel_sim::shim;

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

SHIM_API int statx(int dirfd, const char* path, int flags, unsigned mask, struct statx* st)
{
    using Fn = int (*)(int, const char*, int, unsigned, struct statx*);
    static Fn real = next<Fn>("statx");
    if (!is_node(path)) return real(dirfd, path, flags, mask, st);
    memset(st, 0, sizeof *st);
    st->stx_mask = STATX_BASIC_STATS;
    st->stx_mode = S_IFCHR | 0660;
    st->stx_rdev_major = cdev::kMajor;
    st->stx_rdev_minor = cdev::kMinor;
    st->stx_uid = getuid();
    st->stx_gid = getgid();
    st->stx_nlink = 1;
    st->stx_blksize = 4096;
    st->stx_ino = 1;
    st->stx_dev_minor = 5;
    return 0;
}

// The node has no extended attributes (ls asks, for ACLs).
#define TAVREL_SIM_GETXATTR(name)                                                       \
    SHIM_API ssize_t name(const char* path, const char* attr, void* value, size_t size) \
    {                                                                                   \
        using Fn = ssize_t (*)(const char*, const char*, void*, size_t);                \
        static Fn real = next<Fn>(#name);                                               \
        if (!is_node(path)) return real(path, attr, value, size);                       \
        errno = ENODATA;                                                                \
        return -1;                                                                      \
    }
TAVREL_SIM_GETXATTR(getxattr)
TAVREL_SIM_GETXATTR(lgetxattr)

#define TAVREL_SIM_LISTXATTR(name)                                   \
    SHIM_API ssize_t name(const char* path, char* list, size_t size) \
    {                                                                \
        using Fn = ssize_t (*)(const char*, char*, size_t);          \
        static Fn real = next<Fn>(#name);                            \
        return is_node(path) ? 0 : real(path, list, size);           \
    }
TAVREL_SIM_LISTXATTR(listxattr)
TAVREL_SIM_LISTXATTR(llistxattr)

// The node, and the subsystem link of its /sys/dev/char entry, which
// libgpiod 2 resolves to tell a GPIO chip from other character devices.
SHIM_API char* realpath(const char* path, char* resolved)
{
    using Fn = char* (*)(const char*, char*);
    static Fn real = next<Fn>("realpath");
    char subsystem[48];
    snprintf(subsystem, sizeof subsystem, "/sys/dev/char/%u:%u/subsystem", cdev::kMajor, cdev::kMinor);
    const char* answer = is_node(path)                          ? path
                         : path && strcmp(path, subsystem) == 0 ? "/sys/bus/gpio"
                                                                : nullptr;
    if (!answer) return real(path, resolved);
    if (!resolved) return strdup(answer);
    return strcpy(resolved, answer);
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

// A /dev opened with opendir lists the node last, once.
namespace {
struct DevDir {
    std::atomic<DIR*> dir{nullptr};
    std::atomic<bool> listed{false};
    // What readdir returns for the node: valid, as readdir's are, until
    // the next call on the same stream.
    union {
        struct dirent entry;
        struct dirent64 entry64;
    };
};
DevDir dev_dirs[8];

DevDir* dev_dir(DIR* dir)
{
    for (DevDir& d : dev_dirs)
        if (dir && d.dir.load() == dir) return &d;
    return nullptr;
}

struct dirent* storage(DevDir* d, struct dirent*)
{
    return &d->entry;
}
struct dirent64* storage(DevDir* d, struct dirent64*)
{
    return &d->entry64;
}

template <typename Entry>
Entry* node_at_end(DIR* dir, Entry* real_entry)
{
    DevDir* d = dev_dir(dir);
    if (!d) return real_entry;
    if (real_entry) {
        if (strcmp(real_entry->d_name, cdev::kName) == 0) d->listed.store(true);
        return real_entry;
    }
    if (d->listed.exchange(true)) return nullptr;
    Entry* entry = storage(d, real_entry);
    memset(entry, 0, sizeof *entry);
    entry->d_ino = 1;
    entry->d_type = DT_CHR;
    entry->d_reclen = sizeof *entry;
    snprintf(entry->d_name, sizeof entry->d_name, "%s", cdev::kName);
    return entry;
}
}  // namespace

SHIM_API DIR* opendir(const char* path)
{
    using Fn = DIR* (*)(const char*);
    static Fn real = next<Fn>("opendir");
    DIR* dir = real(path);
    if (dir && is_dev_dir(path))
        for (DevDir& d : dev_dirs) {
            DIR* none = nullptr;
            if (d.dir.compare_exchange_strong(none, dir)) {
                d.listed.store(false);
                break;
            }
        }
    return dir;
}

SHIM_API struct dirent* readdir(DIR* dir)
{
    using Fn = struct dirent* (*)(DIR*);
    static Fn real = next<Fn>("readdir");
    return node_at_end(dir, real(dir));
}

SHIM_API struct dirent64* readdir64(DIR* dir)
{
    using Fn = struct dirent64* (*)(DIR*);
    static Fn real = next<Fn>("readdir64");
    return node_at_end(dir, real(dir));
}

SHIM_API void rewinddir(DIR* dir)
{
    using Fn = void (*)(DIR*);
    static Fn real = next<Fn>("rewinddir");
    if (DevDir* d = dev_dir(dir)) d->listed.store(false);
    real(dir);
}

SHIM_API int closedir(DIR* dir)
{
    using Fn = int (*)(DIR*);
    static Fn real = next<Fn>("closedir");
    if (DevDir* d = dev_dir(dir)) d->dir.store(nullptr);
    return real(dir);
}

// getdents64, as a library that reads /dev without allocating lists it:
// the node comes once, after the real entries, unless they hold it.
namespace {
std::atomic<int> dev_listings[8] = {-1, -1, -1, -1, -1, -1, -1, -1};

bool is_dev_fd(int fd)
{
    struct stat dir, dev;
    return fstat(fd, &dir) == 0 && S_ISDIR(dir.st_mode) && stat("/dev", &dev) == 0 &&
           dir.st_dev == dev.st_dev && dir.st_ino == dev.st_ino;
}

// Marks fd's listing as holding the node; false when it already did.
bool mark_listed(int fd)
{
    for (auto& slot : dev_listings)
        if (slot.load() == fd) return false;
    for (auto& slot : dev_listings) {
        int none = -1;
        if (slot.compare_exchange_strong(none, fd)) return true;
    }
    return false;
}

void unmark_listed(int fd)
{
    for (auto& slot : dev_listings) {
        int expected = fd;
        slot.compare_exchange_strong(expected, -1);
    }
}

bool holds_node(const char* buf, ssize_t n)
{
    for (ssize_t off = 0; off < n;) {
        const auto* d = reinterpret_cast<const struct dirent64*>(buf + off);
        if (strcmp(d->d_name, cdev::kName) == 0) return true;
        off += d->d_reclen;
    }
    return false;
}
}  // namespace

SHIM_API ssize_t getdents64(int fd, void* buf, size_t size)
{
    using Fn = ssize_t (*)(int, void*, size_t);
    static Fn real = next<Fn>("getdents64");
    if (!is_dev_fd(fd)) return real(fd, buf, size);
    if (lseek(fd, 0, SEEK_CUR) == 0) unmark_listed(fd);  // a listing from its start
    ssize_t n = real(fd, buf, size);
    if (n > 0 && holds_node(static_cast<char*>(buf), n)) mark_listed(fd);
    if (n != 0) return n;
    if (!mark_listed(fd)) {
        unmark_listed(fd);
        return 0;
    }
    auto* entry = static_cast<struct dirent64*>(buf);
    size_t reclen = (offsetof(struct dirent64, d_name) + sizeof cdev::kName + 7) & ~size_t{7};
    if (size < reclen) {
        unmark_listed(fd);
        errno = EINVAL;  // the kernel's answer to a buffer too small for an entry
        return -1;
    }
    memset(entry, 0, reclen);
    entry->d_ino = 1;
    entry->d_off = INT64_MAX;
    entry->d_reclen = static_cast<unsigned short>(reclen);
    entry->d_type = DT_CHR;
    memcpy(entry->d_name, cdev::kName, sizeof cdev::kName);
    return static_cast<ssize_t>(reclen);
}
