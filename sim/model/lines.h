// SPDX-License-Identifier: MIT
// The kernel's view of each line of the GPIO character device, kept in the
// board file beside the model: every process on the board sees one holder
// per line, as every process on a Pi sees the one kernel's.
#pragma once

#include <linux/gpio.h>
#include <stdint.h>

namespace tavrel_sim {

struct LineDesc {
    uint32_t pid;      // the holder's process; 0 when the line is free
    uint32_t request;  // the holder's request, unique on the board
    // The kernel's flags for the line, as GPIO_V2_LINE_FLAG_* bits (USED
    // aside). OUTPUT outlives the request, as the kernel's IS_OUT does.
    uint64_t flags;
    uint32_t debounce_us;
    char label[32];  // the consumer; "?" for a request that named none
    // Shown as held once its request is wholly made, edge detection and
    // all: a client that sees the line held may rely on its events.
    uint32_t shown;
};
static_assert(sizeof(LineDesc) == 56, "line descriptors are fixed-size");

constexpr unsigned kLineDescs = 64;

// The flags the line's information shows: its direction, and USED while a
// wholly made request holds it.
inline uint64_t info_flags(const LineDesc& d)
{
    constexpr uint64_t kIn = GPIO_V2_LINE_FLAG_INPUT, kOut = GPIO_V2_LINE_FLAG_OUTPUT;
    uint64_t flags = (d.flags & ~(kIn | kOut)) | (d.flags & kOut ? kOut : kIn);
    return d.pid && d.shown ? flags | GPIO_V2_LINE_FLAG_USED : flags;
}

}  // namespace tavrel_sim
