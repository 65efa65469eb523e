// SPDX-License-Identifier: MIT
// The board's journal replayed through the board's own model: the pins'
// state at each step, for the reports, watch and the character device's
// edge detection. Built like the model, with no C++ runtime.
#pragma once

#include <stdint.h>

#include "model/board.h"

namespace tavrel_sim {

// Every pin's function, pull, level and drive at one moment.
struct PinSnapshot {
    uint8_t fsel[kFselPins], pull[kFselPins];
    bool level[kFselPins], driving[kFselPins], driven[kFselPins];
    Soc soc;
};

// The model's view of a copy of the board's state.
inline Pins pins_of(BoardState& s)
{
    return {s.regs, s.latch, s.driven, s.driving, s.pull, s.soc, is_rp1(s.soc)};
}

// The board's state, replayed from a start through the journal's entries.
class Replay {
public:
    explicit Replay(const BoardState& start) : s_(start) {}
    void apply(const JournalEntry& e);
    PinSnapshot snapshot();
    Pins pins() { return pins_of(s_); }

private:
    BoardState s_;
};

// The pins as the model has them on the board now.
PinSnapshot board_snapshot(Board& board);

}  // namespace tavrel_sim
