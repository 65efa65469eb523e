// SPDX-License-Identifier: MIT
#include "model/pinctrl_rp1.h"

#include "model/registers.h"
#include "model/rp1.h"

namespace tavrel_sim {

namespace {

constexpr unsigned kSetWords = 0x2000 / 4, kClrWords = 0x3000 / 4;
constexpr uint32_t kOverrides = 3u << kRp1OutoverShift | 3u << kRp1OeoverShift;

void direction(KernelBus& bus, unsigned pin, bool input)
{
    unsigned oe = rp1_rio_word(rp1_bank_of(pin), Rp1Register::kRioOe);
    bus.write(oe + (input ? kClrWords : kSetWords), rp1_bit(pin));
}

// The CTRL word is read first and written last, with each pad update a
// read and a write between.
void function_gpio(KernelBus& bus, unsigned pin)
{
    unsigned ctrl_word = rp1_ctrl_word(pin), pad = rp1_pad_word(pin);
    uint32_t ctrl = bus.read(ctrl_word);
    bus.write(pad, bus.read(pad) | kRp1PadInputEnable);
    bus.write(pad, bus.read(pad) & ~kRp1PadOutputDisable);
    bus.write(ctrl_word, (ctrl & ~(kOverrides | kRp1FuncselMask)) | kRp1FuncselRio);
}

}  // namespace

void rp1_kernel_input(KernelBus& bus, unsigned pin)
{
    direction(bus, pin, true);
    function_gpio(bus, pin);
}

void rp1_kernel_output(KernelBus& bus, unsigned pin, bool high)
{
    rp1_kernel_set(bus, pin, high);
    direction(bus, pin, false);
    function_gpio(bus, pin);
}

void rp1_kernel_set(KernelBus& bus, unsigned pin, bool high)
{
    unsigned out = rp1_rio_word(rp1_bank_of(pin), Rp1Register::kRioOut);
    bus.write(out + (high ? kSetWords : kClrWords), rp1_bit(pin));
}

bool rp1_kernel_get(KernelBus& bus, unsigned pin)
{
    return bus.read(rp1_rio_word(rp1_bank_of(pin), Rp1Register::kRioSyncIn)) & rp1_bit(pin);
}

void rp1_kernel_pull(KernelBus& bus, unsigned pin, unsigned pull)
{
    uint32_t bits = pull == kPullUp ? kRp1PadPullUp : pull == kPullDown ? kRp1PadPullDown : 0;
    unsigned pad = rp1_pad_word(pin);
    bus.write(pad, (bus.read(pad) & ~(kRp1PadPullUp | kRp1PadPullDown)) | bits);
}

void rp1_kernel_free(KernelBus& bus, unsigned pin)
{
    uint32_t ctrl = bus.read(rp1_ctrl_word(pin));
    // The driver counts a pin whose output enable is overridden as having
    // no function.
    bool gpio = (ctrl & kRp1FuncselMask) == kRp1FuncselRio && !(ctrl & (3u << kRp1OeoverShift));
    if (gpio) return;
    rp1_kernel_input(bus, pin);
}

}  // namespace tavrel_sim
