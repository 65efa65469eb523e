// SPDX-License-Identifier: MIT
// The access trace read back and described, for --trace and the reports;
// tools and tests only (it uses the C++ library, which the shim does not).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "model/registers.h"
#include "model/trace_record.h"

namespace tavrel_sim {

// The records of a trace file; `whole` (when not null) is false when the
// file ends in part of a record or cannot be read.
std::vector<TraceRecord> read_trace(const std::string& path, bool* whole = nullptr);
// Calls `take` with each record of a trace file in turn, in bounded
// memory; `whole` as read_trace has it.
void for_each_record(const std::string& path, bool* whole,
                     const std::function<void(const TraceRecord&)>& take);
// One line: process/thread, read or write, register, value, and any fault.
// Registers are named as the chip `soc` has them.
std::string describe(const TraceRecord& r, Soc soc = Soc::kBcm2835);

}  // namespace tavrel_sim
