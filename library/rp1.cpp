// SPDX-License-Identifier: MIT
// Pin operations on the Pi 5's RP1. A pin is an input or an output as the
// kernel's pinctrl-rp1 leaves a GPIO: software GPIO (function 5) with its
// RIO output enable cleared or set, its pad's input enabled and its output
// not disabled. Levels go through the SET and CLR aliases of the RIO
// output register, one write each; levels come from the synchronised
// inputs, one read per bank. A field shared with others (the function
// select, the pulls) changes by one read and one XOR write, which leaves
// the word's other bits as another writer may have just set them.
#include <errno.h>

#include "access.h"
#include "rp1.h"
#include "tavrel.h"

namespace tavrel {

using namespace rp1;

namespace {

// BCM2835 function-select codes 2 to 7 (alt5, alt4, alt0 to alt3) as the
// RP1's function numbers; 0 and 1 are software GPIO.
constexpr uint8_t kFunctionOfCode[8] = {kFuncselRio, kFuncselRio, 5, 4, 0, 1, 2, 3};
// And back: function 0 to 4 is alt0 to alt4's code; 6 to 8 the codes of
// TAVREL_1.4.
constexpr int32_t kCodeOfFunction[9] = {
    4, 5, 6, 7, 3, -1, TAVREL_MODE_ALT6, TAVREL_MODE_ALT7, TAVREL_MODE_ALT8};

// The word's bits under `mask` made `value`'s, in one write through the
// XOR alias, from one read.
void write_field(Block w, unsigned word, uint32_t mask, uint32_t value)
{
    uint32_t now = reg_read(w, word);
    uint32_t flip = (now ^ value) & mask;
    if (flip) reg_write(w, word + kXor, flip);
}

// The pins of one bank, from `first` (a bit a pin from bit 0), and their
// levels, to that bank's SET and CLR aliases.
void drive_bank(Block w, unsigned bank, uint32_t pins, uint32_t levels)
{
    if (pins & levels) reg_write(w, rio_word(bank, kOut) + kSet, pins & levels);
    if (pins & ~levels) reg_write(w, rio_word(bank, kOut) + kClr, pins & ~levels);
}

uint32_t bank_mask(unsigned bank)
{
    return (1u << kBankCount[bank]) - 1;
}

// The state close puts back, of pins 0..29.
constexpr unsigned kSaved = 30;
uint32_t saved_ctrl[kSaved], saved_pad[kSaved];
uint32_t saved_oe[2];  // banks 0 and 1, which hold pins 0..29

}  // namespace

// After the busy mark's barrier, which leads its accesses.
void rp1_set_function(Block w, uint32_t pin, uint32_t code)
{
    if (pin >= kPins || code > 7) return;
    uint32_t function = kFunctionOfCode[code];
    if (code <= 1) reg_write(w, rio_word(bank_of(pin), kOe) + (code ? kSet : kClr), bit_of(pin));
    // The kernel's order: the pad's input enabled and output let through,
    // then the function, with the overrides back to the function's own.
    reg_write(w, pad_word(pin) + kSet, kPadInputEnable);
    reg_write(w, pad_word(pin) + kClr, kPadOutputDisable);
    write_field(w, ctrl_word(pin), kFuncsel | kOverrides, function);
}

void rp1_set_val(Block w, uint32_t pin, int32_t value)
{
    if (pin >= kPins) return;
    if (TAVREL_BARRIER_KEPT(3)) barrier();
    reg_write(w, rio_word(bank_of(pin), kOut) + (value ? kSet : kClr), bit_of(pin));
}

void rp1_set_byte(Block w, int32_t first_pin, int32_t byte)
{
    // Unsigned, as on the BCM2835: a negative first pin reaches pin 0.
    uint64_t pins = 0, levels = 0;
    for (uint32_t i = 0; i < 8; ++i) {
        uint32_t pin = static_cast<uint32_t>(first_pin) + i;
        if (pin >= kPins) continue;
        pins |= uint64_t{1} << pin;
        if ((byte >> i) & 1) levels |= uint64_t{1} << pin;
    }
    rp1_set_mask(w, pins, levels);
}

int32_t rp1_get_val(Block w, uint32_t pin)
{
    if (pin >= kPins) return 0;
    barrier();
    return (reg_read(w, rio_word(bank_of(pin), kSyncIn)) & bit_of(pin)) != 0;
}

int32_t rp1_get_byte(Block w, int32_t first_pin)
{
    uint32_t first = static_cast<uint32_t>(first_pin);
    if (first >= kPins) return 0;
    unsigned last = bank_of(first + 7 < kPins ? first + 7 : kPins - 1);
    barrier();
    uint64_t levels = 0;
    for (unsigned bank = bank_of(first); bank <= last; ++bank)
        levels |= static_cast<uint64_t>(reg_read(w, rio_word(bank, kSyncIn)) & bank_mask(bank))
                  << kBankFirst[bank];
    return static_cast<int32_t>((levels >> first) & 0xFF);
}

int32_t rp1_get_mode(Block w, uint32_t pin)
{
    if (pin >= kPins) return TAVREL_MODE_NONE;
    barrier();
    uint32_t function = reg_read(w, ctrl_word(pin)) & kFuncsel;
    if (function == kFuncselRio) return (reg_read(w, rio_word(bank_of(pin), kOe)) & bit_of(pin)) ? 1 : 0;
    return function < 9 ? kCodeOfFunction[function] : TAVREL_MODE_NONE;
}

void rp1_set_pull(Block w, uint32_t pin, uint32_t pull)
{
    if (pin >= kPins) return;
    uint32_t bits = pull == TAVREL_PULL_UP ? kPadPullUp : pull == TAVREL_PULL_DOWN ? kPadPullDown : 0;
    barrier();
    write_field(w, pad_word(pin), kPadPullUp | kPadPullDown, bits);
}

int32_t rp1_get_pull(Block w, uint32_t pin)
{
    if (pin >= kPins) {
        errno = EINVAL;
        return -1;
    }
    barrier();
    uint32_t pad = reg_read(w, pad_word(pin));
    bool up = pad & kPadPullUp, down = pad & kPadPullDown;
    return up && down ? TAVREL_PULL_KEEP : up ? TAVREL_PULL_UP : down ? TAVREL_PULL_DOWN : TAVREL_PULL_OFF;
}

void rp1_set_mask(Block w, uint64_t pins, uint64_t levels)
{
    barrier();
    for (unsigned bank = 0; bank < kBanks; ++bank)
        drive_bank(w, bank, static_cast<uint32_t>(pins >> kBankFirst[bank]) & bank_mask(bank),
                   static_cast<uint32_t>(levels >> kBankFirst[bank]));
}

uint64_t rp1_get_all(Block w)
{
    barrier();
    uint64_t all = 0;
    for (unsigned bank = 0; bank < kBanks; ++bank)
        all |= static_cast<uint64_t>(reg_read(w, rio_word(bank, kSyncIn)) & bank_mask(bank))
               << kBankFirst[bank];
    return all;
}

uint32_t rp1_quit_pins(Block w)
{
    barrier();
    return (reg_read(w, rio_word(0, kSyncIn)) >> 24) & 15;
}

void rp1_take_snapshot(Block w)
{
    barrier();
    for (uint32_t pin = 0; pin < kSaved; ++pin) {
        saved_ctrl[pin] = reg_read(w, ctrl_word(pin));
        saved_pad[pin] = reg_read(w, pad_word(pin));
    }
    for (unsigned bank = 0; bank < 2; ++bank) saved_oe[bank] = reg_read(w, rio_word(bank, kOe));
}

void rp1_restore(Block w, uint32_t changed)
{
    barrier();
    constexpr uint32_t kPadBits = kPadPullDown | kPadPullUp | kPadInputEnable | kPadOutputDisable;
    for (uint32_t pin = 0; pin < kSaved; ++pin) {
        if (!(changed >> pin & 1)) continue;
        write_field(w, pad_word(pin), kPadBits, saved_pad[pin]);
        unsigned bank = bank_of(pin);
        bool output = saved_oe[bank] & bit_of(pin);
        reg_write(w, rio_word(bank, kOe) + (output ? kSet : kClr), bit_of(pin));
        write_field(w, ctrl_word(pin), kFuncsel | kOverrides, saved_ctrl[pin]);
    }
}

}  // namespace tavrel
