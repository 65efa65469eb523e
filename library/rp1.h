// SPDX-License-Identifier: MIT
// Register map of the Pi 5's GPIO block, the RP1's, as the kernel's
// gpiomem driver offers it at /dev/gpiomem0: a 0x30000-byte window of
// three blocks (IO_BANK, SYS_RIO, PADS_BANK), each of three banks 0x4000
// bytes apart. Every bank answers at four aliases: the register, then
// +0x1000 XOR, +0x2000 SET and +0x3000 CLR, so that a write there changes
// only the bits it names, with no read and no lock. Reads cross PCIe and
// cost far more than the posted writes: an operation that only writes
// never reads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "registers.h"

namespace tavrel::rp1 {

constexpr size_t kWindowBytes = 0x30000;
constexpr uint32_t kPins = 54;
constexpr unsigned kBanks = 3;

// Word offsets of the aliases from a register.
constexpr unsigned kXor = 0x1000 / 4, kSet = 0x2000 / 4, kClr = 0x3000 / 4;

// The banks' GPIOs: 0-27 (the 40-pin header's), 28-33, 34-53.
constexpr uint32_t kBankFirst[kBanks] = {0, 28, 34};
constexpr uint32_t kBankCount[kBanks] = {28, 6, 20};

// Caller has checked pin < kPins.
inline unsigned bank_of(uint32_t pin)
{
    return pin < 28 ? 0 : pin < 34 ? 1 : 2;
}
inline uint32_t bit_of(uint32_t pin)
{
    return 1u << (pin - kBankFirst[bank_of(pin)]);
}

// IO_BANKn at 0x00000: a STATUS and a CTRL word per GPIO.
inline unsigned ctrl_word(uint32_t pin)
{
    unsigned bank = bank_of(pin);
    return (bank * 0x4000 + (pin - kBankFirst[bank]) * 8 + 4) / 4;
}
// SYS_RIOn at 0x10000: output, output enable, synchronised input.
enum RioReg : unsigned { kOut = 0, kOe = 1, kSyncIn = 2 };
inline unsigned rio_word(unsigned bank, RioReg reg)
{
    return (0x10000 + bank * 0x4000) / 4 + reg;
}
// PADS_BANKn at 0x20000: the bank's voltage select, then a word per GPIO.
inline unsigned pad_word(uint32_t pin)
{
    unsigned bank = bank_of(pin);
    return (0x20000 + bank * 0x4000 + 4 + (pin - kBankFirst[bank]) * 4) / 4;
}

// CTRL: the function select (function 5 is the pin as software GPIO
// through SYS_RIO, 0x1f no function), and the overrides of what the
// function drives (bits 12-13) and enables (14-15), 0 for the function's
// own.
constexpr uint32_t kFuncsel = 0x1f, kFuncselRio = 5, kOverrides = 0xf000;
// The pad: pull-down and pull-up enables, input enable, output disable.
constexpr uint32_t kPadPullDown = 1u << 2, kPadPullUp = 1u << 3, kPadInputEnable = 1u << 6,
                   kPadOutputDisable = 1u << 7;

}  // namespace tavrel::rp1
