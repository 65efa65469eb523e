// SPDX-License-Identifier: MIT
// Pin operations: function select and read-back, levels of one, eight or
// many pins, pulls.
#include <errno.h>

#include "access.h"
#include "tavrel.h"

using namespace tavrel;

namespace {

// Alternate functions 0..5 in BCM2835 function-select encoding.
constexpr uint8_t kAltCode[6] = {4, 5, 6, 7, 3, 2};

// One read and one write of the pin's word; the other nine fields keep
// their codes.
void update_fsel(int32_t pin, uint32_t code)
{
    if (static_cast<uint32_t>(pin) >= kPinCount) return;
    unsigned word = GPFSEL0 + pin / 10;
    unsigned shift = 3 * (pin % 10);
    // Marked busy before access is checked, with the barrier between: a
    // close either finds access still open and waits for the flag, or this
    // update finds it closed.
    fsel_busy[word].store(1, std::memory_order_relaxed);
    if (TAVREL_BARRIER_KEPT(4)) barrier();
    Block block = open_block();
    if (block) {
        // A locked read-modify-write costs as much as a barrier: only the
        // first change of a pin needs one.
        uint32_t bit = pin < 30 ? 1u << pin : 0;
        if (~fsel_changed.load(std::memory_order_relaxed) & bit)
            fsel_changed.fetch_or(bit, std::memory_order_relaxed);
        if (is_rp1(block)) {
            rp1_set_function(untagged(block), static_cast<uint32_t>(pin), code);
        } else {
            uint32_t value = reg_read(block, word);
            reg_write(block, word, (value & ~(7u << shift)) | (code << shift));
        }
    }
    fsel_busy[word].store(0, std::memory_order_release);
}

// Caller has checked pin < kPinCount. Bank 1 registers follow bank 0's.
inline unsigned bank(uint32_t pin)
{
    return pin >> 5;
}

inline void drive(Block block, uint32_t pin, int32_t value)
{
    reg_write(block, (value ? GPSET0 : GPCLR0) + bank(pin), 1u << (pin & 31));
}

}  // namespace

extern "C" {

void tavrel_gpio_config_io(int32_t pin, int32_t mode)
{
    if (static_cast<uint32_t>(mode) > 7) return;
    update_fsel(pin, static_cast<uint32_t>(mode));
}

void tavrel_gpio_set_alt(int32_t pin, int32_t alt)
{
    if (alt < 0) alt = 0;
    if (alt > 5) alt = 5;
    update_fsel(pin, kAltCode[alt]);
}

// The single-pin operations are the hot path: two plain early returns
// compile to two compare-and-return pairs on ARMv6, where the combined
// test became a longer flag computation.
void tavrel_gpio_set_val(int32_t pin, int32_t value)
{
    if (static_cast<uint32_t>(pin) >= kPinCount) return;
    Block block = open_block();
    if (!block) return;
    if (is_rp1(block)) return rp1_set_val(untagged(block), static_cast<uint32_t>(pin), value);
    if (TAVREL_BARRIER_KEPT(3)) barrier();
    drive(block, static_cast<uint32_t>(pin), value);
}

void tavrel_gpio_set_byte(int32_t first_pin, int32_t byte)
{
    Block block = open_block();
    if (!block) return;
    if (is_rp1(block)) return rp1_set_byte(untagged(block), first_pin, byte);
    barrier();
    // Unsigned arithmetic: a negative first pin reaches pin 0 after the
    // same number of steps as signed addition would, without overflow.
    for (uint32_t i = 0; i < 8; ++i) {
        uint32_t pin = static_cast<uint32_t>(first_pin) + i;
        if (pin < kPinCount) drive(block, pin, (byte >> i) & 1);
    }
}

int32_t tavrel_gpio_get_val(int32_t pin)
{
    if (static_cast<uint32_t>(pin) >= kPinCount) return 0;
    Block block = open_block();
    if (!block) return 0;
    if (is_rp1(block)) return rp1_get_val(untagged(block), static_cast<uint32_t>(pin));
    barrier();
    uint32_t levels = reg_read(block, GPLEV0 + bank(pin));
    return (levels >> (pin & 31)) & 1;
}

int32_t tavrel_gpio_get_byte(int32_t first_pin)
{
    Block block = open_block();
    if (!block || static_cast<uint32_t>(first_pin) >= kPinCount) return 0;
    if (is_rp1(block)) return rp1_get_byte(untagged(block), first_pin);
    barrier();
    // Arithmetic shift: bits beyond the bank's pin 31 repeat its level.
    int32_t levels = static_cast<int32_t>(reg_read(block, GPLEV0 + bank(first_pin)));
    return (levels >> (first_pin & 31)) & 0xFF;
}

}  // extern "C"

// ---- Pulls, function read-back, whole-bank levels ----------------------

