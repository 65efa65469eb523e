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

void reset();

}  // namespace tavrel_test::io_faults
