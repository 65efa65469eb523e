// SPDX-License-Identifier: MIT
// One access to the block as the trace file holds it: what the shim
// appends under the board's lock and the reports read back.
#pragma once

#include <stdint.h>

namespace tavrel_sim {

struct TraceRecord {
    enum Kind : uint8_t { kRead = 1, kWrite = 2 };
    enum Flag : uint8_t { kBadWidth = 1, kUnaligned = 2, kAfterUnmap = 4, kKernel = 8 };
    // kKernel: not an error, an access the simulated kernel made on the
    // process's behalf (its GPIO character device).
    uint32_t pid;
    uint32_t tid;
    uint64_t ns;  // CLOCK_MONOTONIC
    uint16_t word;
    uint8_t kind;
    uint8_t flags;  // 0 for a well-formed access
    uint32_t value;
    uint32_t width;  // bytes
    uint32_t reserved;
};
static_assert(sizeof(TraceRecord) == 32, "trace records are fixed-size");

// The record of an access by this thread, now.
TraceRecord make_record(TraceRecord::Kind kind, unsigned word, uint32_t value, uint8_t flags, uint32_t width);
uint64_t monotonic_ns();

// Where traced accesses go. Called with the board's lock held and every
// signal blocked; false when the record could not be written whole.
class TraceSink {
public:
    virtual bool append(const TraceRecord& record) = 0;

protected:
    ~TraceSink() = default;
};

}  // namespace tavrel_sim
