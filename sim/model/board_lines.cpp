// SPDX-License-Identifier: MIT
// The character device's line holders, in the board file, under the
// board's lock.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include "model/blocked.h"
#include "model/board.h"

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
                       uint32_t* request, uint64_t* reclaimed, unsigned* got)
{
    SignalsBlocked blocked;
    int saved = errno;
    lock();
    *reclaimed = 0;
    unsigned count = pin_count(soc());
    for (unsigned i = 0; i < count; ++i) {
        LineDesc& d = state_->lines[i];
        if (gone(d.pid)) {
            free_line(d);
            *reclaimed |= 1ull << i;
        }
    }
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

uint64_t Board::release_lines(uint32_t request)
{
    SignalsBlocked blocked;
    lock();
    uint64_t freed = 0;
    for (unsigned i = 0; i < kLineDescs; ++i) {
        LineDesc& d = state_->lines[i];
        if (!request || d.request != request) continue;
        free_line(d);
        freed |= 1ull << i;
    }
    unlock();
    return freed;
}

void Board::show_lines(uint32_t request)
{
    SignalsBlocked blocked;
    lock();
    for (LineDesc& d : state_->lines)
        if (request && d.request == request) d.shown = 1;
    unlock();
}

void Board::note_line(unsigned offset, uint32_t change, uint32_t flags, uint32_t debounce_us)
{
    SignalsBlocked blocked;
    lock();
    log(JournalEntry::kLine, offset, 0, change, flags, debounce_us, monotonic_ns());
    unlock();
}

LineDesc Board::line(unsigned offset)
{
    SignalsBlocked blocked;
    lock();
    LineDesc d = offset < kLineDescs ? state_->lines[offset] : LineDesc{};
    unlock();
    if (gone(d.pid)) free_line(d);
    return d;
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
