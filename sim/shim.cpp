// SPDX-License-Identifier: MIT
// Preloadable shim: the simulated GPIO board behind /dev/gpiomem.
//
// The opening of /dev/gpiomem is redirected to the board file. On x86-64
// its mapping is a page that stays inaccessible for good: every access
// faults, and the SIGSEGV handler emulates the instruction against the
// device model, appending the access to the trace. Elsewhere, or with
// TAVREL_SIM_MODE=plain, the file's register page is mapped directly:
// plain storage, no trace.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <new>

#include "board.h"
#include "tavrel_sim.h"
#include "x86_emulate.h"

#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#else
#define VALGRIND_MAKE_MEM_DEFINED(addr, len) ((void)0)
#endif

using namespace tavrel_sim;

// What the shim defines for others to bind to; all else stays inside.
#define SHIM_API extern "C" __attribute__((visibility("default")))

namespace {

// ---- what the shim has seen, for tests ----------------------------------

int last_device_flags = -1;
int last_version_flags = -1;
std::atomic<int> live_blocks{0};

// ---- the board file ------------------------------------------------------

template <typename Fn>
Fn next(const char* name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

using Open = int (*)(const char*, int, ...);
using OpenAt = int (*)(int, const char*, int, ...);
using Mmap = void* (*)(void*, size_t, int, int, int, off_t);
using Munmap = int (*)(void*, size_t);

Mmap real_mmap()
{
    static Mmap fn = next<Mmap>("mmap");
    return fn;
}

Munmap real_munmap()
{
    static Munmap fn = next<Munmap>("munmap");
    return fn;
}

bool model_mode()
{
#if defined(__x86_64__)
    const char* mode = getenv(kModeEnv);
    return !(mode && strcmp(mode, "plain") == 0);
#else
    return false;
#endif
}

// The board most recently opened in place of the device, by identity, so
// that its mapping is recognised whatever descriptor number it has.
struct BoardId {
    FileId file;
    char path[512] = {};
};
BoardId opened_board;

// The shim's own view of the board. Never destroyed: application threads
// may still touch the block while the process runs its exit handlers.
alignas(Board) unsigned char model_storage[sizeof(Board)];
Board& model = *new (model_storage) Board;
BoardId model_board;

const char* board_path(char* buf, size_t size)
{
    const char* board = getenv(kBoardEnv);
    if (board && *board) return board;
    default_board_path(buf, size);
    return buf;
}

int open_board(OpenAt real_openat, const char* path, int flags)
{
    last_device_flags = flags;
    int fd = real_openat(AT_FDCWD, path, flags | O_CREAT, 0600);
    FileId id;
    if (fd >= 0 && identify(fd, &id) && id.regular) {
        if (id.size < kBoardBytes) (void)!ftruncate64(fd, kBoardBytes);
        opened_board.file = id;
        snprintf(opened_board.path, sizeof opened_board.path, "%s", path);
    }
    return fd;
}

bool is_board(int fd)
{
    FileId id;
    return fd >= 0 && opened_board.file.ino != 0 && identify(fd, &id) && id.dev == opened_board.file.dev &&
           id.ino == opened_board.file.ino;
}

// ---- the trapped blocks --------------------------------------------------

// Blocks mapped by this process. An unmapped one stays reserved, and is
// what the next mapping gets: a late access through a stale pointer is
// reported rather than crashing or reaching another mapping, and repeated
// open and close cycles hold one page.
struct Trapped {
    std::atomic<uintptr_t> base{0};
    std::atomic<bool> unmapped{false};
};
constexpr int kMaxBlocks = 8;
Trapped blocks[kMaxBlocks];
int trace_fd = -1;
char trace_path[512];

Trapped* find_block(uintptr_t addr)
{
    for (Trapped& b : blocks) {
        uintptr_t base = b.base.load();
        if (base && addr - base < kPageBytes) return &b;
    }
    return nullptr;
}

void open_trace()
{
    const char* path = getenv(kTraceEnv);
    if (!path || !*path) path = "";
    if (strcmp(path, trace_path) == 0) return;
    if (trace_fd >= 0) close(trace_fd);
    snprintf(trace_path, sizeof trace_path, "%s", path);
    trace_fd = *path ? static_cast<int>(syscall(SYS_openat, AT_FDCWD, path,
                                                O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600))
                     : -1;
}

#if defined(__x86_64__)

struct sigaction previous_segv;

void chain(int sig, siginfo_t* info, void* uc)
{
    if (previous_segv.sa_flags & SA_SIGINFO) {
        previous_segv.sa_sigaction(sig, info, uc);
    } else if (previous_segv.sa_handler != SIG_DFL && previous_segv.sa_handler != SIG_IGN) {
        previous_segv.sa_handler(sig);
    } else {
        // Returning re-runs the access, which now takes the default action.
        signal(SIGSEGV, SIG_DFL);
    }
}

// Accesses of the faulting instruction, against the model.
class BlockBus : public Bus {
public:
    BlockBus(Trapped& block) : block_(block) {}

    uint64_t load(uintptr_t addr, unsigned width) override
    {
        uint8_t flags = check(addr, width);
        unsigned word = offset(addr) / 4;
        if (!flags) return model.read_traced(word, trace_fd);
        // Malformed: the bytes the access covers, as the model has them.
        uint64_t value = 0;
        for (unsigned i = 0; i < width; ++i) {
            unsigned off = offset(addr + i) % kPageBytes;
            uint32_t w = model.read(off / 4);
            value |= static_cast<uint64_t>((w >> (8 * (off % 4))) & 0xFF) << (8 * i);
        }
        model.record_error(trace_fd, TraceRecord::kRead, word, static_cast<uint32_t>(value), flags, width);
        return value;
    }

    void store(uintptr_t addr, unsigned width, uint64_t value) override
    {
        uint8_t flags = check(addr, width);
        unsigned word = offset(addr) / 4;
        if (!flags) return model.write_traced(word, static_cast<uint32_t>(value), trace_fd);
        model.record_error(trace_fd, TraceRecord::kWrite, word, static_cast<uint32_t>(value), flags,
                           width);  // dropped
    }

private:
    uintptr_t offset(uintptr_t addr) const { return (addr - block_.base.load()) % kPageBytes; }

    uint8_t check(uintptr_t addr, unsigned width) const
    {
        uint8_t flags = 0;
        if (width != 4) flags |= TraceRecord::kBadWidth;
        if (addr % 4) flags |= TraceRecord::kUnaligned;
        if (block_.unmapped.load()) flags |= TraceRecord::kAfterUnmap;
        return flags;
    }

    Trapped& block_;
};

void on_segv(int sig, siginfo_t* info, void* context)
{
    auto* uc = static_cast<ucontext_t*>(context);
    Trapped* block = find_block(reinterpret_cast<uintptr_t>(info->si_addr));
    if (!block) return chain(sig, info, context);

    int saved_errno = errno;
    bool write_fault = uc->uc_mcontext.gregs[REG_ERR] & 2;
    BlockBus bus(*block);
    Emulated result = emulate(uc, write_fault, bus);
    if (result != Emulated::kDone) {
        char bytes[64];
        instruction_bytes(uc, bytes, sizeof bytes);
        char msg[256];
        int n = snprintf(msg, sizeof msg,
                         "tavrel-sim: %s access to the GPIO block at %p, instruction bytes: %s\n",
                         result == Emulated::kUnknown ? "cannot emulate the" : "inconsistent fault for the",
                         info->si_addr, bytes);
        (void)!write(2, msg, static_cast<size_t>(n));
        abort();
    }
    errno = saved_errno;
}

#endif

void install_handler()
{
#if defined(__x86_64__)
    static bool installed = false;
    if (installed) return;
    struct sigaction sa = {};
    sa.sa_sigaction = on_segv;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigfillset(&sa.sa_mask);  // nothing may run while the board lock is held
    sigaction(SIGSEGV, &sa, &previous_segv);
    installed = true;
#endif
}

void* map_block()
{
    if (!model.is_open() || strcmp(model_board.path, opened_board.path) != 0) {
        if (!model.open(opened_board.path)) return MAP_FAILED;
        model_board = opened_board;
    }
    open_trace();
    install_handler();
    for (Trapped& b : blocks)
        if (b.unmapped.load()) {
            b.unmapped.store(false);
            return reinterpret_cast<void*>(b.base.load());
        }
    for (Trapped& b : blocks)
        if (!b.base.load()) {
            void* page = real_mmap()(nullptr, kPageBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (page == MAP_FAILED) return page;
            // Under valgrind: the page is the device, not a bad address;
            // every access still faults into the model.
            VALGRIND_MAKE_MEM_DEFINED(page, kPageBytes);
            b.base.store(reinterpret_cast<uintptr_t>(page));
            return page;
        }
    errno = ENOMEM;
    return MAP_FAILED;
}

// Plain mode: the real mapping, remembered only to count it.
uintptr_t plain_blocks[kMaxBlocks];

}  // namespace

// ---- interposed C library entries ---------------------------------------

namespace {

// Returns the path to open instead of `path`, or null to open it as is.
const char* redirect(const char* path, char* buf, size_t size)
{
    if (!path) return nullptr;
    if (strcmp(path, kDevicePath) == 0) return board_path(buf, size);
    if (strcmp(path, kVersionPath) == 0) {
        const char* version = getenv(kVersionEnv);
        if (version && *version) return version;
    }
    return nullptr;
}

OpenAt real_openat()
{
    static OpenAt fn = next<OpenAt>("openat");
    return fn;
}

// Shared by every interposed open. `real` is that entry's own next
// definition, so that untouched paths behave exactly as without the shim.
template <typename Real, typename... Dir>
int intercept(Real real, const char* path, int flags, mode_t mode, Dir... dir)
{
    char buf[512];
    const char* target = redirect(path, buf, sizeof buf);
    if (target && strcmp(path, kDevicePath) == 0) return open_board(real_openat(), target, flags);
    if (target) last_version_flags = flags;
    return real(dir..., target ? target : path, flags, mode);
}

mode_t mode_arg(int flags, va_list ap)
{
    return (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(ap, int)) : 0;
}

}  // namespace

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

namespace {

template <typename Off, typename Real>
void* map(Real real, void* addr, size_t len, int prot, int flags, int fd, Off off)
{
    bool block = off == 0 && len <= kPageBytes && (flags & MAP_SHARED) && is_board(fd);
    if (block && model_mode()) {
        void* page = map_block();
        if (page != MAP_FAILED) ++live_blocks;
        return page;
    }
    void* mapped = real(addr, len, prot, flags, fd, off);
    if (block && mapped != MAP_FAILED) {
        for (uintptr_t& b : plain_blocks)
            if (!b) {
                b = reinterpret_cast<uintptr_t>(mapped);
                ++live_blocks;
                break;
            }
    }
    return mapped;
}

}  // namespace

SHIM_API void* mmap(void* addr, size_t len, int prot, int flags, int fd, off_t off)
{
    return map(real_mmap(), addr, len, prot, flags, fd, off);
}

SHIM_API void* mmap64(void* addr, size_t len, int prot, int flags, int fd, off64_t off)
{
    using Mmap64 = void* (*)(void*, size_t, int, int, int, off64_t);
    static Mmap64 real = next<Mmap64>("mmap64");
    return map(real, addr, len, prot, flags, fd, off);
}

SHIM_API int munmap(void* addr, size_t len)
{
    uintptr_t a = reinterpret_cast<uintptr_t>(addr);
    for (uintptr_t& b : plain_blocks)
        if (b && b == a) {
            b = 0;
            --live_blocks;
        }
    Trapped* block = find_block(a);
    if (!block || block->base.load() != a || len > kPageBytes) return real_munmap()(addr, len);
    if (!block->unmapped.exchange(true)) --live_blocks;
    return 0;
}

// ---- the test interface --------------------------------------------------

SHIM_API int tavrel_sim_last_open_flags(const char* path)
{
    if (path && strcmp(path, kDevicePath) == 0) return last_device_flags;
    if (path && strcmp(path, kVersionPath) == 0) return last_version_flags;
    return -1;
}

SHIM_API int tavrel_sim_blocks_mapped(void)
{
    return live_blocks.load();
}

SHIM_API int tavrel_sim_trapping(void)
{
    return model_mode();
}
