// SPDX-License-Identifier: MIT
#include "model/replay.h"

#include <string.h>

namespace tavrel_sim {

void Replay::apply(const JournalEntry& e)
{
    switch (e.kind) {
    case JournalEntry::kWrite:
        if (e.word < (is_rp1(s_.soc) ? kRp1Words : kWords)) write_register(pins(), e.word, e.a);
        break;
    case JournalEntry::kDrive: {
        uint32_t masks[3][kBanks] = {};  // low, high, released
        unsigned bank = e.bank % kBanks;
        masks[0][bank] = e.a;
        masks[1][bank] = e.b;
        masks[2][bank] = e.c;
        drive_pins(pins(), masks[0], masks[1], masks[2]);
        break;
    }
    case JournalEntry::kClear:
        memset(&s_, 0, sizeof s_);
        s_.soc = soc_from(e.a);
        if (is_rp1(s_.soc)) rp1_reset(pins());
        break;
    default: break;
    }
}

PinSnapshot Replay::snapshot()
{
    Pins p = pins();
    PinSnapshot s;
    s.soc = p.soc;
    for (unsigned pin = 0; pin < kFselPins; ++pin) {
        uint32_t bit = 1u << (pin % 32);
        s.fsel[pin] = static_cast<uint8_t>(function_of(p, pin));
        s.pull[pin] = static_cast<uint8_t>(pull_of(p, pin));
        s.level[pin] = level_of(p, pin);
        s.driving[pin] = p.driving[pin / 32] & bit;
        s.driven[pin] = p.driven[pin / 32] & bit;
    }
    return s;
}

PinSnapshot board_snapshot(Board& board)
{
    BoardState now;
    board.snapshot(&now);
    return Replay(now).snapshot();
}

}  // namespace tavrel_sim
