// SPDX-License-Identifier: MIT
#include "board.h"

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
constexpr uint32_t kLayoutVersion = 2;

// The model's own open: the shim interposes open() and would redirect.
int raw_open(const char* path, int flags, mode_t mode)
{
    return static_cast<int>(syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}

class SignalsBlocked {
public:
    SignalsBlocked()
    {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &saved_);
    }
    ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

private:
    sigset_t saved_;
};

std::atomic<uint32_t>& atomic_ref(uint32_t& word)
{
    return *reinterpret_cast<std::atomic<uint32_t>*>(&word);
}

}  // namespace

uint64_t monotonic_ns()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);  // async-signal-safe
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

TraceRecord make_record(TraceRecord::Kind kind, unsigned word, uint32_t value, uint8_t flags, uint32_t width)
{
    TraceRecord r = {};
    r.pid = static_cast<uint32_t>(getpid());
    r.tid = static_cast<uint32_t>(syscall(SYS_gettid));
    r.ns = monotonic_ns();
    r.word = static_cast<uint16_t>(word);
    r.kind = kind;
    r.flags = flags;
    r.value = value;
    r.width = width;
    return r;
}

bool identify(int fd, FileId* id)
{
    struct statx sx;
    if (syscall(SYS_statx, fd, "", AT_EMPTY_PATH,
                STATX_TYPE | STATX_MODE | STATX_UID | STATX_INO | STATX_SIZE, &sx) != 0)
        return false;
    id->dev = uint64_t{sx.stx_dev_major} << 32 | sx.stx_dev_minor;
    id->ino = sx.stx_ino;
    id->size = sx.stx_size;
    id->uid = sx.stx_uid;
    id->mode = sx.stx_mode;
    id->regular = S_ISREG(sx.stx_mode);
    return true;
}

namespace {

// A directory that only this user can use: the user's own, a directory and
// not a link to one, with no access for group or others.
bool private_directory(const char* dir, char* why, size_t why_size)
{
    // statx, for the reason identify() gives.
    struct statx sx;
    if (syscall(SYS_statx, AT_FDCWD, dir, AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_MODE | STATX_UID, &sx) !=
        0) {
        snprintf(why, why_size, "%s: %s", dir, strerror(errno));
        return false;
    }
    if (!S_ISDIR(sx.stx_mode)) {
        snprintf(why, why_size, "%s is not a directory (a link or a file stands there)", dir);
        return false;
    }
    if (sx.stx_uid != geteuid()) {
        snprintf(why, why_size, "%s belongs to another user (uid %u)", dir,
                 static_cast<unsigned>(sx.stx_uid));
        return false;
    }
    if (sx.stx_mode & 077) {
        snprintf(why, why_size, "%s is open to group or others (mode %04o)", dir,
                 static_cast<unsigned>(sx.stx_mode & 07777));
        return false;
    }
    return true;
}

}  // namespace

bool default_board_path(char* buf, size_t size, char* why, size_t why_size)
{
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    char ignored[kMessageBytes];
    if (runtime && runtime[0] == '/' && private_directory(runtime, ignored, sizeof ignored)) {
        if (static_cast<size_t>(snprintf(buf, size, "%s/tavrel-sim.board", runtime)) < size) return true;
    }
    const char* tmp = getenv("TMPDIR");
    if (!tmp || tmp[0] != '/') tmp = "/tmp";
    char dir[4096];
    if (static_cast<size_t>(snprintf(dir, sizeof dir, "%s/tavrel-sim-%u", tmp,
                                     static_cast<unsigned>(geteuid()))) >= sizeof dir) {
        snprintf(why, why_size, "the temporary directory's path is too long");
        return false;
    }
    if (mkdir(dir, 0700) != 0 && errno != EEXIST) {
        snprintf(why, why_size, "cannot create %s: %s", dir, strerror(errno));
        return false;
    }
    if (!private_directory(dir, why, why_size)) return false;
    if (static_cast<size_t>(snprintf(buf, size, "%s/board", dir)) >= size) {
        snprintf(why, why_size, "the path of the default board is too long");
        return false;
    }
    return true;
}

