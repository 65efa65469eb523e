// SPDX-License-Identifier: MIT
// The character device's line holders, in the board file, under the
// board's lock.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <atomic>

#include "model/blocked.h"
#include "model/board.h"
#include "model/pinctrl_rp1.h"

namespace tavrel_sim {

static_assert(sizeof(ModelState) <= kPageBytes, "the model's state fits its page");
static_assert(kLineDescs >= kMaxPins, "a descriptor for every pin of every chip");

namespace {

bool gone(uint32_t pid)
{
    return pid && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// What the kernel's release keeps of a line: its direction. The consumer
// is kept too, unshown, for watchers still to report the line's last
// changes.
void free_line(LineDesc& d)
{
    LineDesc freed = {};
    freed.flags = d.flags & (1ull << 3);  // GPIO_V2_LINE_FLAG_OUTPUT
    memcpy(freed.label, d.label, sizeof freed.label);
    d = freed;
}

}  // namespace

int Board::claim_lines(const uint32_t* offsets, unsigned n, const char* label, uint32_t pid,
                       uint32_t* request, unsigned* got, TraceSink* sink)
{
    SignalsBlocked blocked;
    int saved = errno;
    lock();
    reap_locked(sink);
    unsigned count = pin_count(soc());
    int err = 0;
    uint64_t taken = 0;
    for (*got = 0; *got < n; ++*got) {
        uint32_t offset = offsets[*got];
        err = offset >= count ? EINVAL : state_->lines[offset].pid || (taken >> offset & 1) ? EBUSY : 0;
        if (err) break;
        taken |= 1ull << offset;
    }
    if (!err) {
        *request = ++state_->next_request;
        if (!*request) *request = ++state_->next_request;
        for (unsigned i = 0; i < n; ++i) {
            LineDesc& d = state_->lines[offsets[i]];
            d.pid = pid;
            d.request = *request;
            d.debounce_us = 0;
            snprintf(d.label, sizeof d.label, "%s", label && *label ? label : "?");
        }
    }
    unlock();
    errno = saved;
    return err;
}

// The kernel's pinctrl makes a freed line an input: one read of its
// function word, and a write where it was something else. The Pi 5's
// leaves a software GPIO as it is.
void Board::kernel_input_locked(unsigned pin, TraceSink* sink)
{
    if (is_rp1(soc())) {
        struct Bus : KernelBus {
            Board* board;
            TraceSink* sink;
            uint32_t read(unsigned word) override { return board->kernel_read_locked(word, sink); }
            void write(unsigned word, uint32_t value) override
            {
                board->kernel_write_locked(word, value, sink);
            }
        } bus;
        bus.board = this;
        bus.sink = sink;
        rp1_kernel_free(bus, pin);
        return;
    }
    unsigned word = GPFSEL0 + pin / 10, shift = pin % 10 * 3;
    uint32_t value = read_register(pins(), word);
    append(sink, TraceRecord::kRead, word, value, TraceRecord::kKernel);
    if (!(value >> shift & 7)) return;
    value &= ~(7u << shift);
    write_register(pins(), word, value);
    log(JournalEntry::kWrite, word, 0, value, 0, 0, monotonic_ns());
    append(sink, TraceRecord::kWrite, word, value, TraceRecord::kKernel);
}

uint32_t Board::kernel_read_locked(unsigned word, TraceSink* sink)
{
    uint32_t value = read_register(pins(), word);
    append(sink, TraceRecord::kRead, word, value, TraceRecord::kKernel);
    return value;
}

void Board::kernel_write_locked(unsigned word, uint32_t value, TraceSink* sink)
{
    write_register(pins(), word, value);
    log(JournalEntry::kWrite, word, 0, value, 0, 0, monotonic_ns());
    append(sink, TraceRecord::kWrite, word, value, TraceRecord::kKernel);
}

void Board::kernel_input(unsigned pin, TraceSink* sink)
{
    SignalsBlocked blocked;
    lock();
    kernel_input_locked(pin, sink);
    unlock();
}

uint64_t Board::free_request_locked(uint32_t request, TraceSink* sink)
{
    uint64_t freed = 0;
    for (unsigned i = 0; i < kLineDescs; ++i)
        if (request && state_->lines[i].request == request) freed |= 1ull << i;
    if (!freed) return 0;
    Edges* x = edges();
    for (unsigned i = 0; i < kLineDescs; ++i) {
        if (!(freed >> i & 1)) continue;
        if (i < pin_count(soc())) kernel_input_locked(i, sink);
        x->lines[i] = EdgeLine{};
        x->detecting &= ~(1ull << i);
    }
    for (EdgeQueue& q : x->queues)
        if (q.request == request) q.request = 0;
    for (unsigned i = 0; i < kLineDescs; ++i)
        if (freed >> i & 1) free_line(state_->lines[i]);
    for (unsigned i = 0; i < kLineDescs; ++i)
        if (freed >> i & 1) note_line_locked(i, GPIO_V2_LINE_CHANGED_RELEASED);
    return freed;
}

uint64_t Board::free_request(uint32_t request, TraceSink* sink)
{
    SignalsBlocked blocked;
    lock();
    uint64_t freed = free_request_locked(request, sink);
    unlock();
    return freed;
}

// A request whose descriptor no process has open any more, however its
// last holder ended, is freed as the kernel frees it at the last close. One
// still being made has no descriptor yet: it goes only with its process.
void Board::reap_locked(TraceSink* sink)
{
    uint64_t checked = 0;
    for (unsigned i = 0; i < kLineDescs; ++i) {
        const LineDesc& d = state_->lines[i];
        if (!d.pid || (checked >> i & 1)) continue;
        uint32_t request = d.request;
        for (unsigned j = i; j < kLineDescs; ++j)
            if (state_->lines[j].request == request) checked |= 1ull << j;
        if (d.shown ? !request_open(request) : gone(d.pid)) free_request_locked(request, sink);
    }
}

void Board::reap(TraceSink* sink)
{
    SignalsBlocked blocked;
    lock();
    reap_locked(sink);
    unlock();
}

bool Board::holding()
{
    SignalsBlocked blocked;
    lock();
    bool any = false;
    for (const LineDesc& d : state_->lines) any |= d.pid != 0;
    unlock();
    return any;
}

void Board::show_lines(uint32_t request)
{
    SignalsBlocked blocked;
    lock();
    for (LineDesc& d : state_->lines)
        if (request && d.request == request) d.shown = 1;
    unlock();
}

// The line's information as it is now, with its consumer kept beside the
// entry: a watcher that reads late still reports who held the line then.
void Board::note_line_locked(unsigned offset, uint32_t change)
{
    const LineDesc& d = state_->lines[offset % kLineDescs];
    uint64_t flags = info_flags(d);
    uint64_t seq = atomic_ref(journal()->head).load();
    memcpy(edges()->labels[seq % kJournalEntries], d.label, kLabelBytes);
    log(JournalEntry::kLine, offset, 0, change, static_cast<uint32_t>(flags),
        flags & GPIO_V2_LINE_FLAG_USED ? d.debounce_us : 0, monotonic_ns());
}

void Board::note_line(unsigned offset, uint32_t change)
{
    SignalsBlocked blocked;
    lock();
    note_line_locked(offset, change);
    unlock();
}

bool Board::line_label(uint64_t seq, char* label)
{
    memcpy(label, edges()->labels[seq % kJournalEntries], kLabelBytes);
    label[kLabelBytes - 1] = '\0';
    std::atomic_thread_fence(std::memory_order_acquire);
    return atomic_ref(journal()->head).load() < seq + kJournalEntries;
}

LineDesc Board::line(unsigned offset)
{
    SignalsBlocked blocked;
    lock();
    LineDesc d = offset < kLineDescs ? state_->lines[offset] : LineDesc{};
    unlock();
    return d;
}

bool Board::held(unsigned offset)
{
    SignalsBlocked blocked;
    lock();
    reap_locked(nullptr);
    bool used = offset < kLineDescs && (info_flags(state_->lines[offset]) & GPIO_V2_LINE_FLAG_USED);
    unlock();
    return used;
}

void Board::set_line(uint32_t request, unsigned offset, uint64_t flags, uint32_t debounce_us)
{
    SignalsBlocked blocked;
    lock();
    if (offset < kLineDescs && request && state_->lines[offset].request == request) {
        state_->lines[offset].flags = flags;
        state_->lines[offset].debounce_us = debounce_us;
    } else if (offset < kLineDescs && !request && !state_->lines[offset].pid) {
        state_->lines[offset].flags = flags;
        free_line(state_->lines[offset]);
    }
    unlock();
}

}  // namespace tavrel_sim
