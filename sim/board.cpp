// SPDX-License-Identifier: MIT
#include "board.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

namespace tavrel_sim {

namespace {

constexpr uint32_t kMagicReady = 0x54415652;  // "TAVR"
constexpr uint32_t kMagicInit = 1;

// The model's own open: the shim interposes open() and would redirect.
int raw_open(const char* path, int flags, mode_t mode)
{
    return static_cast<int>(syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}

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
    if (syscall(SYS_statx, fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_INO | STATX_SIZE, &sx) != 0)
        return false;
    id->dev = uint64_t{sx.stx_dev_major} << 32 | sx.stx_dev_minor;
    id->ino = sx.stx_ino;
    id->size = sx.stx_size;
    id->regular = S_ISREG(sx.stx_mode);
    return true;
}

void default_board_path(char* buf, size_t size)
{
    snprintf(buf, size, "/tmp/tavrel-sim-%u.board", static_cast<unsigned>(getuid()));
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

bool Board::open(const char* path)
{
    close();
    int fd = raw_open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    FileId id;
    if (!identify(fd, &id) || !id.regular) {
        ::close(fd);
        errno = EINVAL;
        return false;
    }
    if (id.size < kBoardBytes && ftruncate(fd, kBoardBytes) != 0) {
        int err = errno;
        ::close(fd);
        errno = err;
        return false;
    }
    void* map = mmap(nullptr, kBoardBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    int err = errno;
    ::close(fd);
    if (map == MAP_FAILED) {
        errno = err;
        return false;
    }
    regs_ = static_cast<volatile uint32_t*>(map);
    state_ = reinterpret_cast<ModelState*>(static_cast<char*>(map) + kPageBytes);

    // The first process to see a new board sets up its lock.
    auto& magic = atomic_ref(state_->magic);
    uint32_t expected = 0;
    if (magic.compare_exchange_strong(expected, kMagicInit)) {
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
        pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
        pthread_mutex_init(&state_->lock, &attr);
        pthread_mutexattr_destroy(&attr);
        magic.store(kMagicReady);
    }
    for (int i = 0; magic.load() != kMagicReady; ++i) {
        if (i > 100000) {  // its creator died half-way: take over
            uint32_t stuck = kMagicInit;
            if (magic.compare_exchange_strong(stuck, 0)) return open(path);
        }
        sched_yield();
    }
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
void Board::lock()
{
    if (pthread_mutex_lock(&state_->lock) == EOWNERDEAD) pthread_mutex_consistent(&state_->lock);
}

void Board::unlock()
{
    pthread_mutex_unlock(&state_->lock);
}

namespace {

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

}  // namespace

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
    return read_traced(word, -1);
}

void Board::write(unsigned word, uint32_t value)
{
    SignalsBlocked blocked;
    write_traced(word, value, -1);
}

namespace {

void append(int fd, TraceRecord::Kind kind, unsigned word, uint32_t value, uint8_t flags = 0,
            uint32_t width = 4)
{
    if (fd < 0) return;
    TraceRecord r = make_record(kind, word, value, flags, width);
    // O_APPEND: one write per record keeps records whole across processes.
    (void)!::write(fd, &r, sizeof r);
}

}  // namespace

uint32_t Board::read_traced(unsigned word, int trace_fd)
{
    lock();
    uint32_t value = read_locked(word % kWords);
    append(trace_fd, TraceRecord::kRead, word, value);
    unlock();
    return value;
}

void Board::write_traced(unsigned word, uint32_t value, int trace_fd)
{
    lock();
    write_locked(word % kWords, value);
    append(trace_fd, TraceRecord::kWrite, word, value);
    unlock();
}

void Board::record_error(int trace_fd, TraceRecord::Kind kind, unsigned word, uint32_t value, uint8_t flags,
                         uint32_t width)
{
    lock();
    ++state_->errors;
    append(trace_fd, kind, word, value, flags, width);
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

void Board::reset()
{
    SignalsBlocked blocked;
    lock();
    for (unsigned w = 0; w < kWords; ++w) regs_[w] = 0;
    state_->errors = 0;
    state_->latch[0] = state_->latch[1] = 0;
    state_->driven[0] = state_->driven[1] = 0;
    state_->driving[0] = state_->driving[1] = 0;
    memset(state_->pull, 0, sizeof state_->pull);
    unlock();
}

}  // namespace tavrel_sim
