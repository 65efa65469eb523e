// SPDX-License-Identifier: MIT
// The board's journal: written under the board's lock, read without it.
#include <errno.h>
#include <limits.h>
#include <linux/futex.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "model/blocked.h"
#include "model/board.h"

namespace tavrel_sim {

namespace {

long futex(uint32_t* word, int op, uint32_t value, const timespec* timeout)
{
    // Shared between processes: no FUTEX_PRIVATE_FLAG.
    return syscall(SYS_futex, word, op, value, timeout, nullptr, 0);
}

}  // namespace

Journal* Board::journal()
{
    return reinterpret_cast<Journal*>(reinterpret_cast<char*>(state_) + kPageBytes);
}

void Board::log(JournalEntry::Kind kind, unsigned word, unsigned bank, uint32_t a, uint32_t b, uint32_t c,
                uint64_t ns)
{
    Journal* j = journal();
    uint64_t seq = atomic_ref(j->head).load(std::memory_order_relaxed);
    JournalEntry& e = j->entries[seq % kJournalEntries];
    // A reader copying this slot checks its seq after the copy: marked
    // stale first, it cannot take half of one entry for another.
    atomic_ref(e.seq).store(~uint64_t{0}, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    e.ns = ns;
    e.kind = kind;
    e.bank = static_cast<uint8_t>(bank);
    e.word = static_cast<uint16_t>(word);
    e.a = a;
    e.b = b;
    e.c = c;
    atomic_ref(e.seq).store(seq, std::memory_order_release);
    atomic_ref(j->head).store(seq + 1, std::memory_order_release);
    atomic_ref(j->wake).store(static_cast<uint32_t>(seq + 1), std::memory_order_release);
    if (atomic_ref(j->waiters).load()) futex(&j->wake, FUTEX_WAKE, INT_MAX, nullptr);
    if (kind != JournalEntry::kLine) detect(ns);
}

uint64_t Board::snapshot(BoardState* s)
{
    SignalsBlocked blocked;
    lock();
    if (is_rp1(soc())) {
        memset(s->regs, 0, sizeof s->regs);
        rp1_pack(window(), s->regs);
    } else {
        for (unsigned w = 0; w < kWords; ++w) s->regs[w] = regs_[w];
    }
    for (unsigned b = 0; b < kBanks; ++b) {
        s->latch[b] = state_->latch[b];
        s->driven[b] = state_->driven[b];
        s->driving[b] = state_->driving[b];
    }
    memcpy(s->pull, state_->pull, sizeof s->pull);
    s->soc = soc();
    uint64_t head = atomic_ref(journal()->head).load();
    unlock();
    return head;
}

unsigned Board::read_journal(uint64_t* next, JournalEntry* out, unsigned max, uint64_t* lost)
{
    Journal* j = journal();
    unsigned n = 0, retries = 0;
    while (n < max) {
        uint64_t head = atomic_ref(j->head).load(std::memory_order_acquire);
        if (head - *next > kJournalEntries) {
            *lost += head - kJournalEntries - *next;
            *next = head - kJournalEntries;
        }
        if (*next == head) break;
        JournalEntry& e = j->entries[*next % kJournalEntries];
        out[n] = e;
        std::atomic_thread_fence(std::memory_order_acquire);
        if (atomic_ref(e.seq).load(std::memory_order_acquire) != *next || out[n].seq != *next) {
            // Being overwritten: the writer's head move counts it lost. A
            // writer stopped half-way is not waited for.
            if (++retries < 100000) continue;
            ++*lost;
        } else {
            ++n;
        }
        ++*next;
        retries = 0;
    }
    return n;
}

void Board::wait_journal(uint64_t next, uint32_t timeout_us)
{
    Journal* j = journal();
    atomic_ref(j->waiters).fetch_add(1);
    timespec t = {static_cast<time_t>(timeout_us / 1000000), static_cast<long>(timeout_us % 1000000) * 1000};
    if (atomic_ref(j->head).load() == next) futex(&j->wake, FUTEX_WAIT, static_cast<uint32_t>(next), &t);
    atomic_ref(j->waiters).fetch_sub(1);
}

void Board::wake_journal()
{
    Journal* j = journal();
    atomic_ref(j->wake).fetch_add(0x80000000u);
    futex(&j->wake, FUTEX_WAKE, INT_MAX, nullptr);
}

}  // namespace tavrel_sim
