// Preloadable shim: redirects the opening of /dev/gpiomem to the simulated
// board file, and of the version file to one the caller chooses.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "board.h"
#include "tavrel_sim.h"

using namespace tavrel_sim;

namespace {

// Flags of the last open of each redirected path, for tests.
int last_device_flags = -1;
int last_version_flags = -1;

// Returns the path to open instead of `path`, or null to open it as is.
const char* redirect(const char* path, char* buf, size_t size)
{
    if (!path) return nullptr;
    if (strcmp(path, kDevicePath) == 0) {
        const char* board = getenv(kBoardEnv);
        if (board && *board) return board;
        default_board_path(buf, size);
        return buf;
    }
    if (strcmp(path, kVersionPath) == 0) {
        const char* version = getenv(kVersionEnv);
        if (version && *version) return version;
    }
    return nullptr;
}

using OpenAt = int (*)(int, const char*, int, ...);

OpenAt real_openat()
{
    static OpenAt fn = reinterpret_cast<OpenAt>(dlsym(RTLD_NEXT, "openat"));
    return fn;
}

int open_board(const char* board, int flags)
{
    int fd = real_openat()(AT_FDCWD, board, flags | O_CREAT, 0600);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < kBoardBytes)
        (void)ftruncate(fd, kBoardBytes);
    return fd;
}

// Shared by every interposed entry. `real` is that entry's own next
// definition, so that untouched paths behave exactly as without the shim.
template <typename Real, typename... Dir>
int intercept(Real real, const char* path, int flags, mode_t mode, Dir... dir)
{
    char buf[256];
    const char* target = redirect(path, buf, sizeof buf);
    if (target && strcmp(path, kDevicePath) == 0) {
        last_device_flags = flags;
        return open_board(target, flags);
    }
    if (target) last_version_flags = flags;
    return real(dir..., target ? target : path, flags, mode);
}

mode_t mode_arg(int flags, va_list ap)
{
    return (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(ap, int)) : 0;
}

template <typename Fn>
Fn next(const char* name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

using Open = int (*)(const char*, int, ...);

}  // namespace

#define TAVREL_SIM_OPEN(name)                                                \
    extern "C" int name(const char* path, int flags, ...)                    \
    {                                                                        \
        static Open real = next<Open>(#name);                                \
        va_list ap;                                                          \
        va_start(ap, flags);                                                 \
        mode_t mode = mode_arg(flags, ap);                                   \
        va_end(ap);                                                          \
        return intercept(real, path, flags, mode);                           \
    }

#define TAVREL_SIM_OPENAT(name)                                              \
    extern "C" int name(int dirfd, const char* path, int flags, ...)         \
    {                                                                        \
        static OpenAt real = next<OpenAt>(#name);                            \
        va_list ap;                                                          \
        va_start(ap, flags);                                                 \
        mode_t mode = mode_arg(flags, ap);                                   \
        va_end(ap);                                                          \
        return intercept(real, path, flags, mode, dirfd);                    \
    }

TAVREL_SIM_OPEN(open)
TAVREL_SIM_OPEN(open64)
TAVREL_SIM_OPENAT(openat)
TAVREL_SIM_OPENAT(openat64)

// Fortified entries take no mode.
extern "C" int __open_2(const char* path, int flags)
{
    return open(path, flags);
}
extern "C" int __open64_2(const char* path, int flags)
{
    return open64(path, flags);
}
extern "C" int __openat_2(int dirfd, const char* path, int flags)
{
    return openat(dirfd, path, flags);
}
extern "C" int __openat64_2(int dirfd, const char* path, int flags)
{
    return openat64(dirfd, path, flags);
}

extern "C" int tavrel_sim_last_open_flags(const char* path)
{
    if (path && strcmp(path, kDevicePath) == 0) return last_device_flags;
    if (path && strcmp(path, kVersionPath) == 0) return last_version_flags;
    return -1;
}
