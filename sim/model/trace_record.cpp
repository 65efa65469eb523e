// SPDX-License-Identifier: MIT
#include "model/trace_record.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace tavrel_sim {

uint64_t monotonic_ns()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);  // async-signal-safe
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

TraceRecord make_record(TraceRecord::Kind kind, unsigned word, uint32_t value, uint8_t flags, uint32_t width)
{
    TraceRecord r = {};
    r.pid = static_cast<uint32_t>(getpid());
    r.tid = static_cast<uint32_t>(syscall(SYS_gettid));
    r.ns = monotonic_ns();
    r.word = static_cast<uint16_t>(word);
    r.kind = kind;
    r.flags = flags;
    r.value = value;
    r.width = width;
    return r;
}

}  // namespace tavrel_sim
