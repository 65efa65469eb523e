// Value Change Dump of a run on the simulated board, for waveform viewers
// such as GTKWave and PulseView.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <vector>

#include "board.h"

namespace tavrel_sim {

// A level driven onto a pin from outside, at a time.
struct DriveEvent {
    uint64_t ns;
    unsigned pin;
    bool high;
};

// The board as the run began.
struct BoardStart {
    unsigned fsel[60];
    uint32_t latch[2];
    uint32_t driven[2];
};

BoardStart board_start(Board& board);

// Writes the dump: one level signal (gpioN) and one function signal
// (gpioN_fn, a string) for each pin the run touched or drove, with times in
// microseconds from `t0_ns`. Returns false if writing failed.
bool write_vcd(FILE* out, const BoardStart& start, uint64_t t0_ns, const std::vector<TraceRecord>& trace,
               const std::vector<DriveEvent>& drives, const char* date, const char* version);

}  // namespace tavrel_sim
