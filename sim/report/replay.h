// SPDX-License-Identifier: MIT
// The board's journal replayed through the board's own model: what each
// pin did, for --changes, the waveform and watch.
#pragma once

#include <stdint.h>

#include <vector>

#include "model/board.h"

namespace tavrel_sim {

// Every pin's function, pull, level and drive at one moment.
struct PinSnapshot {
    uint8_t fsel[kFselPins], pull[kFselPins];
    bool level[kFselPins], driving[kFselPins], driven[kFselPins];
    Soc soc;
};

// The board's state, replayed from a start through the journal's entries.
class Replay {
public:
    explicit Replay(const BoardState& start) : s_(start) {}
    void apply(const JournalEntry& e);
    PinSnapshot snapshot();
    Pins pins() { return {s_.regs, s_.latch, s_.driven, s_.driving, s_.pull, s_.soc}; }

private:
    BoardState s_;
};

// The pins as the model has them on the board now.
PinSnapshot board_snapshot(Board& board);

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
