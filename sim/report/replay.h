// SPDX-License-Identifier: MIT
// What each pin did over a run, for --changes and the waveform, from the
// journal's replay (model/replay.h).
#pragma once

#include <stdint.h>

#include <vector>

#include "model/replay.h"

namespace tavrel_sim {

// What a run did to one pin: its functions and pulls in order (each change
// once, the first kHistoryEntries of them), and how often its level
// changed.
constexpr size_t kHistoryEntries = 1000;
struct PinHistory {
    std::vector<unsigned> functions, pulls;
    unsigned more_functions = 0, more_pulls = 0;  // changes past the first kHistoryEntries
    unsigned level_changes = 0;
};

}  // namespace tavrel_sim
