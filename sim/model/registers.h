// SPDX-License-Identifier: MIT
// The simulated GPIO block of the BCM2835 family (the BCM2835 of the Pi
// Zero and Pi 1 to 3, or the Pi 4's BCM2711): its size, its pins and its
// registers, from the tables in registers.def, functions.def and pulls.def.
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
enum class Soc : uint32_t { kBcm2835 = 0, kBcm2711 = 1 };

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
};

constexpr const SocModel& soc_model(Soc soc)
{
    return kSocs[soc == Soc::kBcm2711 ? 1 : 0];
}
constexpr unsigned pin_count(Soc soc)
{
    return soc_model(soc).pins;
}
const char* soc_name(Soc soc);  // "bcm2835", "bcm2711"
// The chip named ("bcm2835", "bcm2711"); false for another name.
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
// down and up the other way round.
constexpr unsigned kPullOff = 0, kPullDown = 1, kPullUp = 2;
const char* pull_name(unsigned pull);  // "off", "down", "up"

// Function-select code names: input, output, alt0..alt5.
const char* function_name(unsigned code);

}  // namespace tavrel_sim
