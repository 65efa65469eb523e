// SPDX-License-Identifier: MIT
// Preloadable shim: the simulated GPIO board behind /dev/gpiomem.
//
// The opening of /dev/gpiomem is redirected to the board file. On x86-64,
// 32-bit ARM and AArch64 its mapping is a page that stays inaccessible for
// good: every access faults, and the SIGSEGV handler emulates the
// instruction against the device model, appending the access to the
// trace. With TAVREL_SIM_MODE=plain, the file's register page is mapped
// directly: plain storage, no trace.
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
#include "emulate.h"
#include "tavrel_sim.h"

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
#if TAVREL_SIM_TRAPS
    const char* mode = getenv(kModeEnv);
    return !(mode && strcmp(mode, "plain") == 0);
#else
    return false;
#endif
}

// ---- SIGSEGV, which the trapped block needs ------------------------------

using Sigaction = int (*)(int, const struct sigaction*, struct sigaction*);

Sigaction real_sigaction()
{
    static Sigaction fn = next<Sigaction>("sigaction");
    return fn;
}

[[maybe_unused]] struct sigaction sigaction_default()
{
    struct sigaction sa = {};
    sa.sa_handler = SIG_DFL;
    return sa;
}

// Once the shim's handler is in place, the program's own SIGSEGV action
// lives here and the kernel keeps the shim's.
struct sigaction app_segv = {};
std::atomic<bool> segv_taken{false};

// Paths from the environment, made absolute against the directory the
// program started in: a program that changes directory keeps its board.
char start_dir[4096];

void resolve_entries();

__attribute__((constructor)) void start()
{
    if (!getcwd(start_dir, sizeof start_dir)) start_dir[0] = '\0';
    resolve_entries();
    // A mask inherited across exec must not make the block's faults fatal.
    if (model_mode()) {
        sigset_t segv;
        sigemptyset(&segv);
        sigaddset(&segv, SIGSEGV);
        using Mask = int (*)(int, const sigset_t*, sigset_t*);
        next<Mask>("pthread_sigmask")(SIG_UNBLOCK, &segv, nullptr);
    }
}

// The path named by environment variable `name` (null when unset or
// empty), absolute; null with ENAMETOOLONG when it does not fit.
const char* env_path(const char* name, char* buf, size_t size)
{
    const char* value = getenv(name);
    if (!value || !*value) return nullptr;
    int n =
        value[0] == '/' ? snprintf(buf, size, "%s", value) : snprintf(buf, size, "%s/%s", start_dir, value);
    if (n < 0 || static_cast<size_t>(n) >= size || (value[0] != '/' && !start_dir[0])) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    return buf;
}

