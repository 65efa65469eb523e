// SPDX-License-Identifier: MIT
// The RP1's behaviour: what a write through any alias does to its
// registers, and what its pads drive and read. A GPIO drives its pad when
// CTRL's output-enable override lets its function's enable through (for
// function 5, software GPIO, the RIO output-enable bit) and the pad's
// output is not disabled; it then drives CTRL's output override of its
// function's level (for function 5, the RIO output bit). Otherwise the pad
// reads what is driven onto it from outside, else its pull. The RIO
// synchronised input reads the pad through CTRL's input override, and only
// while the pad's input is enabled. STATUS, the interrupt registers and the
// pads' voltage selects are plain storage.
#include "model/model.h"
#include "model/rp1.h"

namespace tavrel_sim {

namespace {

volatile uint32_t& ctrl(const Pins& p, unsigned pin)
{
    return p.regs[p.packed ? kRp1PackedCtrl + pin : rp1_ctrl_word(pin)];
}

volatile uint32_t& pad(const Pins& p, unsigned pin)
{
    return p.regs[p.packed ? kRp1PackedPad + pin : rp1_pad_word(pin)];
}

volatile uint32_t& rio(const Pins& p, unsigned bank, Rp1Register::Kind kind)
{
    if (!p.packed) return p.regs[rp1_rio_word(bank, kind)];
    return p.regs[(kind == Rp1Register::kRioOut ? kRp1PackedOut : kRp1PackedOe) + bank];
}

// An override applied to a function's own signal.
bool overridden(unsigned over, bool own)
{
    switch (over & 3) {
    case 0: return own;
    case 1: return !own;
    case 2: return false;
    default: return true;
    }
}

bool drives_pad(const Pins& p, unsigned pin, uint32_t c)
{
    unsigned bank = rp1_bank_of(pin);
    bool own = (c & kRp1FuncselMask) == kRp1FuncselRio && (rio(p, bank, Rp1Register::kRioOe) & rp1_bit(pin));
    return overridden(c >> kRp1OeoverShift, own) && !(pad(p, pin) & kRp1PadOutputDisable);
}

uint32_t sync_in(const Pins& p, unsigned bank)
{
    uint32_t in = 0;
    for (unsigned i = 0; i < kRp1BankPins[bank].count; ++i) {
        unsigned pin = kRp1BankPins[bank].first + i;
        if (!(pad(p, pin) & kRp1PadInputEnable)) continue;
        if (overridden(ctrl(p, pin) >> kRp1InoverShift, rp1_level(p, pin))) in |= 1u << i;
    }
    return in;
}

uint32_t bank_mask(unsigned bank)
{
    return kRp1BankPins[bank].count == 32 ? ~0u : (1u << kRp1BankPins[bank].count) - 1;
}

}  // namespace

unsigned rp1_function(const Pins& p, unsigned pin)
{
    if (pin >= kRp1Pins) return kFunctionNone;
    // The codes of the BCM2835's alt0 to alt4, in function order.
    static const uint8_t kAlt[] = {4, 5, 6, 7, 3};
    unsigned f = ctrl(p, pin) & kRp1FuncselMask;
    if (f < 5) return kAlt[f];
    if (f == kRp1FuncselRio) return rio(p, rp1_bank_of(pin), Rp1Register::kRioOe) & rp1_bit(pin) ? 1 : 0;
    if (f <= 8) return kFunctionAlt6 + (f - 6);
    return kFunctionNone;
}

unsigned rp1_pull(const Pins& p, unsigned pin)
{
    if (pin >= kRp1Pins) return kPullOff;
    uint32_t w = pad(p, pin);
    bool up = w & kRp1PadPullUp, down = w & kRp1PadPullDown;
    return up && down ? kPullKeep : up ? kPullUp : down ? kPullDown : kPullOff;
}

bool rp1_level(const Pins& p, unsigned pin)
{
    if (pin >= kRp1Pins) return false;
    uint32_t c = ctrl(p, pin);
    if (drives_pad(p, pin, c)) {
        bool own = (c & kRp1FuncselMask) == kRp1FuncselRio &&
                   (rio(p, rp1_bank_of(pin), Rp1Register::kRioOut) & rp1_bit(pin));
        return overridden(c >> kRp1OutoverShift, own);
    }
    uint32_t bit = 1u << (pin % 32);
    if (p.driving[pin / 32] & bit) return p.driven[pin / 32] & bit;
    // A keeper holds what the pin last was; with nothing to remember that
    // by, the model lets it read as its pull-up would.
    unsigned pull = rp1_pull(p, pin);
    return pull == kPullUp || pull == kPullKeep;
}

uint32_t rp1_read_register(const Pins& p, unsigned word)
{
    Rp1Register reg = rp1_register(word * 4);
    switch (reg.kind) {
    case Rp1Register::kCtrl: return ctrl(p, reg.pin);
    case Rp1Register::kPad: return pad(p, reg.pin);
    case Rp1Register::kRioOut:
    case Rp1Register::kRioOe: return rio(p, reg.bank, reg.kind);
    case Rp1Register::kRioSyncIn: return sync_in(p, reg.bank);
    default: return p.packed ? 0 : p.regs[rp1_plain_offset(word % kRp1Words * 4) / 4];
    }
}

void rp1_write_register(const Pins& p, unsigned word, uint32_t value)
{
    Rp1Register reg = rp1_register(word * 4);
    volatile uint32_t* target;
    uint32_t keep;
    switch (reg.kind) {
    case Rp1Register::kCtrl:
        target = &ctrl(p, reg.pin);
        keep = kRp1CtrlBits;
        break;
    case Rp1Register::kPad:
        target = &pad(p, reg.pin);
        keep = kRp1PadBits;
        break;
    case Rp1Register::kRioOut:
    case Rp1Register::kRioOe:
        target = &rio(p, reg.bank, reg.kind);
        keep = bank_mask(reg.bank);
        break;
    case Rp1Register::kRioSyncIn: return;  // read-only
    default:
        if (p.packed) return;
        target = &p.regs[rp1_plain_offset(word % kRp1Words * 4) / 4];
        keep = ~0u;
        reg.alias = rp1_alias_at(word % kRp1Words * 4);
        break;
    }
    *target = rp1_written(reg.alias, *target, value) & keep;
}

void rp1_pack(const volatile uint32_t* window, uint32_t* packed)
{
    for (unsigned pin = 0; pin < kRp1Pins; ++pin) {
        packed[kRp1PackedCtrl + pin] = window[rp1_ctrl_word(pin)];
        packed[kRp1PackedPad + pin] = window[rp1_pad_word(pin)];
    }
    for (unsigned bank = 0; bank < kRp1Banks; ++bank) {
        packed[kRp1PackedOut + bank] = window[rp1_rio_word(bank, Rp1Register::kRioOut)];
        packed[kRp1PackedOe + bank] = window[rp1_rio_word(bank, Rp1Register::kRioOe)];
    }
}

void rp1_reset(const Pins& p)
{
    for (unsigned pin = 0; pin < kRp1Pins; ++pin) {
        ctrl(p, pin) = kRp1CtrlReset;
        pad(p, pin) = kRp1PadReset;
    }
}

}  // namespace tavrel_sim
