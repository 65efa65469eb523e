// SPDX-License-Identifier: MIT
// A run's waveform: the Value Change Dump for GTKWave, PulseView and
// sigrok (vcd.cpp), and GTKWave's save file for it (gtkw.cpp). For each
// pin, one-bit wires for its level (gpioN), the bits of its
// function-select code (gpioN_fn2, _fn1, _fn0, and on a Pi 5 board, whose
// codes go past 7, gpioN_fn3) and of its pull (gpioN_pull1, _pull0).
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <vector>

#include "report/replay.h"

namespace tavrel_sim {

// The dump's header declaring `pins`, and their values at the start (time
// 0); false if writing failed.
bool write_vcd_header(FILE* out, const std::vector<unsigned>& pins, const PinSnapshot& start,
                      const char* date, const char* version);
// The value changes of `pin` from `before` to `after`.
void write_vcd_changes(FILE* out, unsigned pin, const PinSnapshot& before, const PinSnapshot& after);

inline bool has_fourth_function_bit(Soc soc)
{
    return is_rp1(soc);
}

// Writes a GTKWave save file for the dump at `vcd_path` showing `pins` of
// a board of `soc`: levels, and functions and pulls by name through the
// translate filters function.txt and pull.txt in the directory `filters`.
bool write_gtkw(FILE* out, const char* vcd_path, const std::vector<unsigned>& pins, const char* filters,
                Soc soc);

}  // namespace tavrel_sim
