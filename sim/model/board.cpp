// SPDX-License-Identifier: MIT
#include "model/board.h"
#include "model/blocked.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

namespace tavrel_sim {

namespace {

constexpr uint32_t kMagicReady = 0x32564154;  // "TAV2"
constexpr uint32_t kMagicInit = 1;
constexpr uint32_t kLayoutVersion = 5;  // 3: the journal; 4: edge detection; 5: the RP1's window

// The model's own open: the shim interposes open() and would redirect.
int raw_open(const char* path, int flags, mode_t mode)
{
    return static_cast<int>(syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}

}  // namespace

bool Board::refuse(const char* path, bool reset_cures, const char* fmt, ...)
{
    int err = errno;
    (void)path;
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(refusal_, sizeof refusal_, fmt, ap);
    va_end(ap);
    reset_cures_ = reset_cures;
    errno = err;
    return false;
}

// A valid board is reset in place, under its lock, by clear(): programs
// that have it mapped go on. Only a corrupt one is made anew, truncated
// first, which a program still mapping it would not survive.
bool Board::open(const char* path, bool recreate)
{
    if (open_file(path, false)) {
        if (recreate) clear();
        return true;
    }
    if (!recreate || !reset_cures_) return false;
    return open_file(path, true);
}

bool Board::open_file(const char* path, bool remake)
{
    close();
    held_by_stopped_ = false;
    refusal_[0] = '\0';
    not_a_board_ = false;
    if (strlen(path) >= 4096) {
        errno = ENAMETOOLONG;
        return refuse("(path)", false, "its path is too long");
    }
    // No O_CREAT through a link: a planted link must not make us write a
    // board over its target.
    int fd = raw_open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == ELOOP) return refuse(path, false, "it is a symbolic link");
        not_a_board_ = errno != EACCES;
        return refuse(path, false, "it cannot be opened: %s", strerror(errno));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    FileId id;
    if (!identify(fd, &id)) return refuse(path, false, "it cannot be examined: %s", strerror(errno));
    errno = EPERM;
    if (!id.regular) {
        not_a_board_ = true;
        return refuse(path, false, "it is not a regular file");
    }
    if (id.uid != geteuid()) return refuse(path, false, "it belongs to another user (uid %u)", id.uid);
    if (id.mode & 022)
        return refuse(path, false, "group or others may write it (mode %04o)", id.mode & 07777);
    if (remake || id.size == 0) {
        // Zeroes both pages: the registers, and a model page to be set up. A
        // new file only grows: another process may be creating it too.
        if ((remake && ftruncate(fd, 0) != 0) || ftruncate(fd, kBoardBytes) != 0)
            return refuse(path, false, "it cannot be sized: %s", strerror(errno));
        id.size = kBoardBytes;
    }
    errno = EINVAL;
    if (id.size != kBoardBytes)
        return refuse(path, true, "it is not a board: %llu bytes, not %u",
                      static_cast<unsigned long long>(id.size), kBoardBytes);
    void* map = mmap(nullptr, kBoardBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) return refuse(path, false, "it cannot be mapped: %s", strerror(errno));
    id_ = id;
    if (!attach(path, map)) {
        int err = errno;
        munmap(map, kBoardBytes);
        errno = err;
        return false;
    }
    regs_ = static_cast<volatile uint32_t*>(map);
    return true;
}

namespace {

timespec after_seconds(clockid_t clock, unsigned seconds)
{
    timespec t;
    clock_gettime(clock, &t);
    t.tv_sec += seconds;
    return t;
}

bool passed(const timespec& deadline)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

}  // namespace

// Sets up a new model page, or checks an existing one, within a bounded
// time: a page another process is still setting up gets kLockSeconds.
bool Board::attach(const char* path, void* map)
{
    auto* state = reinterpret_cast<ModelState*>(static_cast<char*>(map) + kPageBytes);
    auto& magic = atomic_ref(state->magic);
    timespec deadline = after_seconds(CLOCK_MONOTONIC, kLockSeconds);
    for (bool took_over = false;;) {
        uint32_t expected = 0;
        if (magic.compare_exchange_strong(expected, kMagicInit)) {
            pthread_mutexattr_t attr;
            pthread_mutexattr_init(&attr);
            pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
            pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
            pthread_mutex_init(&state->lock, &attr);
            pthread_mutexattr_destroy(&attr);
            state->version = kLayoutVersion;
            // A board made again in the same file names its requests apart.
            reinterpret_cast<Edges*>(reinterpret_cast<char*>(state) + kPageBytes + kJournalBytes)->nonce =
                monotonic_ns() ^ static_cast<uint64_t>(getpid()) << 40;
            static_cast<volatile uint32_t*>(map)[kTagWord] = kGpioTag;  // a new board is a BCM2835
            magic.store(kMagicReady);
        }
        uint32_t m = magic.load();
        if (m == kMagicReady) break;
        errno = EINVAL;
        if (m != kMagicInit)
            return refuse(path, true, "it is not a board of this tavrel-sim (magic 0x%08x)", m);
        if (passed(deadline)) {
            // Its creator died half-way: start again, once.
            if (took_over) return refuse(path, true, "it was never set up");
            took_over = true;
            uint32_t stuck = kMagicInit;
            magic.compare_exchange_strong(stuck, 0);
            deadline = after_seconds(CLOCK_MONOTONIC, kLockSeconds);
            continue;
        }
        sched_yield();
    }
    errno = EINVAL;
    if (state->version != kLayoutVersion)
        return refuse(path, true, "it is a board of another layout (version %u, not %u)", state->version,
                      kLayoutVersion);
    state_ = state;
    // A board copied while its lock was held, or whose lock is garbage,
    // is refused here rather than waited on.
    SignalsBlocked blocked;
    if (!try_lock()) {
        uint32_t stopped = stopped_holder();
        state_ = nullptr;
        errno = EBUSY;
        held_by_stopped_ = stopped != 0;
        if (stopped)
            return refuse(path, false,
                          "its lock is held by thread %u, which is stopped (by a signal or a debugger); "
                          "let it go on (kill -CONT %u)",
                          stopped, stopped);
        return refuse(path, true, "its lock was not released within %u s", kLockSeconds);
    }
    unlock();
    return true;
}

void Board::close()
{
    if (regs_) munmap(const_cast<uint32_t*>(regs_), kBoardBytes);
    regs_ = nullptr;
    state_ = nullptr;
}

// Callers block signals first: a handler that touches the block would
// otherwise wait for a lock its own thread holds.
bool Board::try_lock()
{
    return lock_within(kLockSeconds * 1000);
}

bool Board::lock_within(unsigned ms)
{
    int rc = pthread_mutex_trylock(&state_->lock);
    if (rc == EBUSY) {
        timespec deadline;
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += ms / 1000;
        deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000;
        if (deadline.tv_nsec >= 1000000000) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000;
        }
        do rc = pthread_mutex_timedlock(&state_->lock, &deadline);
        while (rc == EINTR);
    }
    if (rc == EOWNERDEAD) {
        pthread_mutex_consistent(&state_->lock);
        rc = 0;
    }
    if (rc == 0) atomic_ref(state_->holder).store(static_cast<uint32_t>(syscall(SYS_gettid)));
    return rc == 0;
}

