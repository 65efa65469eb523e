// SPDX-License-Identifier: MIT
#include "report/vcd.h"

#include <string>

namespace tavrel_sim {

namespace {

// Identifier codes from the printable range, as VCD wants.
std::string code(unsigned n)
{
    std::string s;
    do {
        s += static_cast<char>('!' + n % 94);
        n /= 94;
    } while (n);
    return s;
}

}  // namespace

bool write_vcd(FILE* out, const BoardStart& start, uint64_t t0_ns, const std::vector<TraceRecord>& trace,
               const std::vector<DriveEvent>& drives, const char* date, const char* version)
{
    std::vector<unsigned> pins = touched_pins(start, trace, drives);

    // One-bit wires only, which every viewer reads: per pin its level, the
    // three bits of its function-select code and the two of its pull.
    constexpr unsigned kWires = 6;
    auto id = [](unsigned p, unsigned wire) { return code(kWires * p + wire); };
    fprintf(out, "$date %s $end\n$version %s $end\n$timescale 1us $end\n$scope module gpio $end\n", date,
            version);
    for (unsigned p : pins) {
        fprintf(out, "$var wire 1 %s gpio%u $end\n", id(p, 0).c_str(), p);
        for (unsigned b = 0; b < 3; ++b)
            fprintf(out, "$var wire 1 %s gpio%u_fn%u $end\n", id(p, 1 + b).c_str(), p, 2 - b);
        for (unsigned b = 0; b < 2; ++b)
            fprintf(out, "$var wire 1 %s gpio%u_pull%u $end\n", id(p, 4 + b).c_str(), p, 1 - b);
    }
    // The bits of `value` that `changed` marks, highest first, to the
    // `width` wires from `first` on.
    auto put_bits = [&](unsigned p, unsigned first, unsigned width, unsigned value, unsigned changed) {
        for (unsigned b = 0; b < width; ++b) {
            unsigned shift = width - 1 - b;
            if ((changed >> shift) & 1)
                fprintf(out, "%u%s\n", (value >> shift) & 1, id(p, first + b).c_str());
        }
    };
    fprintf(out, "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n");
    Replay replay(start);
    PinSnapshot before = replay.snapshot();
    for (unsigned p : pins) {
        fprintf(out, "%d%s\n", before.level[p], id(p, 0).c_str());
        put_bits(p, 1, 3, before.fsel[p], ~0u);
        put_bits(p, 4, 2, before.pull[p], ~0u);
    }
    fprintf(out, "$end\n");

    uint64_t last_us = 0;
    for (const Step& step : steps_of(trace, drives)) {
        replay.apply(step);
        PinSnapshot after = replay.snapshot();
        uint64_t us = step.ns > t0_ns ? (step.ns - t0_ns) / 1000 : 0;
        bool stamped = false;
        for (unsigned p : pins) {
            bool level_changed = before.level[p] != after.level[p];
            bool fn_changed = before.fsel[p] != after.fsel[p];
            bool pull_changed = before.pull[p] != after.pull[p];
            if (!level_changed && !fn_changed && !pull_changed) continue;
            if (!stamped && us > last_us) {
                fprintf(out, "#%llu\n", static_cast<unsigned long long>(us));
                last_us = us;
            }
            stamped = true;
            put_bits(p, 1, 3, after.fsel[p], after.fsel[p] ^ before.fsel[p]);
            put_bits(p, 4, 2, after.pull[p], after.pull[p] ^ before.pull[p]);
            if (level_changed) fprintf(out, "%d%s\n", after.level[p], id(p, 0).c_str());
        }
        before = after;
    }
    return !ferror(out);
}

}  // namespace tavrel_sim
