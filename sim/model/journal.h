// SPDX-License-Identifier: MIT
// The board's journal: every step that can change a pin (a register write
// that reaches the pins, a drive from outside, a reset), in the order the
// board's lock took them, whichever process made it. tavrel-sim follows it
// during a run for --changes and the waveform, and `watch` follows it
// live; both replay it through the model. It lies in the board file after
// the model's page, a ring that a reader who falls behind finds overwritten
// and can count.
#pragma once

#include <stdint.h>

#include "model/registers.h"
#include "model/rp1.h"

namespace tavrel_sim {

struct JournalEntry {
    // kLine: a line of the character device requested, released or
    // reconfigured, which changes no pin but its watchers see.
    enum Kind : uint8_t { kWrite = 1, kDrive = 2, kClear = 3, kLine = 4 };
    uint64_t seq;  // from 0, without gaps; written last
    uint64_t ns;   // CLOCK_MONOTONIC
    uint8_t kind;
    uint8_t bank;   // kDrive: the bank its masks are of
    uint16_t word;  // kWrite: the register word; kLine: the line
    uint32_t a;     // kWrite: the value; kDrive: the pins driven low; kClear: the Soc;
                    // kLine: what changed (GPIO_V2_LINE_CHANGED_*)
    uint32_t b;     // kDrive: the pins driven high; kLine: the line's flags
    uint32_t c;     // kDrive: the pins let go; kLine: its debounce period
};
static_assert(sizeof(JournalEntry) == 32, "journal entries are fixed-size");

constexpr unsigned kJournalEntries = 2048;

struct Journal {
    uint32_t wake;     // futex word: the low half of head, changed with it
    uint32_t waiters;  // readers that may be asleep on `wake`
    uint64_t head;     // the next entry's seq
    uint8_t reserved[48];
    JournalEntry entries[kJournalEntries];
};

constexpr unsigned kJournalBytes = (sizeof(Journal) + kPageBytes - 1) / kPageBytes * kPageBytes;

// Writes that reach the pins, or decide what a later one does (GPPUD).
inline bool journaled(unsigned word, Soc soc)
{
    if (is_rp1(soc)) {
        Rp1Register::Kind kind = rp1_register(word * 4).kind;
        return kind == Rp1Register::kCtrl || kind == Rp1Register::kPad || kind == Rp1Register::kRioOut ||
               kind == Rp1Register::kRioOe;
    }
    return word < kFselWords || word == GPSET0 || word == GPSET1 || word == GPCLR0 || word == GPCLR1 ||
           word == GPPUD || word == GPPUDCLK0 || word == GPPUDCLK1 ||
           (word >= GPIO_PUP_PDN_CNTRL_REG0 && word <= GPIO_PUP_PDN_CNTRL_REG3);
}

}  // namespace tavrel_sim