void latch_pulls(uint8_t* pull, unsigned bank, uint32_t rising, uint32_t control)
{
    control &= 3;
    if (control == 3) return;
    for (unsigned bit = 0; bit < 32; ++bit) {
        unsigned pin = 32 * bank + bit;
        if (pin < kPins && (rising >> bit) & 1) pull[pin] = static_cast<uint8_t>(control);
    }
}

const char* pull_name(unsigned pull)
{
    static const char* const names[4] = {"off", "down", "up", "off"};
    return names[pull & 3];
}

const char* function_name(unsigned code)
{
    static const char* const names[8] = {"input", "output", "alt5", "alt4", "alt0", "alt1", "alt2", "alt3"};
    return names[code & 7];
}

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

bool Board::open(const char* path, bool recreate)
{
    close();
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
    if (recreate || id.size == 0) {
        // Zeroes both pages: the registers, and a model page to be set up.
        if (ftruncate(fd, 0) != 0 || ftruncate(fd, kBoardBytes) != 0)
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
        state_ = nullptr;
        errno = EBUSY;
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
    int rc = pthread_mutex_trylock(&state_->lock);
    if (rc == EBUSY) {
        timespec deadline = after_seconds(CLOCK_REALTIME, kLockSeconds);
        do rc = pthread_mutex_timedlock(&state_->lock, &deadline);
        while (rc == EINTR);
    }
    if (rc == EOWNERDEAD) {
        pthread_mutex_consistent(&state_->lock);
        rc = 0;
    }
    return rc == 0;
}

void Board::lock()
{
    if (try_lock()) return;
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
    pthread_mutex_unlock(&state_->lock);
}

unsigned Board::fsel(unsigned pin)
{
    return (regs_[pin / 10] >> (3 * (pin % 10))) & 7;
}

uint32_t Board::read_locked(unsigned word)
{
    if (word == GPSET0 || word == GPSET1 || word == GPCLR0 || word == GPCLR1) return 0;
    if (word == GPLEV0 || word == GPLEV1) {
        // Output pins read their latch; the others what is driven onto
        // them, or else their pull.
        unsigned bank = word - GPLEV0;
        uint32_t levels = 0;
        for (unsigned bit = 0; bit < 32; ++bit) {
            unsigned pin = 32 * bank + bit;
            if (pin >= 60) break;
            uint32_t mask = 1u << bit;
            bool high = fsel(pin) == 1
                            ? state_->latch[bank] & mask
                            : input_level(state_->driving[bank] & mask, state_->driven[bank] & mask,
                                          pin < kPins ? state_->pull[pin] : kPullOff);
            if (high) levels |= mask;
        }
        return levels;
    }
    return regs_[word];
}

void Board::write_locked(unsigned word, uint32_t value)
{
    switch (word) {
    case GPSET0:
    case GPSET1: state_->latch[word - GPSET0] |= value; break;
    case GPCLR0:
    case GPCLR1: state_->latch[word - GPCLR0] &= ~value; break;
    case GPLEV0:
    case GPLEV1: break;  // read-only
    case GPPUDCLK0:
    case GPPUDCLK1: {
        latch_pulls(state_->pull, word - GPPUDCLK0, value & ~regs_[word], regs_[GPPUD]);
        regs_[word] = value;
        break;
    }
    default: regs_[word] = value;
    }
}

uint32_t Board::read(unsigned word)
{
    SignalsBlocked blocked;
    return read_traced(word, nullptr);
}

void Board::write(unsigned word, uint32_t value)
{
    SignalsBlocked blocked;
    write_traced(word, value, nullptr);
}

void Board::append(TraceSink* sink, TraceRecord::Kind kind, unsigned word, uint32_t value, uint8_t flags,
                   uint32_t width)
{
    if (!sink) return;
    if (!sink->append(make_record(kind, word, value, flags, width))) ++state_->trace_lost;
}

uint32_t Board::read_traced(unsigned word, TraceSink* sink)
{
    lock();
    uint32_t value = read_locked(word % kWords);
    append(sink, TraceRecord::kRead, word, value);
    unlock();
    return value;
}

void Board::write_traced(unsigned word, uint32_t value, TraceSink* sink)
{
    lock();
    write_locked(word % kWords, value);
    append(sink, TraceRecord::kWrite, word, value);
    unlock();
}

void Board::record_error(TraceSink* sink, TraceRecord::Kind kind, unsigned word, uint32_t value,
                         uint8_t flags, uint32_t width)
{
    lock();
    ++state_->errors;
    append(sink, kind, word, value, flags, width);
    unlock();
}

void Board::drive(unsigned pin, bool high)
{
    SignalsBlocked blocked;
    lock();
    uint32_t bit = 1u << (pin % 32);
    uint32_t& d = state_->driven[pin / 32 % 2];
    d = high ? d | bit : d & ~bit;
    state_->driving[pin / 32 % 2] |= bit;
    unlock();
}

void Board::release(unsigned pin)
{
    SignalsBlocked blocked;
    lock();
    state_->driving[pin / 32 % 2] &= ~(1u << (pin % 32));
    unlock();
}

void Board::drive_pins(const uint32_t pins[2], Drive drive)
{
    const uint32_t none[2] = {0, 0};
    drive_all(drive == Drive::kLow ? pins : none, drive == Drive::kHigh ? pins : none,
              drive == Drive::kRelease ? pins : none);
}

void Board::drive_all(const uint32_t low[2], const uint32_t high[2], const uint32_t released[2])
{
    SignalsBlocked blocked;
    lock();
    for (unsigned bank = 0; bank < 2; ++bank) {
        state_->driven[bank] = (state_->driven[bank] & ~low[bank]) | high[bank];
        state_->driving[bank] = (state_->driving[bank] | low[bank] | high[bank]) & ~released[bank];
    }
    unlock();
}

void Board::drive_plain_levels(const uint32_t pins[2], bool high)
{
    SignalsBlocked blocked;
    lock();
    for (unsigned bank = 0; bank < 2; ++bank) {
        uint32_t lev = regs_[GPLEV0 + bank];
        regs_[GPLEV0 + bank] = high ? lev | pins[bank] : lev & ~pins[bank];
    }
    unlock();
}

uint32_t Board::trace_lost()
{
    return atomic_ref(state_->trace_lost).load();
}

uint32_t Board::driving(unsigned bank)
{
    return atomic_ref(state_->driving[bank % 2]).load();
}

unsigned Board::pull(unsigned pin)
{
    return pin < kPins ? reinterpret_cast<std::atomic<uint8_t>&>(state_->pull[pin]).load() : kPullOff;
}

uint32_t Board::driven(unsigned bank)
{
    return atomic_ref(state_->driven[bank % 2]).load();
}

uint32_t Board::latch(unsigned bank)
{
    return atomic_ref(state_->latch[bank % 2]).load();
}

bool Board::level(unsigned pin)
{
    return (read(GPLEV0 + pin / 32) >> (pin % 32)) & 1;
}

void Board::poke(unsigned word, uint32_t value)
{
    regs_[word % kWords] = value;
}

uint32_t Board::peek(unsigned word)
{
    return regs_[word % kWords];
}

uint32_t Board::errors()
{
    return atomic_ref(state_->errors).load();
}

void Board::clear()
{
    SignalsBlocked blocked;
    lock();
    for (unsigned w = 0; w < kWords; ++w) regs_[w] = 0;
    state_->errors = state_->trace_lost = 0;
    state_->latch[0] = state_->latch[1] = 0;
    state_->driven[0] = state_->driven[1] = 0;
    state_->driving[0] = state_->driving[1] = 0;
    memset(state_->pull, 0, sizeof state_->pull);
    unlock();
}

}  // namespace tavrel_sim
