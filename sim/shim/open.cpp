// SPDX-License-Identifier: MIT
// The device opened as the board file; the version file and the device
// tree redirected.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <new>

#include "chardev/cdev.h"
#include "shim/shim.h"

namespace tavrel_sim::shim {

namespace {

// What the shim has seen, for tests.
int last_device_flags = -1;
int last_version_flags = -1;

// The board the device was last opened as, by identity, so that its
// mapping is recognised whatever descriptor number it has.
struct BoardId {
    FileId file;
    char path[4096] = {};
};
BoardId model_board;

// Makes `model` the board the program's device is, opening it when it is
// not yet. 1 when it is; 0 when the path holds no board, in *path, to be
// opened as it is; -1 with errno when it is refused.
int attach_board(char (&path)[4096])
{
    char why[kMessageBytes];
    if (!env_path(kBoardEnv, path, sizeof path)) {
        if (getenv(kBoardEnv) && *getenv(kBoardEnv)) {
            say("tavrel-sim: the board path in %s is too long\n", kBoardEnv);
            errno = ENAMETOOLONG;
            return -1;
        }
        if (!default_board_path(path, sizeof path, why, sizeof why)) {
            say("tavrel-sim: no safe place for the default board: %s\n", why);
            errno = EACCES;
            return -1;
        }
    }
    if (model.is_open() && strcmp(model_board.path, path) == 0) return 1;
    if (!model.open(path)) {
        // Nothing there, or a device or FIFO: opened as it is, as the
        // device would be or not be.
        if (model.not_a_board()) return 0;
        int err = errno;
        say("tavrel-sim: cannot use the board %s: %s%s\n", path, model.refusal(),
            model.reset_cures() ? "; run tavrel-sim --reset to make it anew" : "");
        errno = err;
        return -1;
    }
    model_board.file = model.id();
    if (const char* run = getenv(kRunEnv)) model.set_run(static_cast<uint32_t>(strtoul(run, nullptr, 10)));
    snprintf(model_board.path, sizeof model_board.path, "%s", path);
    return 1;
}

// The descriptors this process opened as the device: only a mapping
// through one of them is the block. The board file opened any other way
// (the C test API's own open of it) maps as the file it is.
constexpr int kDeviceFds = 16;
std::atomic<int> device_fds[kDeviceFds];
std::atomic<bool> device_fds_ready{false};

void remember_device_fd(int fd)
{
    if (!device_fds_ready.exchange(true))
        for (auto& d : device_fds) d.store(-1);
    for (auto& d : device_fds) {
        int free_slot = -1;
        if (d.compare_exchange_strong(free_slot, fd)) return;
    }
    // Past the table, a descriptor maps as the file; say so once.
    static std::atomic<bool> told{false};
    if (!told.exchange(true))
        say("tavrel-sim: more descriptors of %s open at once than the simulated board tells apart\n",
            kDevicePath);
}

// Opens the device as the board. The model's view comes first, so that at
// no moment does the shim hold a descriptor beside the program's; then the
// trace, so that a trace that cannot be kept fails the open rather than
// going missing.
int open_board(OpenAt real_openat, int flags, const char* device)
{
    last_device_flags = flags;
    char path[4096];
    int attached = attach_board(path);
    if (attached < 0) return -1;
    if (attached == 0)
        return real_openat(AT_FDCWD, path, (flags & ~(O_CREAT | O_EXCL | O_TRUNC)) | O_NOFOLLOW, 0);
    // A Pi 5 has /dev/gpiomem0, the others /dev/gpiomem; neither has the
    // other's.
    if (strcmp(device, is_rp1(model.soc()) ? kRp1DevicePath : kDevicePath) != 0) {
        errno = ENOENT;
        return -1;
    }
    if (model_mode() && !open_trace()) return -1;
    install_bus_handler();
    int fd = real_openat(AT_FDCWD, path, (flags & ~(O_CREAT | O_EXCL | O_TRUNC)) | O_NOFOLLOW, 0);
    if (fd < 0) return -1;
    FileId id;
    if (!identify(fd, &id) || id.dev != model_board.file.dev || id.ino != model_board.file.ino) {
        close(fd);
        say("tavrel-sim: the board %s was replaced while it was being opened\n", path);
        errno = EACCES;
        return -1;
    }
    remember_device_fd(fd);
    return fd;
}

bool is_device(const char* path)
{
    return path && (strcmp(path, kDevicePath) == 0 || strcmp(path, kRp1DevicePath) == 0);
}

// The rest of `path` after `prefix`, when it names the prefix's directory
// or something in it; else null.
const char* under(const char* path, const char* prefix)
{
    size_t n = strlen(prefix);
    if (strncmp(path, prefix, n) != 0 || (path[n] != '\0' && path[n] != '/')) return nullptr;
    return path + n;
}

// The path to open instead of `path`, `path` itself, or null (with errno)
// for a path that is not there. The version file goes where tavrel-sim
// says; the device tree is the board's: the machine's own, if it has one,
// never shows.
const char* redirect(const char* path, char* buf, size_t size)
{
    if (!path) return path;
    if (strcmp(path, kVersionPath) == 0) {
        const char* target = env_path(kVersionEnv, buf, size);
        return target ? target : path;
    }
    const char* rest = under(path, "/proc/device-tree");
    if (!rest) rest = under(path, "/sys/firmware/devicetree/base");
    if (!rest) return path;
    const char* tree = getenv(kDeviceTreeEnv);
    if (!tree || !*tree) {
        errno = ENOENT;
        return nullptr;
    }
    int n = snprintf(buf, size, "%s%s", tree, rest);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    return buf;
}

// Shared by every interposed open. `real` is that entry's own next
// definition, so that untouched paths behave exactly as without the shim.
template <typename Real, typename... Dir>
int intercept(Real real, const char* path, int flags, mode_t mode, Dir... dir)
{
    if (is_device(path)) return open_board(real_openat(), flags, path);
    if (path && strcmp(path, cdev::kPath) == 0) return open_chip_device(flags);
    int sysfs = open_sysfs(path, flags);
    if (sysfs != -2) return sysfs;
    char buf[4096];
    const char* target = redirect(path, buf, sizeof buf);
    if (!target) return -1;
    if (path && strcmp(path, kVersionPath) == 0) last_version_flags = flags;
    return real(dir..., target, flags, mode);
}

mode_t mode_arg(int flags, va_list ap)
{
    return (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(ap, int)) : 0;
}

}  // namespace

int open_chip_device(int flags)
{
    char path[4096];
    int attached = attach_board(path);
    if (attached == 0) {
        say("tavrel-sim: %s is no board, so it has no %s\n", path, cdev::kPath);
        errno = ENODEV;
    }
    if (attached <= 0) return -1;
    if (model_mode() && !open_trace()) return -1;
    return cdev::open_chip(model, flags);
}

bool is_board(int fd)
{
    if (fd < 0 || model_board.file.ino == 0 || !device_fds_ready.load()) return false;
    bool device = false;
    for (auto& d : device_fds) device |= d.load() == fd;
    FileId id;
    return device && identify(fd, &id) && id.dev == model_board.file.dev && id.ino == model_board.file.ino;
}

void device_fds_closed(unsigned first, unsigned last)
{
    if (!device_fds_ready.load()) return;
    for (auto& d : device_fds) {
        int fd = d.load();
        if (fd >= 0 && static_cast<unsigned>(fd) >= first && static_cast<unsigned>(fd) <= last)
            d.compare_exchange_strong(fd, -1);
    }
}

const char* board_path()
{
    return model_board.path;
}

// Never destroyed: application threads may still touch the block while the
// process runs its exit handlers.
alignas(Board) unsigned char model_storage[sizeof(Board)];
Board& model = *new (model_storage) Board;

}  // namespace tavrel_sim::shim

