// SPDX-License-Identifier: MIT
// A run's waveform: the Value Change Dump for GTKWave, PulseView and
// sigrok (vcd.cpp), and GTKWave's save file for it (gtkw.cpp).
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <vector>

#include "report/replay.h"

namespace tavrel_sim {

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
