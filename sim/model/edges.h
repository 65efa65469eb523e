// SPDX-License-Identifier: MIT
// Edge detection of the character device's line requests, in the board
// file after the journal. A pin's change is detected by the process that
// makes it, under the board's lock, at the moment it makes it, as the
// BCM2835's edge detection sees whatever changed the level: the event goes
// straight into its request's queue here, stamped then. Nothing depends on
// a thread of the requesting process keeping up.
//
// A request's descriptor is a datagram socket bound to a name of the
// board's (request_name): one datagram waits in it exactly while events
// wait in its queue, so that poll, select and epoll answer as the kernel's
// descriptor does, and any process can make it readable. The socket lives
// as long as any copy of the descriptor, in any process, is open: a name
// that no longer answers is a request whose last copy was closed, however
// its process ended.
#pragma once

#include <linux/gpio.h>
#include <stddef.h>
#include <stdint.h>

#include "model/journal.h"
#include "model/lines.h"

namespace tavrel_sim {

constexpr unsigned kEdgeLines = 64;    // the kernel's GPIO_V2_LINES_MAX
constexpr unsigned kEdgeQueues = 64;   // a request detects on one line at least
constexpr unsigned kMaxEvents = 1024;  // the kernel's largest buffer: 16 a line
constexpr unsigned kLabelBytes = 32;

// One detecting line, by offset.
struct EdgeLine {
    uint32_t queue;  // its request's queue + 1; 0 while the line detects nothing
    uint32_t index;  // its place in the request
    uint64_t flags;  // GPIO_V2_LINE_FLAG_EDGE_*, ACTIVE_LOW, EVENT_CLOCK_REALTIME
    uint32_t debounce_us;
    uint32_t line_seqno;
    uint8_t level;      // the raw level last seen
    uint8_t debounced;  // the debounced raw level
    uint8_t reserved[6];
    // Software debouncing, as the kernel does it for a chip without it:
    // each change (re)starts a wait of the period; when it ends, a level
    // that differs from the debounced one becomes it, an event stamped
    // then. CLOCK_MONOTONIC ns; 0 when no wait runs.
    uint64_t deadline;
};

struct EdgeQueue {
    uint32_t request;   // the board's request id; 0: free
    uint32_t v1;        // a v1 line event: read as gpioevent_data, the newest dropped when full
    uint32_t lines;     // in the request
    uint32_t capacity;  // a power of two, as the kernel's kfifo rounds it
    uint32_t head, count;
    uint32_t seqno;
    uint32_t reserved;
    gpio_v2_line_event ring[kMaxEvents];
};

struct Edges {
    uint64_t nonce;      // names this board's sockets apart from a board made before
    uint64_t detecting;  // lines that detect, a bit per offset
    // Futex word, bumped whenever a debounce wait starts: a process that
    // ends waits sleeps on it.
    uint32_t waits;
    uint32_t reserved[11];
    EdgeLine lines[kEdgeLines];
    // The consumer of each kLine entry of the journal, by its slot there,
    // taken when the entry was written.
    char labels[kJournalEntries][kLabelBytes];
    EdgeQueue queues[kEdgeQueues];
};

// The abstract socket name of request `request` on a board: its file's
// device, inode and nonce. Fills `path` (sun_path, 108 bytes) and returns
// the name's length, the leading NUL included.
size_t request_name(uint64_t dev, uint64_t ino, uint64_t nonce, uint32_t request, char* path);

}  // namespace tavrel_sim
