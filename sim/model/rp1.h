// SPDX-License-Identifier: MIT
// The Pi 5's GPIO block, the RP1's, as the kernel's gpiomem driver offers it
// (/dev/gpiomem0, a 0x30000-byte window): three blocks of three banks,
// IO_BANKn (a STATUS and a CTRL word per GPIO), SYS_RIOn (output, output
// enable, synchronised input) and PADS_BANKn (the bank's own word, then a
// pad word per GPIO), each bank 0x4000 bytes. Every bank answers at four
// aliases: the register itself, then +0x1000 XOR, +0x2000 SET and +0x3000
// CLR, so that a write there changes only the bits it names.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tavrel_sim {

constexpr uint32_t kRp1WindowBytes = 0x30000;
constexpr unsigned kRp1Pins = 54;
constexpr unsigned kRp1Banks = 3;

// The GPIOs of each bank: 0-27 (the 40-pin header's), 28-33, 34-53.
struct Rp1Bank {
    unsigned first, count;
};
constexpr Rp1Bank kRp1BankPins[kRp1Banks] = {{0, 28}, {28, 6}, {34, 20}};

enum class Rp1Alias : uint8_t { kNormal, kXor, kSet, kClr };

// What a word of the window is.
struct Rp1Register {
    enum Kind : uint8_t {
        kNone,  // a word the model does not hold, or a misaligned offset
        kStatus,
        kCtrl,
        kRioOut,
        kRioOe,
        kRioSyncIn,
        kPad,
    };
    Kind kind;
    Rp1Alias alias;
    uint8_t bank;
    uint8_t pin;  // STATUS, CTRL and pad words: the GPIO, 0 to 53
};

// The word at `offset` in the window.
Rp1Register rp1_register(uint32_t offset);

// The register's name with its alias, as the trace shows it
// ("GPIO17_CTRL", "SYS_RIO0_OUT.SET", "GPIO40_PAD.CLR"): at most n - 1
// characters and a NUL; the length it would take.
size_t rp1_register_name(const Rp1Register& reg, char* out, size_t n);

// A register's value after `value` is written to it through `alias`.
constexpr uint32_t rp1_written(Rp1Alias alias, uint32_t old, uint32_t value)
{
    switch (alias) {
    case Rp1Alias::kXor: return old ^ value;
    case Rp1Alias::kSet: return old | value;
    case Rp1Alias::kClr: return old & ~value;
    case Rp1Alias::kNormal: break;
    }
    return value;
}

// CTRL's function-select field, and its codes: a0 to a8, a5 being the
// pin as software GPIO through SYS_RIO, 0x1f no function (its reset).
constexpr uint32_t kRp1FuncselMask = 0x1f;
constexpr uint32_t kRp1FuncselRio = 5;
constexpr uint32_t kRp1FuncselNone = 0x1f;

// The pad word's fields.
constexpr uint32_t kRp1PadSlewFast = 1u << 0, kRp1PadSchmitt = 1u << 1, kRp1PadPullDown = 1u << 2,
                   kRp1PadPullUp = 1u << 3, kRp1PadDrive = 3u << 4, kRp1PadInputEnable = 1u << 6,
                   kRp1PadOutputDisable = 1u << 7;

}  // namespace tavrel_sim