namespace {

// Whether thread `tid` is stopped, by a signal or a debugger: the state
// letter after the command name in /proc/TID/stat. Async-signal-safe.
bool is_stopped(uint32_t tid)
{
    char path[32] = "/proc/", digits[12];
    size_t n = 0;
    do digits[n++] = static_cast<char>('0' + tid % 10);
    while ((tid /= 10) && n < sizeof digits);
    size_t at = 6;
    while (n) path[at++] = digits[--n];
    memcpy(path + at, "/stat", 6);
    int fd = raw_open(path, O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return false;
    char buf[512];
    ssize_t got = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (got <= 0) return false;
    buf[got] = '\0';
    const char* end = strrchr(buf, ')');
    return end && end[1] == ' ' && (end[2] == 'T' || end[2] == 't');
}

}  // namespace

uint32_t Board::stopped_holder()
{
    uint32_t tid = atomic_ref(state_->holder).load();
    return tid && is_stopped(tid) ? tid : 0;
}

void Board::lock()
{
    // A holder stopped by a signal or a debugger goes on when continued:
    // only the time the holder runs counts against it, so that one
    // continued at the end of a long stop is not taken for a broken board.
    constexpr unsigned kSliceMs = 50;
    unsigned running_ms = 0;
    bool told = false;
    while (!lock_within(kSliceMs)) {
        if (!stopped_holder()) {
            running_ms += kSliceMs;
            if (running_ms >= kLockSeconds * 1000) break;
        } else if (!told) {
            static const char msg[] =
                "tavrel-sim: the board's lock is held by a stopped thread (a signal or a debugger stopped "
                "it); "
                "waiting until it goes on\n";
            (void)!::write(2, msg, sizeof msg - 1);
            told = true;
        }
    }
    if (running_ms < kLockSeconds * 1000) return;
    static_assert(kLockSeconds == 5, "the message names the time");
    // Nothing holds the lock for long: the board is broken under us.
    static const char msg[] =
        "tavrel-sim: the board's lock was not released within 5 s; the board is broken: run tavrel-sim "
        "--reset\n";
    (void)!::write(2, msg, sizeof msg - 1);
    abort();
}

void Board::unlock()
{
    atomic_ref(state_->holder).store(0);
    pthread_mutex_unlock(&state_->lock);
}

}  // namespace tavrel_sim
