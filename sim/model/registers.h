// SPDX-License-Identifier: MIT
// The simulated GPIO block of the BCM2835 family (the BCM2835 of the Pi
// Zero and Pi 1 to 3, or the Pi 4's BCM2711): its size, its pins and its
// registers, from the tables in registers.def, functions.def and pulls.def;
// and which chips a board can be, the Pi 5's among them (rp1.h).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tavrel_sim {

constexpr unsigned kPageBytes = 4096;
constexpr unsigned kWords = kPageBytes / 4;
constexpr unsigned kPins = 54;      // GPIOs the BCM2835 bonds out
constexpr unsigned kMaxPins = 58;   // and the BCM2711
constexpr unsigned kFselPins = 60;  // pins GPFSEL0 to GPFSEL5 have fields for
constexpr unsigned kFselWords = 6;
constexpr unsigned kBanks = 2;  // GPSET, GPCLR, GPLEV and GPPUDCLK come in two words

// The chip whose block the board is. The values are what the board file
// stores: a board made before the choice existed holds 0, a BCM2835.
// The Pi 5's BCM2712 has its GPIO in the RP1 I/O controller.
enum class Soc : uint32_t { kBcm2835 = 0, kBcm2711 = 1, kBcm2712 = 2 };

// What tells the chips apart, each described once, in Soc order. The
// library keeps its own description; the tests keep a third, their oracle.
struct SocModel {
    const char* name;             // as --soc takes it
    const char* label;            // the kernel's GPIO chip's, pinctrl's driver name
    const char* gpio_compatible;  // the GPIO node's, in the device tree
    unsigned pins;                // GPIOs bonded out: with a level, a pull and a line
};
constexpr SocModel kSocs[] = {
    {"bcm2835", "pinctrl-bcm2835", "brcm,bcm2835-gpio", kPins},
    {"bcm2711", "pinctrl-bcm2711", "brcm,bcm2711-gpio", kMaxPins},
    {"bcm2712", "pinctrl-rp1", "raspberrypi,rp1-gpio", kPins},
};
constexpr unsigned kSocCount = sizeof kSocs / sizeof kSocs[0];

constexpr const SocModel& soc_model(Soc soc)
{
    return kSocs[static_cast<uint32_t>(soc) < kSocCount ? static_cast<uint32_t>(soc) : 0];
}
// The chip a stored value names; an unknown value is a BCM2835.
constexpr Soc soc_from(uint32_t stored)
{
    return stored < kSocCount ? static_cast<Soc>(stored) : Soc::kBcm2835;
}
constexpr bool is_rp1(Soc soc)
{
    return soc == Soc::kBcm2712;
}
constexpr unsigned pin_count(Soc soc)
{
    return soc_model(soc).pins;
}
const char* soc_name(Soc soc);  // "bcm2835", "bcm2711", "bcm2712"
// The chip named ("bcm2835", "bcm2711", "bcm2712"); false for another name.
bool soc_named(const char* name, Soc* soc);

// Register words, by name.
enum : unsigned {
#define SIM_REGISTER(name, word) name = word,
#define SIM_REGISTER_BCM2711 SIM_REGISTER
#include "model/registers.def"
#undef SIM_REGISTER_BCM2711
#undef SIM_REGISTER
};

// What the BCM2835 reads at word 60, where the BCM2711 has a pull control:
// the text "gpio", its first letter in the high byte.
constexpr unsigned kTagWord = 60;
constexpr uint32_t kGpioTag = 0x6770696f;

// The register's name on that chip, or null for a word that is plain
// storage there.
const char* register_name(unsigned word, Soc soc = Soc::kBcm2835);

// A pin's pull, in GPPUD's encoding. The BCM2711's pull controls have
// down and up the other way round. GPPUD's reserved code 3 never reaches
// a pin; an RP1 pad with both pulls enabled keeps its level (kPullKeep).
constexpr unsigned kPullOff = 0, kPullDown = 1, kPullUp = 2, kPullKeep = 3;
const char* pull_name(unsigned pull);  // "off", "down", "up", "keep"

// Function codes: the BCM2835's function-select codes 0 to 7, and past
// them the RP1's functions the BCM2835 lacks (functions.def).
constexpr unsigned kFunctionAlt6 = 8, kFunctionAlt7 = 9, kFunctionAlt8 = 10, kFunctionNone = 11;
constexpr unsigned kFunctionCodes = 12;
// input, output, alt0..alt8, none.
const char* function_name(unsigned code);

}  // namespace tavrel_sim
