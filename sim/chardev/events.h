// SPDX-License-Identifier: MIT
// Edge events of the character device's requests, as this process sees
// them. Detection itself is the board's (model/edges.h): whichever process
// changes a pin queues the event there, at that moment. What is left here:
// a request descriptor's read, and a thread that ends debounce waits on
// time and passes line-information changes to this process's watchers.
#pragma once

#include <stddef.h>
#include <sys/types.h>

#include "chardev/files.h"
#include "model/board.h"

namespace tavrel_sim::cdev {

// Starts, once, the thread that follows the board's journal.
void watcher_start(Board& board);

// A read of the request's descriptor: whole events, waiting for one as the
// kernel does. Bytes, or a negative errno; -ENOENT when no line of the
// request detects edges.
ssize_t events_read(Board& board, const Request& r, void* buf, size_t count);

}  // namespace tavrel_sim::cdev