namespace {

// set_mask and get_all cover pins 0 to 53 on every chip of the family, as
// they promise: the BCM2835's pins.
constexpr uint32_t kMaskPins = 54;
constexpr uint32_t kBank1Pins = (1u << (kMaskPins - 32)) - 1;

// The BCM2711's pull codes, by TAVREL_PULL_*: 0 none, 1 up, 2 down.
constexpr uint32_t kBcm2711Code[3] = {0, 2, 1};

// Both paths follow the operation's leading barrier.
void set_pull_bcm2835(Block block, uint32_t pin, uint32_t pull)
{
    unsigned clock = GPPUDCLK0 + bank(pin);
    reg_write(block, GPPUD, pull);
    pull_settle_wait();
    reg_write(block, clock, 1u << (pin & 31));
    pull_settle_wait();
    reg_write(block, GPPUD, 0);
    reg_write(block, clock, 0);
}

// One read and one write of the word the pin shares with fifteen others.
void set_pull_bcm2711(Block block, uint32_t pin, uint32_t pull)
{
    unsigned word = GPIO_PUP_PDN_CNTRL_REG0 + pin / 16, shift = 2 * (pin % 16);
    uint32_t value = reg_read(block, word);
    reg_write(block, word, (value & ~(3u << shift)) | kBcm2711Code[pull] << shift);
}

}  // namespace

extern "C" {

int32_t tavrel_gpio_get_mode(int32_t pin)
{
    if (static_cast<uint32_t>(pin) >= kPinCount) return -1;
    Block block = open_block();
    if (!block) return -1;
    if (is_rp1(block)) return rp1_get_mode(untagged(block), static_cast<uint32_t>(pin));
    barrier();
    return static_cast<int32_t>((reg_read(block, GPFSEL0 + pin / 10) >> (3 * (pin % 10))) & 7);
}

void tavrel_gpio_set_pull(int32_t pin, int32_t pull)
{
    if (static_cast<uint32_t>(pin) >= kMostPins || static_cast<uint32_t>(pull) > TAVREL_PULL_UP) return;
    Block block = open_block();
    if (!block) return;
    if (is_rp1(block))
        return rp1_set_pull(untagged(block), static_cast<uint32_t>(pin), static_cast<uint32_t>(pull));
    barrier();
    const ChipModel* model = chip_model(pull_chip(block));
    if (!model || static_cast<uint32_t>(pin) >= model->pins) return;
    if (model->pulls == Pulls::kControlWords)
        set_pull_bcm2711(block, static_cast<uint32_t>(pin), static_cast<uint32_t>(pull));
    else
        set_pull_bcm2835(block, static_cast<uint32_t>(pin), static_cast<uint32_t>(pull));
}

int32_t tavrel_gpio_get_pull(int32_t pin)
{
    Block block = open_block();
    if (!block || static_cast<uint32_t>(pin) >= kMostPins) {
        errno = EINVAL;
        return -1;
    }
    if (is_rp1(block)) return rp1_get_pull(untagged(block), static_cast<uint32_t>(pin));
    barrier();
    const ChipModel* model = chip_model(pull_chip(block));
    if (!model || static_cast<uint32_t>(pin) >= model->pins) {
        errno = EINVAL;
        return -1;
    }
    if (model->pulls != Pulls::kControlWords) {
        // The BCM2835's pulls are latched through a clock, with no read-back.
        errno = ENOTSUP;
        return -1;
    }
    uint32_t code = (reg_read(block, GPIO_PUP_PDN_CNTRL_REG0 + pin / 16) >> (2 * (pin % 16))) & 3;
    return code == 1 ? TAVREL_PULL_UP : code == 2 ? TAVREL_PULL_DOWN : TAVREL_PULL_OFF;
}

void tavrel_gpio_set_mask(uint64_t pins, uint64_t levels)
{
    Block block = open_block();
    if (!block) return;
    if (is_rp1(block)) return rp1_set_mask(untagged(block), pins, levels);
    uint32_t pins0 = static_cast<uint32_t>(pins), levels0 = static_cast<uint32_t>(levels);
    uint32_t pins1 = static_cast<uint32_t>(pins >> 32) & kBank1Pins,
             levels1 = static_cast<uint32_t>(levels >> 32);
    barrier();
    if (pins0 & levels0) reg_write(block, GPSET0, pins0 & levels0);
    if (pins0 & ~levels0) reg_write(block, GPCLR0, pins0 & ~levels0);
    if (pins1 & levels1) reg_write(block, GPSET0 + 1, pins1 & levels1);
    if (pins1 & ~levels1) reg_write(block, GPCLR0 + 1, pins1 & ~levels1);
}

uint64_t tavrel_gpio_get_all(void)
{
    Block block = open_block();
    if (!block) return 0;
    if (is_rp1(block)) return rp1_get_all(untagged(block));
    barrier();
    uint64_t low = reg_read(block, GPLEV0);
    uint64_t high = reg_read(block, GPLEV0 + 1) & kBank1Pins;
    return high << 32 | low;
}

}  // extern "C"
