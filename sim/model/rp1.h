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
constexpr unsigned kRp1Words = kRp1WindowBytes / 4;
constexpr unsigned kRp1Pins = 54;
constexpr unsigned kRp1Banks = 3;

// The GPIOs of each bank: 0-27 (the 40-pin header's), 28-33, 34-53.
struct Rp1Bank {
    unsigned first, count;
};
constexpr Rp1Bank kRp1BankPins[kRp1Banks] = {{0, 28}, {28, 6}, {34, 20}};

enum class Rp1Alias : uint8_t { kNormal, kXor, kSet, kClr };

// Bits 12 and 13 of an offset pick the alias, for every word of the
// window, whether the model holds it or not.
constexpr Rp1Alias rp1_alias_at(uint32_t offset)
{
    return static_cast<Rp1Alias>(offset >> 12 & 3);
}
constexpr uint32_t rp1_plain_offset(uint32_t offset)
{
    return offset & ~0x3000u;
}

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
// The same for any word of the window: one the model does not hold is
// named by its offset at the plain alias ("0x2cffc.CLR").
size_t rp1_word_name(uint32_t offset, char* out, size_t n);

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

// CTRL's overrides of what the function drives and reads: 0 the
// function's own, 1 inverted, 2 low (OE: disabled), 3 high (OE: enabled).
constexpr unsigned kRp1OutoverShift = 12, kRp1OeoverShift = 14, kRp1InoverShift = 16;
// The fields the model keeps: the function, the overrides, the interrupt
// enables and their override. IRQRESET (bit 28) is a strobe.
constexpr uint32_t kRp1CtrlBits = 0xcff3f01f;
// CTRL after reset: no function, as the kernel's driver knows it.
constexpr uint32_t kRp1CtrlReset = kRp1FuncselNone;

// The pad word's fields.
constexpr uint32_t kRp1PadSlewFast = 1u << 0, kRp1PadSchmitt = 1u << 1, kRp1PadPullDown = 1u << 2,
                   kRp1PadPullUp = 1u << 3, kRp1PadDrive = 3u << 4, kRp1PadInputEnable = 1u << 6,
                   kRp1PadOutputDisable = 1u << 7;
constexpr uint32_t kRp1PadBits = 0xff;
// A pad after reset. The RP1's datasheet gives it; no copy of it could be
// consulted here, so a new board's pads hold 0 (no pull, input disabled,
// output let through) until that value replaces this one.
constexpr uint32_t kRp1PadReset = 0;

// Where a register that decides the pins lives in a packed copy of the
// window (BoardState's): CTRL words, then pad words, then each bank's RIO
// output and output-enable words. It fits in one BCM2835 register page.
constexpr unsigned kRp1PackedCtrl = 0, kRp1PackedPad = 64, kRp1PackedOut = 128, kRp1PackedOe = 132;
constexpr unsigned kRp1PackedWords = 136;

// The word of a GPIO's CTRL or pad, or of a bank's RIO output or output
// enable, in the window.
unsigned rp1_ctrl_word(unsigned pin);
unsigned rp1_pad_word(unsigned pin);
unsigned rp1_rio_word(unsigned bank, Rp1Register::Kind kind);  // kRioOut, kRioOe, kRioSyncIn
// The bank a GPIO is in, and its bit there.
unsigned rp1_bank_of(unsigned pin);
inline uint32_t rp1_bit(unsigned pin)
{
    return 1u << (pin - kRp1BankPins[rp1_bank_of(pin)].first);
}

}  // namespace tavrel_sim
