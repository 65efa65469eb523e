// SPDX-License-Identifier: MIT
// A run replayed from its trace and its drives through the board's own
// model: what each pin did, for --changes, --vcd and --gtkw.
#pragma once

#include <stdint.h>

#include <vector>

#include "model/board.h"

namespace tavrel_sim {

// A drive applied to a pin, at a time.
struct DriveEvent {
    uint64_t ns;
    unsigned pin;
    Drive drive;
};

// The board as the run began: its register page and the model's state.
struct BoardStart {
    uint32_t regs[kWords];
    uint32_t latch[kBanks], driven[kBanks], driving[kBanks];
    uint8_t pull[kPins];
};
BoardStart board_start(Board& board);

// Every pin's function, pull and level at one moment.
struct PinSnapshot {
    uint8_t fsel[kFselPins], pull[kFselPins];
    bool level[kFselPins];
};

// The run's steps that reach the model, in time order: the well-formed
// writes of the trace (a malformed one the model dropped) and the drives.
struct Step {
    uint64_t ns;
    bool is_drive;
    unsigned index;  // the register word written, or the pin driven
    uint32_t value;  // the value written, or the Drive
};
std::vector<Step> steps_of(const std::vector<TraceRecord>& trace, const std::vector<DriveEvent>& drives);

// The board's state, replayed from a start through steps.
class Replay {
public:
    explicit Replay(const BoardStart& start);
    void apply(const Step& step);
    PinSnapshot snapshot();
    Pins pins() { return {regs_, latch_, driven_, driving_, pull_}; }

private:
    uint32_t regs_[kWords];
    uint32_t latch_[kBanks], driven_[kBanks], driving_[kBanks];
    uint8_t pull_[kPins];
};

// The pins as the model has them on the board now.
PinSnapshot board_snapshot(Board& board);

// What a run did to one pin: its functions and pulls in order (each change
// once), and how often its level changed.
struct PinHistory {
    std::vector<unsigned> functions, pulls;
    unsigned level_changes = 0;
};
std::vector<PinHistory> pin_histories(const BoardStart& start, const std::vector<TraceRecord>& trace,
                                      const std::vector<DriveEvent>& drives);

// The pins a run touched, drove or pulled, ascending.
std::vector<unsigned> touched_pins(const BoardStart& start, const std::vector<TraceRecord>& trace,
                                   const std::vector<DriveEvent>& drives);

}  // namespace tavrel_sim