using namespace tavrel_sim;
using namespace tavrel_sim::shim;

#define TAVREL_SIM_OPEN(name)                           \
    SHIM_API int name(const char* path, int flags, ...) \
    {                                                   \
        static Open real = next<Open>(#name);           \
        va_list ap;                                     \
        va_start(ap, flags);                            \
        mode_t mode = mode_arg(flags, ap);              \
        va_end(ap);                                     \
        return intercept(real, path, flags, mode);      \
    }

#define TAVREL_SIM_OPENAT(name)                                    \
    SHIM_API int name(int dirfd, const char* path, int flags, ...) \
    {                                                              \
        static OpenAt real = next<OpenAt>(#name);                  \
        va_list ap;                                                \
        va_start(ap, flags);                                       \
        mode_t mode = mode_arg(flags, ap);                         \
        va_end(ap);                                                \
        return intercept(real, path, flags, mode, dirfd);          \
    }

TAVREL_SIM_OPEN(open)
TAVREL_SIM_OPEN(open64)
TAVREL_SIM_OPENAT(openat)
TAVREL_SIM_OPENAT(openat64)

// Fortified entries take no mode.
SHIM_API int __open_2(const char* path, int flags)
{
    return open(path, flags);
}
SHIM_API int __open64_2(const char* path, int flags)
{
    return open64(path, flags);
}
SHIM_API int __openat_2(int dirfd, const char* path, int flags)
{
    return openat(dirfd, path, flags);
}
SHIM_API int __openat64_2(int dirfd, const char* path, int flags)
{
    return openat64(dirfd, path, flags);
}

// Through fopen too, which reaches the kernel without the entries above.
using Fopen = FILE* (*)(const char*, const char*);
#define TAVREL_SIM_FOPEN(name)                                \
    SHIM_API FILE* name(const char* path, const char* how)    \
    {                                                         \
        static Fopen real = next<Fopen>(#name);               \
        char buf[4096];                                       \
        const char* target = redirect(path, buf, sizeof buf); \
        return target ? real(target, how) : nullptr;          \
    }

TAVREL_SIM_FOPEN(fopen)
TAVREL_SIM_FOPEN(fopen64)

SHIM_API int tavrel_sim_last_open_flags(const char* path)
{
    if (is_device(path)) return last_device_flags;
    if (path && strcmp(path, kVersionPath) == 0) return last_version_flags;
    return -1;
}
