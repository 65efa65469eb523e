// SPDX-License-Identifier: MIT
// The simulated BCM2835 GPIO block: its size, its pins and its registers,
// from the tables in registers.def, functions.def and pulls.def.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tavrel_sim {

constexpr unsigned kPageBytes = 4096;
constexpr unsigned kWords = kPageBytes / 4;
constexpr unsigned kPins = 54;      // GPIOs the BCM2835 bonds out
constexpr unsigned kFselPins = 60;  // pins GPFSEL0 to GPFSEL5 have fields for
constexpr unsigned kFselWords = 6;
constexpr unsigned kBanks = 2;  // GPSET, GPCLR, GPLEV and GPPUDCLK come in two words

// Register words, by name.
enum : unsigned {
#define SIM_REGISTER(name, word) name = word,
#include "model/registers.def"
#undef SIM_REGISTER
};

// The register's name, or null for a word that is plain storage.
const char* register_name(unsigned word);

// A pin's pull, in GPPUD's encoding.
constexpr unsigned kPullOff = 0, kPullDown = 1, kPullUp = 2;
const char* pull_name(unsigned pull);  // "off", "down", "up"

// Function-select code names: input, output, alt0..alt5.
const char* function_name(unsigned code);

}  // namespace tavrel_sim
