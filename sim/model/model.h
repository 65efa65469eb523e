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
};

unsigned function_of(const Pins& p, unsigned pin);  // pin < kFselPins
unsigned pull_of(const Pins& p, unsigned pin);      // kPullOff past the chip's pins
// An output reads its latch; any other pin what is driven onto it, else
// its pull.
bool level_of(const Pins& p, unsigned pin);

// A well-formed 32-bit read or write of register word `word` (< kWords).
uint32_t read_register(const Pins& p, unsigned word);
void write_register(const Pins& p, unsigned word, uint32_t value);

// Drives the pins of `low` low and of `high` high, and lets go of those of
// `released` (a bit per pin, kBanks words each).
void drive_pins(const Pins& p, const uint32_t low[], const uint32_t high[], const uint32_t released[]);

}  // namespace tavrel_sim