void say(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void say(const char* fmt, ...)
{
    char msg[kMessageBytes + 64];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(msg, sizeof msg, fmt, ap);
    va_end(ap);
    if (n > 0)
        (void)!write(2, msg, static_cast<size_t>(n) < sizeof msg ? static_cast<size_t>(n) : sizeof msg - 1);
}

// The shim's own view of the board. Never destroyed: application threads
// may still touch the block while the process runs its exit handlers.
alignas(Board) unsigned char model_storage[sizeof(Board)];
Board& model = *new (model_storage) Board;

// The board the device was last opened as, by identity, so that its
// mapping is recognised whatever descriptor number it has.
struct BoardId {
    FileId file;
    char path[4096] = {};
};
BoardId model_board;

bool open_trace();

// Opens the device as the board. The model's view comes first, so that at
// no moment does the shim hold a descriptor beside the program's; then the
// trace, so that a trace that cannot be kept fails the open rather than
// going missing.
int open_board(OpenAt real_openat, int flags)
{
    last_device_flags = flags;
    char path[4096], why[kMessageBytes];
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
    if (!model.is_open() || strcmp(model_board.path, path) != 0) {
        if (!model.open(path)) {
            // Nothing there, or a device or FIFO: opened as it is, as the
            // device would be or not be.
            if (model.not_a_board())
                return real_openat(AT_FDCWD, path, (flags & ~(O_CREAT | O_EXCL | O_TRUNC)) | O_NOFOLLOW, 0);
            int err = errno;
            say("tavrel-sim: cannot use the board %s: %s%s\n", path, model.refusal(),
                model.reset_cures() ? "; run tavrel-sim --reset to make it anew" : "");
            errno = err;
            return -1;
        }
        model_board.file = model.id();
        snprintf(model_board.path, sizeof model_board.path, "%s", path);
    }
    if (model_mode() && !open_trace()) return -1;
    int fd = real_openat(AT_FDCWD, path, (flags & ~(O_CREAT | O_EXCL | O_TRUNC)) | O_NOFOLLOW, 0);
    if (fd < 0) return -1;
    FileId id;
    if (!identify(fd, &id) || id.dev != model_board.file.dev || id.ino != model_board.file.ino) {
        close(fd);
        say("tavrel-sim: the board %s was replaced while it was being opened\n", path);
        errno = EACCES;
        return -1;
    }
    return fd;
}

bool is_board(int fd)
{
    FileId id;
    return fd >= 0 && model_board.file.ino != 0 && identify(fd, &id) && id.dev == model_board.file.dev &&
           id.ino == model_board.file.ino;
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

Trapped* find_block(uintptr_t addr)
{
    for (Trapped& b : blocks) {
        uintptr_t base = b.base.load();
        if (base && addr - base < kPageBytes) return &b;
    }
    return nullptr;
}

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

bool open_trace()
{
    return trace.open();
}

#if TAVREL_SIM_TRAPS

// What the kernel says the faulting access was.
Fault fault_kind(const ucontext_t* uc)
{
#if defined(__x86_64__)
    return uc->uc_mcontext.gregs[REG_ERR] & 2 ? Fault::kWrite : Fault::kRead;
#elif defined(__arm__)
    // The fault status register, with WnR in bit 11; qemu-user leaves it 0.
    unsigned long fsr = uc->uc_mcontext.error_code;
    return fsr == 0 ? Fault::kUnknown : fsr & (1ul << 11) ? Fault::kWrite : Fault::kRead;
#else
    // The ESR's WnR bit, in the signal frame's optional esr_context.
    (void)uc;
    return Fault::kUnknown;
#endif
}

int pc_log = -1;

void open_pc_log()
{
    const char* path = getenv(kPcLogEnv);
    if (path && *path) pc_log = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
}

void log_pc(uintptr_t pc)
{
    if (pc_log < 0) return;
    char line[2 + 2 * sizeof pc + 1];
    size_t n = sizeof line;
    line[--n] = '\n';
    do {
        line[--n] = "0123456789abcdef"[pc & 15];
        pc >>= 4;
    } while (pc);
    line[--n] = 'x';
    line[--n] = '0';
    (void)!write(pc_log, line + n, sizeof line - n);
}

// Faults that are not the block's go to the program's own SIGSEGV action:
// the one it had when the shim took the signal, or set since (see
// sigaction below).
void chain(int sig, siginfo_t* info, void* uc)
{
    struct sigaction app = app_segv;
    if (app.sa_flags & SA_RESETHAND) app_segv = sigaction_default();
    if ((app.sa_flags & SA_SIGINFO) && app.sa_sigaction) {
        app.sa_sigaction(sig, info, uc);
    } else if (!(app.sa_flags & SA_SIGINFO) && app.sa_handler != SIG_DFL && app.sa_handler != SIG_IGN) {
        app.sa_handler(sig);
    } else {
        // Returning re-runs the access, which now takes the default action,
        // as a fault with SIGSEGV ignored does too.
        struct sigaction dfl = sigaction_default();
        real_sigaction()(SIGSEGV, &dfl, nullptr);
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
        if (!flags) return model.read_traced(word, &trace);
        // Malformed: the bytes the access covers, as the model has them.
        uint64_t value = 0;
        for (unsigned i = 0; i < width; ++i) {
            unsigned off = offset(addr + i) % kPageBytes;
            uint32_t w = model.read(off / 4);
            value |= static_cast<uint64_t>((w >> (8 * (off % 4))) & 0xFF) << (8 * i);
        }
        model.record_error(&trace, TraceRecord::kRead, word, static_cast<uint32_t>(value), flags, width);
        return value;
    }

    void store(uintptr_t addr, unsigned width, uint64_t value) override
    {
        uint8_t flags = check(addr, width);
        unsigned word = offset(addr) / 4;
        if (!flags) return model.write_traced(word, static_cast<uint32_t>(value), &trace);
        model.record_error(&trace, TraceRecord::kWrite, word, static_cast<uint32_t>(value), flags,
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
    BlockBus bus(*block);
    uintptr_t pc = instruction_address(uc);
    Emulated result = emulate(uc, fault_kind(uc), bus);
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
    log_pc(pc);
    errno = saved_errno;
}

#endif

void install_handler()
{
#if TAVREL_SIM_TRAPS
    static bool installed = false;
    if (installed) return;
    struct sigaction sa = {};
    sa.sa_sigaction = on_segv;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigfillset(&sa.sa_mask);  // nothing may run while the board lock is held
    real_sigaction()(SIGSEGV, &sa, &app_segv);
    segv_taken.store(true);
    installed = true;
    open_pc_log();
#endif
}

void* map_block()
{
    if (!model.is_open()) {
        errno = ENODEV;
        return MAP_FAILED;
    }
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

// The path to open instead of the version file, or null to open it as is.
const char* version_redirect(const char* path, char* buf, size_t size)
{
    if (!path || strcmp(path, kVersionPath) != 0) return nullptr;
    return env_path(kVersionEnv, buf, size);
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
    if (path && strcmp(path, kDevicePath) == 0) return open_board(real_openat(), flags);
    char buf[4096];
    const char* target = version_redirect(path, buf, sizeof buf);
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
    if (!(flags & MAP_SHARED) || !is_board(fd)) return real(addr, len, prot, flags, fd, off);
    // As the device: one page, the GPIO block, at offset 0; the model's own
    // page behind it is never mapped.
    if (off != 0 || len == 0 || len > kPageBytes) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    int mode = fcntl(fd, F_GETFL);
    if ((prot & PROT_WRITE) && (mode < 0 || (mode & O_ACCMODE) == O_RDONLY)) {
        errno = EACCES;
        return MAP_FAILED;
    }
    if (model_mode()) {
        void* page = map_block();
        if (page != MAP_FAILED) ++live_blocks;
        return page;
    }
    void* mapped = real(addr, len, prot, flags, fd, off);
    if (mapped != MAP_FAILED) {
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

// ---- the trace descriptor, kept from the program -------------------------

// A program that closes every descriptor it did not open (a daemon's
// start) is told the trace's is closed, and leaves it be; one that puts a
// file at its number gets the number, the trace moving aside first.
SHIM_API int close(int fd)
{
    using Close = int (*)(int);
    static Close real = next<Close>("close");
    if (trace.is(fd)) return 0;
    return real(fd);
}

SHIM_API int dup2(int old_fd, int new_fd)
{
    using Dup2 = int (*)(int, int);
    static Dup2 real = next<Dup2>("dup2");
    if (old_fd != new_fd && !trace.step_aside(new_fd)) {
        errno = EBUSY;
        return -1;
    }
    return real(old_fd, new_fd);
}

SHIM_API int dup3(int old_fd, int new_fd, int flags)
{
    using Dup3 = int (*)(int, int, int);
    static Dup3 real = next<Dup3>("dup3");
    if (old_fd != new_fd && !trace.step_aside(new_fd)) {
        errno = EBUSY;
        return -1;
    }
    return real(old_fd, new_fd, flags);
}

namespace {

// close_range over [first, last], around the trace's descriptor.
int close_around(unsigned first, unsigned last, int flags)
{
    int t = trace.fd();
    if (t < 0 || static_cast<unsigned>(t) < first || static_cast<unsigned>(t) > last)
        return static_cast<int>(syscall(SYS_close_range, first, last, flags));
    unsigned fd = static_cast<unsigned>(t);
    int rc = 0;
    if (fd > first) rc = static_cast<int>(syscall(SYS_close_range, first, fd - 1, flags));
    if (rc == 0 && fd < last) rc = static_cast<int>(syscall(SYS_close_range, fd + 1, last, flags));
    return rc;
}

}  // namespace

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

// ---- signal masks and actions, as the trapped block needs them -----------

// A program that blocks every signal (to take them with sigwait) must still
// have its accesses carried out: on the board, a blocked SIGSEGV would kill
// it at a real fault just the same, so only the block's faults differ.
namespace {

const sigset_t* without_segv(const sigset_t* set, sigset_t* copy)
{
    if (!set || !model_mode() || !sigismember(set, SIGSEGV)) return set;
    *copy = *set;
    sigdelset(copy, SIGSEGV);
    return copy;
}

}  // namespace

SHIM_API int pthread_sigmask(int how, const sigset_t* set, sigset_t* old)
{
    using Mask = int (*)(int, const sigset_t*, sigset_t*);
    static Mask real = next<Mask>("pthread_sigmask");
    sigset_t copy;
    return real(how, how == SIG_UNBLOCK ? set : without_segv(set, &copy), old);
}

SHIM_API int sigprocmask(int how, const sigset_t* set, sigset_t* old)
{
    using Mask = int (*)(int, const sigset_t*, sigset_t*);
    static Mask real = next<Mask>("sigprocmask");
    sigset_t copy;
    return real(how, how == SIG_UNBLOCK ? set : without_segv(set, &copy), old);
}

// SIGSEGV actions set after the shim took the signal are the program's
// own: kept for the faults that are not the block's, and reported back.
SHIM_API int sigaction(int sig, const struct sigaction* act, struct sigaction* old)
{
    struct sigaction copy;
    if (act && model_mode() && sigismember(&act->sa_mask, SIGSEGV)) {
        copy = *act;
        sigdelset(&copy.sa_mask, SIGSEGV);  // handlers may touch the block
        act = &copy;
    }
    if (sig != SIGSEGV || !segv_taken.load()) return real_sigaction()(sig, act, old);
    if (old) *old = app_segv;
    if (act) app_segv = *act;
    return 0;
}

SHIM_API sighandler_t signal(int sig, sighandler_t handler)
{
    struct sigaction sa = {}, old;
    sa.sa_handler = handler;
    sa.sa_flags = SA_RESTART;
    if (sigaction(sig, &sa, &old) != 0) return SIG_ERR;
    return old.sa_handler;  // shares its storage with sa_sigaction
}

// ---- the next definitions, looked up at load -----------------------------

namespace {

// Each interposed entry finds the next definition on its first call; make
// every first call here, at load, so that none happens in a signal handler
// or a forked child, where dlsym is not safe.
void resolve_entries()
{
    int saved = errno;
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    sigprocmask(SIG_BLOCK, nullptr, &mask);
    struct sigaction sa;
    real_sigaction()(SIGSEGV, nullptr, &sa);
    close(-1);
    dup2(-1, -1);
    dup3(-1, -1, 0);
    (void)real_mmap();
    (void)real_munmap();
    (void)real_openat();
    errno = saved;
}

}  // namespace

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
