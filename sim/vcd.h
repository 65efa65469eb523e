// SPDX-License-Identifier: MIT
// Value Change Dump of a run on the simulated board, for waveform viewers
// such as GTKWave and PulseView.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <vector>

#include "board.h"

namespace tavrel_sim {

// A drive applied to a pin, at a time.
struct DriveEvent {
    uint64_t ns;
    unsigned pin;
    Drive drive;
};

// The board as the run began.
struct BoardStart {
    unsigned fsel[60];
    uint32_t latch[2];
    uint32_t driven[2];
    uint32_t driving[2];
    uint8_t pull[kPins];
    uint32_t pud, pudclk[2];  // the pull control and clocks
};

BoardStart board_start(Board& board);

// What a run did to one pin, replayed from its trace and drives: its
// functions and pulls in order (each change once), and how often its level
// changed.
struct PinHistory {
    std::vector<unsigned> functions, pulls;
    unsigned level_changes = 0;
};
std::vector<PinHistory> pin_histories(const BoardStart& start, const std::vector<TraceRecord>& trace,
                                      const std::vector<DriveEvent>& drives);

// The pins a run touched, drove or pulled, ascending.
std::vector<unsigned> touched_pins(const BoardStart& start, const std::vector<TraceRecord>& trace,
                                   const std::vector<DriveEvent>& drives);

// Writes the dump: for each pin the run touched, drove or pulled, one-bit
// wires for its level (gpioN), the bits of its function-select code
// (gpioN_fn2, _fn1, _fn0) and of its pull (gpioN_pull1, _pull0), with
// times in microseconds from `t0_ns`. Returns false if writing failed.
bool write_vcd(FILE* out, const BoardStart& start, uint64_t t0_ns, const std::vector<TraceRecord>& trace,
               const std::vector<DriveEvent>& drives, const char* date, const char* version);

// Writes a GTKWave save file for the dump at `vcd_path` showing `pins`:
// levels, and functions and pulls by name through the translate filters
// function.txt and pull.txt in the directory `filters`.
bool write_gtkw(FILE* out, const char* vcd_path, const std::vector<unsigned>& pins, const char* filters);

}  // namespace tavrel_sim
