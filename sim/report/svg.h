// SPDX-License-Identifier: MIT
// A run drawn for a browser (svg.cpp).
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <vector>

#include "report/replay.h"

namespace tavrel_sim {

// Draws `pins` from their state at `start` through the waveform's value
// changes in `body` (read from its start), over `end_us` microseconds:
// each pin's level as a trace and its functions as labelled bands, on a
// time axis. The root and each pin's group carry data-* attributes with
// the geometry (data-x0, data-plot-width, data-end-us; data-pin,
// data-high, data-low: the trace's two levels; data-band: the band's top), for tools that read the picture
// back. False if reading or writing failed.
bool write_svg(FILE* out, const std::vector<unsigned>& pins, const PinSnapshot& start, FILE* body,
               uint64_t end_us);

}  // namespace tavrel_sim
