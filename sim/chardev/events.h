// SPDX-License-Identifier: MIT
// Edge events of the character device's requests. A thread of the
// process follows the board's journal (every step that can change a pin,
// by any process, with its CLOCK_MONOTONIC time) and replays it through
// the model: a requested line whose level changes gives an event, as the
// BCM2835's edge detection does whatever changed the level. Events wait
// in the request's buffer, which drops its oldest when full; the
// request's eventfd is readable exactly while events wait.
#pragma once

#include <linux/gpio.h>
#include <pthread.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include "chardev/files.h"
#include "model/board.h"

namespace tavrel_sim::cdev {

constexpr unsigned kMaxEvents = kMaxLines * 16;  // the kernel's largest buffer

struct Events {
    pthread_mutex_t lock;
    int fd;             // the request's eventfd: its counter is nonzero while events wait
    unsigned capacity;  // a power of two, as the kernel's kfifo rounds it
    unsigned head, count;
    uint32_t seqno;
    bool v1;  // a v1 line event: read as gpioevent_data
    // Per line of the request, as the request orders them.
    uint64_t flags[kMaxLines];  // the line's edge and clock flags, with ACTIVE_LOW
    uint32_t line_seqno[kMaxLines];
    bool level[kMaxLines];  // the raw level last seen
    // Software debouncing, as the kernel does it for a chip without it:
    // each change of level (re)starts a wait of the period; when it ends,
    // a level that differs from the debounced one becomes it, with an
    // event stamped then.
    uint32_t debounce_us[kMaxLines];
    bool debounced[kMaxLines];     // the debounced raw level
    uint64_t deadline[kMaxLines];  // CLOCK_MONOTONIC ns; 0 when no wait runs
    uint64_t since[kMaxLines];     // journal entries from this one on are the line's
    unsigned n;
    uint32_t offsets[kMaxLines];
    gpio_v2_line_event ring[kMaxEvents];
};

// Starts, once, the thread that follows the board's journal.
void watcher_start(Board& board);

// The events of the request in table slot `slot`, made ready for a new
// request on `fd` of `n` lines with these edge flags and debounce periods:
// the board's levels now as their start. Null, with errno, when no memory
// could be had.
Events* events_start(Board& board, unsigned slot, int fd, const Request& r, const uint64_t* flags,
                     const uint32_t* debounce_us, unsigned buffer, bool v1);
// A new configuration's edge flags and periods; a line whose either
// changed starts again from its level now, as the kernel's does.
void events_reconfigure(Board& board, Events* e, const uint64_t* flags, const uint32_t* debounce_us);
// A debounced line's logical value; false for a line not debounced.
bool events_debounced(Events* e, unsigned i, bool* value);
// Stops detection for the request; its descriptor is closing.
void events_stop(Events* e);
// A read of the request's descriptor: whole events, waiting for one as the
// kernel does. Bytes, or a negative errno.
ssize_t events_read(Events* e, void* buf, size_t count);

}  // namespace tavrel_sim::cdev
