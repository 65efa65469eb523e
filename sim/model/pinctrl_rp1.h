// SPDX-License-Identifier: MIT
// The Pi 5 kernel's pinctrl-rp1 driver, as register accesses: the
// sequences it makes for a GPIO line, written once for the character
// device's requests and for the release the board carries out itself.
#pragma once

#include <stdint.h>

namespace tavrel_sim {

// Where the driver's accesses go: traced, and through the model.
class KernelBus {
public:
    virtual uint32_t read(unsigned word) = 0;
    virtual void write(unsigned word, uint32_t value) = 0;

protected:
    ~KernelBus() = default;
};

// direction_input: the output enable cleared, then the pin made software
// GPIO with its pad's input enabled and output not disabled.
void rp1_kernel_input(KernelBus& bus, unsigned pin);
// direction_output: the level, the output enable, then the function.
void rp1_kernel_output(KernelBus& bus, unsigned pin, bool high);
void rp1_kernel_set(KernelBus& bus, unsigned pin, bool high);
bool rp1_kernel_get(KernelBus& bus, unsigned pin);
// The pad's pull: kPullOff, kPullDown or kPullUp.
void rp1_kernel_pull(KernelBus& bus, unsigned pin, unsigned pull);
// The release of a line: a pin that is software GPIO keeps what it is
// (the driver's persist_gpio_outputs, on by default); any other becomes
// an input.
void rp1_kernel_free(KernelBus& bus, unsigned pin);

}  // namespace tavrel_sim
