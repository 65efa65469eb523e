// SPDX-License-Identifier: MIT
// A run followed as it goes: each journal entry replayed through the
// model, the pins' histories kept and the waveform's changes written out
// at once, so that neither grows in memory with the run's length.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <vector>

#include "report/replay.h"

namespace tavrel_sim {

class Recorder {
public:
    // `body` (or null): where the waveform's value changes go, as they
    // come, with times in microseconds from `t0_ns`.
    Recorder(const BoardState& start, uint64_t t0_ns, FILE* body);
    void take(const JournalEntry& e);
    // Pin by pin: its functions in order, its pulls, its level changes.
    const std::vector<PinHistory>& histories() const { return history_; }
    Soc soc() const { return start_.soc; }
    // The pins the run touched, drove or pulled, ascending.
    std::vector<unsigned> touched() const;
    // The whole dump to `out`: the header for the touched pins, then the
    // changes written to the body. False if reading or writing failed.
    bool write_vcd(FILE* out, const char* date, const char* version);
    // The touched pins drawn as a picture (svg.h), over `end_us`.
    bool write_svg(FILE* out, uint64_t end_us);

private:
    void record(unsigned pin, const PinSnapshot& now, uint64_t us, bool* stamped);

    PinSnapshot start_;
    Replay replay_;
    PinSnapshot last_;
    uint64_t t0_ns_, last_us_ = 0;
    FILE* body_;
    bool touched_[kFselPins] = {};
    std::vector<PinHistory> history_;
};

}  // namespace tavrel_sim
