// SPDX-License-Identifier: MIT
#include "model/model.h"

namespace tavrel_sim {

unsigned function_of(const Pins& p, unsigned pin)
{
    if (is_rp1(p.soc)) return rp1_function(p, pin);
    return (p.regs[pin / 10] >> (3 * (pin % 10))) & 7;
}

unsigned pull_of(const Pins& p, unsigned pin)
{
    if (is_rp1(p.soc)) return rp1_pull(p, pin);
    return pin < pin_count(p.soc) ? p.pull[pin] : kPullOff;
}

bool level_of(const Pins& p, unsigned pin)
{
    if (is_rp1(p.soc)) return rp1_level(p, pin);
    unsigned bank = pin / 32;
    uint32_t mask = 1u << (pin % 32);
    if (function_of(p, pin) == 1) return p.latch[bank] & mask;
    if (p.driving[bank] & mask) return p.driven[bank] & mask;
    return pull_of(p, pin) == kPullUp;
}

uint32_t read_register(const Pins& p, unsigned word)
{
    if (is_rp1(p.soc)) return rp1_read_register(p, word);
    switch (word) {
    case GPSET0:
    case GPSET1:
    case GPCLR0:
    case GPCLR1: return 0;  // write-only
    case GPLEV0:
    case GPLEV1: {
        unsigned bank = word - GPLEV0;
        uint32_t levels = 0;
        for (unsigned bit = 0; bit < 32 && 32 * bank + bit < kFselPins; ++bit)
            if (level_of(p, 32 * bank + bit)) levels |= 1u << bit;
        return levels;
    }
    case kTagWord: return p.soc == Soc::kBcm2835 ? kGpioTag : p.regs[word];
    default: return p.regs[word];
    }
}

namespace {

// A rising GPPUDCLK bit latches GPPUD's code into its pin; the reserved
// code 3 leaves the pins as they are.
void latch_pulls(const Pins& p, unsigned bank, uint32_t rising)
{
    uint32_t control = p.regs[GPPUD] & 3;
    if (control == 3) return;
    for (unsigned bit = 0; bit < 32; ++bit) {
        unsigned pin = 32 * bank + bit;
        if (pin < kPins && (rising >> bit) & 1) p.pull[pin] = static_cast<uint8_t>(control);
    }
}

// A BCM2711 pull control: 0 none, 1 up, 2 down, for sixteen pins. Bits of
// pins the chip lacks read as 0; the reserved code 3 keeps no pull.
void write_pull_control(const Pins& p, unsigned word, uint32_t value)
{
    unsigned first = 16 * (word - GPIO_PUP_PDN_CNTRL_REG0);
    uint32_t kept = 0;
    for (unsigned i = 0; i < 16 && first + i < kMaxPins; ++i) {
        unsigned code = (value >> (2 * i)) & 3;
        kept |= code << (2 * i);
        p.pull[first + i] = static_cast<uint8_t>(code == 1 ? kPullUp : code == 2 ? kPullDown : kPullOff);
    }
    p.regs[word] = kept;
}

}  // namespace

void write_register(const Pins& p, unsigned word, uint32_t value)
{
    if (is_rp1(p.soc)) return rp1_write_register(p, word, value);
    switch (word) {
    case GPSET0:
    case GPSET1: p.latch[word - GPSET0] |= value; break;
    case GPCLR0:
    case GPCLR1: p.latch[word - GPCLR0] &= ~value; break;
    case GPLEV0:
    case GPLEV1: break;  // read-only
    case GPPUDCLK0:
    case GPPUDCLK1:
        // The BCM2711 leaves the clocks unconnected: plain storage there.
        if (p.soc == Soc::kBcm2835) latch_pulls(p, word - GPPUDCLK0, value & ~p.regs[word]);
        p.regs[word] = value;
        break;
    case GPIO_PUP_PDN_CNTRL_REG0:
    case GPIO_PUP_PDN_CNTRL_REG1:
    case GPIO_PUP_PDN_CNTRL_REG2:
    case GPIO_PUP_PDN_CNTRL_REG3:
        if (p.soc == Soc::kBcm2711)
            write_pull_control(p, word, value);
        else if (word != kTagWord)  // the tag is read-only
            p.regs[word] = value;
        break;
    default: p.regs[word] = value;
    }
}

void drive_pins(const Pins& p, const uint32_t low[], const uint32_t high[], const uint32_t released[])
{
    for (unsigned bank = 0; bank < kBanks; ++bank) {
        p.driven[bank] = (p.driven[bank] & ~low[bank]) | high[bank];
        p.driving[bank] = (p.driving[bank] | low[bank] | high[bank]) & ~released[bank];
    }
}

}  // namespace tavrel_sim
