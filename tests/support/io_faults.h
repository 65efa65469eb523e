// SPDX-License-Identifier: MIT
// Fault injection at the C library's read and write, as libtavrel calls
// them: this test program defines both, so the library binds to these.
#pragma once

#include <atomic>
#include <cstddef>

namespace tavrel_test::io_faults {

// No descriptor: -1 is a descriptor tests pass on purpose.
constexpr int kNone = -1000;

// Reads of this descriptor fail with EAGAIN this many times.
extern std::atomic<int> eagain_fd;
extern std::atomic<int> eagain_count;
// Writes to this descriptor return 0.
extern std::atomic<int> stalled_fd;
// Writes to this descriptor are counted.
extern std::atomic<int> counted_fd;
extern std::atomic<size_t> counted_bytes;
extern std::atomic<size_t> counted_calls;
extern std::atomic<size_t> counted_eintr;

// Each clock_gettime(CLOCK_MONOTONIC) the library makes moves the clock on
// by this many nanoseconds more than time has passed.
extern std::atomic<long> clock_step_ns;
// The largest count the library asked read() for on counted_fd, and how
// many reads of it there were.
extern std::atomic<size_t> largest_read;
extern std::atomic<size_t> read_calls;

void reset();

}  // namespace tavrel_test::io_faults
