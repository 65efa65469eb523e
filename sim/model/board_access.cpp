// SPDX-License-Identifier: MIT
// The board's registers and pins, through the model, under the board's
// lock.
#include <errno.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

#include "model/blocked.h"
#include "model/board.h"

namespace tavrel_sim {

Pins Board::pins()
{
    Soc chip = soc();
    return {
        is_rp1(chip) ? window() : regs_, state_->latch, state_->driven, state_->driving, state_->pull, chip};
}

unsigned Board::fsel(unsigned pin)
{
    return function_of(pins(), pin);
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
    if (sink->append(make_record(kind, word, value, flags, width))) return;
    ++state_->trace_lost;
    if (ModelState::RunCounts* run = run_counts()) ++run->trace_lost;
}

uint32_t Board::read_traced(unsigned word, TraceSink* sink, uint8_t flags)
{
    lock();
    word %= words();
    uint32_t value = read_register(pins(), word);
    append(sink, TraceRecord::kRead, word, value, flags);
    unlock();
    return value;
}

void Board::write_traced(unsigned word, uint32_t value, TraceSink* sink, uint8_t flags)
{
    lock();
    word %= words();
    write_register(pins(), word, value);
    if (journaled(word, soc())) log(JournalEntry::kWrite, word, 0, value, 0, 0, monotonic_ns());
    append(sink, TraceRecord::kWrite, word, value, flags);
    unlock();
}

void Board::record_error(TraceSink* sink, TraceRecord::Kind kind, unsigned word, uint32_t value,
                         uint8_t flags, uint32_t width)
{
    lock();
    ++state_->errors;
    if (ModelState::RunCounts* run = run_counts()) ++run->errors;
    append(sink, kind, word, value, flags, width);
    unlock();
}

void Board::drive(unsigned pin, bool high)
{
    uint32_t one[2] = {}, none[2] = {};
    one[pin / 32 % 2] = 1u << (pin % 32);
    drive_all(high ? none : one, high ? one : none, none);
}

void Board::release(unsigned pin)
{
    uint32_t one[2] = {}, none[2] = {};
    one[pin / 32 % 2] = 1u << (pin % 32);
    drive_all(none, none, one);
}

void Board::drive_pins(const uint32_t which[2], Drive drive)
{
    const uint32_t none[2] = {0, 0};
    drive_all(drive == Drive::kLow ? which : none, drive == Drive::kHigh ? which : none,
              drive == Drive::kRelease ? which : none);
}

void Board::drive_all(const uint32_t low[2], const uint32_t high[2], const uint32_t released[2])
{
    SignalsBlocked blocked;
    lock();
    tavrel_sim::drive_pins(pins(), low, high, released);
    const uint64_t now = monotonic_ns();
    for (unsigned bank = 0; bank < kBanks; ++bank)
        if (low[bank] | high[bank] | released[bank])
            log(JournalEntry::kDrive, 0, bank, low[bank], high[bank], released[bank], now);
    unlock();
}

void Board::drive_plain_levels(const uint32_t which[2], bool high)
{
    SignalsBlocked blocked;
    lock();
    if (is_rp1(soc())) {
        // The RP1's level words are its banks' synchronised inputs.
        volatile uint32_t* w = window();
        for (unsigned pin = 0; pin < kRp1Pins; ++pin) {
            if (!(which[pin / 32] >> (pin % 32) & 1)) continue;
            volatile uint32_t& in = w[rp1_rio_word(rp1_bank_of(pin), Rp1Register::kRioSyncIn)];
            in = high ? in | rp1_bit(pin) : in & ~rp1_bit(pin);
        }
    } else {
        for (unsigned bank = 0; bank < 2; ++bank) {
            uint32_t lev = regs_[GPLEV0 + bank];
            regs_[GPLEV0 + bank] = high ? lev | which[bank] : lev & ~which[bank];
        }
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
    if (is_rp1(soc())) {
        SignalsBlocked blocked;
        lock();
        unsigned pull = pull_of(pins(), pin);
        unlock();
        return pull;
    }
    return pin < pin_count(soc()) ? atomic_ref(state_->pull[pin]).load() : kPullOff;
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
    if (!is_rp1(soc())) return (read(GPLEV0 + pin / 32) >> (pin % 32)) & 1;
    SignalsBlocked blocked;
    lock();
    bool high = level_of(pins(), pin);
    unlock();
    return high;
}

void Board::poke(unsigned word, uint32_t value)
{
    pins().regs[word % words()] = value;
}

uint32_t Board::peek(unsigned word)
{
    return pins().regs[word % words()];
}

uint32_t Board::errors()
{
    return atomic_ref(state_->errors).load();
}

void Board::clear()
{
    SignalsBlocked blocked;
    lock();
    clear_locked(soc());
    unlock();
}

Soc Board::soc()
{
    return soc_from(atomic_ref(state_->soc).load(std::memory_order_relaxed));
}

bool Board::set_soc(Soc soc)
{
    SignalsBlocked blocked;
    lock();
    bool changed = soc != this->soc();
    if (changed) clear_locked(soc);
    unlock();
    return changed;
}

void Board::clear_locked(Soc soc)
{
    for (unsigned w = 0; w < kWords; ++w) regs_[w] = 0;
    // What a plain mapping reads there, as the model does.
    if (soc == Soc::kBcm2835) regs_[kTagWord] = kGpioTag;
    // The window is written only where it holds something, so that the
    // file stays sparse on the boards that never use it.
    volatile uint32_t* w = window();
    for (unsigned i = 0; i < kRp1Words; ++i)
        if (w[i]) w[i] = 0;
    atomic_ref(state_->soc).store(static_cast<uint32_t>(soc));
    if (is_rp1(soc)) rp1_reset(pins());
    state_->errors = state_->trace_lost = 0;
    state_->latch[0] = state_->latch[1] = 0;
    state_->driven[0] = state_->driven[1] = 0;
    state_->driving[0] = state_->driving[1] = 0;
    memset(state_->pull, 0, sizeof state_->pull);
    for (ModelState::RunCounts& r : state_->runs) r.errors = r.trace_lost = 0;  // runs go on
    memset(state_->lines, 0, sizeof state_->lines);                             // as at boot
    Edges* x = edges();
    x->detecting = 0;
    memset(x->lines, 0, sizeof x->lines);
    for (EdgeQueue& q : x->queues) q.request = 0;
    ++x->nonce;  // the forgotten requests' sockets name no request of this board
    log(JournalEntry::kClear, 0, 0, static_cast<uint32_t>(soc), 0, 0, monotonic_ns());
}

ModelState::RunCounts* Board::run_counts()
{
    if (!run_) return nullptr;
    for (ModelState::RunCounts& r : state_->runs)
        if (r.id == run_) return &r;
    return nullptr;
}

uint32_t Board::begin_run()
{
    SignalsBlocked blocked;
    lock();
    uint32_t id = 0;
    for (ModelState::RunCounts& r : state_->runs) {
        bool gone = r.id && kill(static_cast<pid_t>(r.id), 0) != 0 && errno == ESRCH;
        if (r.id && !gone) continue;
        id = r.id = static_cast<uint32_t>(getpid());
        r.errors = r.trace_lost = 0;
        break;
    }
    unlock();
    return id;
}

void Board::end_run(uint32_t id, uint32_t* errors, uint32_t* trace_lost)
{
    SignalsBlocked blocked;
    lock();
    *errors = *trace_lost = 0;
    for (ModelState::RunCounts& r : state_->runs)
        if (id && r.id == id) {
            *errors = r.errors;
            *trace_lost = r.trace_lost;
            r = {};
        }
    unlock();
}

}  // namespace tavrel_sim
