// SPDX-License-Identifier: MIT
// The device's behaviour, written once: what a register access does to the
// pins and what each pin reads. The live board applies it to the board
// file under its lock; the replay behind --vcd and --changes applies it to
// a copy of its own, so that the two cannot disagree.
#pragma once

#include <stdint.h>

#include "model/registers.h"

namespace tavrel_sim {

// What a device outside does to a pin: drive it low or high, or let go.
enum class Drive : uint8_t { kLow, kHigh, kRelease };

// The state the model decides with, wherever it lives.
struct Pins {
    volatile uint32_t* regs;  // the register page, kWords words
    uint32_t* latch;          // output latches, kBanks words
    uint32_t* driven;         // levels driven from outside, kBanks words
    uint32_t* driving;        // pins something outside drives, kBanks words
    uint8_t* pull;            // kPull* codes, kMaxPins of them: latched by a GPPUDCLK
                              // pulse, or on the BCM2711 what its pull controls hold
    Soc soc;
    // The RP1: `regs` is its whole window (kRp1Words), or in a copy only
    // the words that decide the pins, packed (rp1_packed_word); its latch
    // and pulls are in its registers.
    bool packed = false;
};

// A function code (registers.h), pin < kFselPins.
unsigned function_of(const Pins& p, unsigned pin);
unsigned pull_of(const Pins& p, unsigned pin);  // kPullOff past the chip's pins
// An output reads its latch; any other pin what is driven onto it, else
// its pull.
bool level_of(const Pins& p, unsigned pin);

// A well-formed 32-bit read or write of register word `word` (< kWords,
// or on the RP1 < kRp1Words).
uint32_t read_register(const Pins& p, unsigned word);
void write_register(const Pins& p, unsigned word, uint32_t value);

// Drives the pins of `low` low and of `high` high, and lets go of those of
// `released` (a bit per pin, kBanks words each).
void drive_pins(const Pins& p, const uint32_t low[], const uint32_t high[], const uint32_t released[]);

// The RP1's side of the above (model_rp1.cpp), and its window's reset:
// no GPIO has a function.
unsigned rp1_function(const Pins& p, unsigned pin);
unsigned rp1_pull(const Pins& p, unsigned pin);
bool rp1_level(const Pins& p, unsigned pin);
uint32_t rp1_read_register(const Pins& p, unsigned word);
void rp1_write_register(const Pins& p, unsigned word, uint32_t value);
void rp1_reset(const Pins& p);
// Copies the words that decide the pins from a window into a packed copy.
void rp1_pack(const volatile uint32_t* window, uint32_t* packed);

}  // namespace tavrel_sim
