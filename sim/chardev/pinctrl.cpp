// SPDX-License-Identifier: MIT
// The kernel's effects on the pins: pinctrl-bcm2835's register accesses
// (pinctrl-rp1's on a Pi 5) and gpiolib's rules for flags, directions and
// values.
#include <errno.h>
#include <linux/gpio.h>
#include <signal.h>

#include "chardev/cdev.h"
#include "model/blocked.h"
#include "model/pinctrl_rp1.h"

namespace tavrel_sim::cdev {

namespace {

struct Names {
    const char* zero;
    const char* pi4;
    const char* pi5;
};
constexpr Names kNames[] = {
#define SIM_LINE(offset, zero, pi4, pi5) {zero, pi4, pi5},
#include "chardev/line_names.def"
#undef SIM_LINE
};
static_assert(sizeof kNames / sizeof kNames[0] == kMaxPins, "line_names.def: a name for every pin");

constexpr unsigned kFselInput = 0, kFselOutput = 1;

constexpr uint64_t kDirection = GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_OUTPUT;
constexpr uint64_t kEdges = GPIO_V2_LINE_FLAG_EDGE_RISING | GPIO_V2_LINE_FLAG_EDGE_FALLING;
constexpr uint64_t kDrive = GPIO_V2_LINE_FLAG_OPEN_DRAIN | GPIO_V2_LINE_FLAG_OPEN_SOURCE;
constexpr uint64_t kBias =
    GPIO_V2_LINE_FLAG_BIAS_PULL_UP | GPIO_V2_LINE_FLAG_BIAS_PULL_DOWN | GPIO_V2_LINE_FLAG_BIAS_DISABLED;
constexpr uint64_t kValidV2 = kDirection | kEdges | kDrive | kBias | GPIO_V2_LINE_FLAG_ACTIVE_LOW |
                              GPIO_V2_LINE_FLAG_EVENT_CLOCK_REALTIME | GPIO_V2_LINE_FLAG_EVENT_CLOCK_HTE;
constexpr uint32_t kValidV1 = GPIOHANDLE_REQUEST_INPUT | GPIOHANDLE_REQUEST_OUTPUT |
                              GPIOHANDLE_REQUEST_ACTIVE_LOW | GPIOHANDLE_REQUEST_BIAS_PULL_UP |
                              GPIOHANDLE_REQUEST_BIAS_PULL_DOWN | GPIOHANDLE_REQUEST_BIAS_DISABLE |
                              GPIOHANDLE_REQUEST_OPEN_DRAIN | GPIOHANDLE_REQUEST_OPEN_SOURCE;

bool several(uint64_t flags)
{
    return (flags & (flags - 1)) != 0;
}

}  // namespace

const char* chip_label(Soc soc)
{
    return soc_model(soc).label;
}

const char* line_name(Soc soc, unsigned offset)
{
    if (offset >= kMaxPins) return "";
    switch (soc) {
    case Soc::kBcm2711: return kNames[offset].pi4;
    case Soc::kBcm2712: return kNames[offset].pi5;
    default: return kNames[offset].zero;
    }
}

uint32_t Pinctrl::read(unsigned word)
{
    SignalsBlocked blocked;
    return board_.read_traced(word, sink_, TraceRecord::kKernel);
}

void Pinctrl::write(unsigned word, uint32_t value)
{
    SignalsBlocked blocked;
    board_.write_traced(word, value, sink_, TraceRecord::kKernel);
}

// A change between two functions other than input passes through input,
// as the driver makes it.
void Pinctrl::function(unsigned pin, unsigned code)
{
    unsigned word = GPFSEL0 + pin / 10, shift = pin % 10 * 3;
    uint32_t value = read(word);
    unsigned current = value >> shift & 7;
    if (current == code) return;
    value &= ~(7u << shift);
    if (current != kFselInput && code != kFselInput) write(word, value);
    write(word, value | code << shift);
}

void Pinctrl::input(unsigned pin)
{
    if (rp1()) return rp1_kernel_input(*this, pin);
    board_.kernel_input(pin, sink_);
}

void Pinctrl::output(unsigned pin, bool high)
{
    if (rp1()) return rp1_kernel_output(*this, pin, high);
    set(pin, high);
    function(pin, kFselOutput);
}

void Pinctrl::set(unsigned pin, bool high)
{
    if (rp1()) return rp1_kernel_set(*this, pin, high);
    write((high ? GPSET0 : GPCLR0) + pin / 32, 1u << pin % 32);
}

bool Pinctrl::get(unsigned pin)
{
    if (rp1()) return rp1_kernel_get(*this, pin);
    return read(GPLEV0 + pin / 32) >> pin % 32 & 1;
}

void Pinctrl::bias(unsigned pin, uint64_t flags)
{
    unsigned pull;
    if (flags & GPIO_V2_LINE_FLAG_BIAS_DISABLED)
        pull = kPullOff;
    else if (flags & GPIO_V2_LINE_FLAG_BIAS_PULL_UP)
        pull = kPullUp;
    else if (flags & GPIO_V2_LINE_FLAG_BIAS_PULL_DOWN)
        pull = kPullDown;
    else
        return;
    if (rp1()) return rp1_kernel_pull(*this, pin, pull);
    if (board_.soc() == Soc::kBcm2711) {
        // Two bits a pin, with up and down the other way round.
        static constexpr uint32_t kCode[] = {0, 2, 1};
        unsigned word = GPIO_PUP_PDN_CNTRL_REG0 + pin / 16, shift = pin % 16 * 2;
        write(word, (read(word) & ~(3u << shift)) | kCode[pull] << shift);
        return;
    }
    // The driver's sequence, less its microsecond waits.
    write(GPPUD, pull);
    write(GPPUDCLK0 + pin / 32, 1u << pin % 32);
    write(GPPUDCLK0 + pin / 32, 0);
}

int validate_v2_flags(uint64_t flags)
{
    if (flags & ~kValidV2) return -EINVAL;
    // Debian's kernel has no hardware timestamp engine.
    if (flags & GPIO_V2_LINE_FLAG_EVENT_CLOCK_HTE) return -EOPNOTSUPP;
    if (several(flags & kDirection)) return -EINVAL;
    if ((flags & kEdges) && !(flags & GPIO_V2_LINE_FLAG_INPUT)) return -EINVAL;
    if (several(flags & kDrive)) return -EINVAL;
    if ((flags & kDrive) && !(flags & GPIO_V2_LINE_FLAG_OUTPUT)) return -EINVAL;
    if ((flags & kBias) && !(flags & kDirection)) return -EINVAL;
    if (several(flags & kBias)) return -EINVAL;
    return 0;
}

int validate_v1_flags(uint32_t flags)
{
    if (flags & ~kValidV1) return -EINVAL;
    uint64_t v2 = v1_to_v2_flags(flags);
    if (several(v2 & kDirection) || several(v2 & kDrive)) return -EINVAL;
    if ((v2 & kDrive) && !(v2 & GPIO_V2_LINE_FLAG_OUTPUT)) return -EINVAL;
    if ((v2 & kBias) && !(v2 & kDirection)) return -EINVAL;
    if (several(v2 & kBias)) return -EINVAL;
    return 0;
}

namespace {

// The value of line i's attribute `id`: the first attribute whose mask
// names the line; false when none does.
bool attribute(const gpio_v2_line_config* lc, unsigned i, uint32_t id, gpio_v2_line_attribute* out)
{
    unsigned count = lc->num_attrs < GPIO_V2_LINE_NUM_ATTRS_MAX ? lc->num_attrs : GPIO_V2_LINE_NUM_ATTRS_MAX;
    for (unsigned a = 0; a < count; ++a)
        if (lc->attrs[a].attr.id == id && (lc->attrs[a].mask >> i & 1)) {
            *out = lc->attrs[a].attr;
            return true;
        }
    return false;
}

}  // namespace

uint64_t v2_line_flags(const gpio_v2_line_config* lc, unsigned i)
{
    gpio_v2_line_attribute a;
    return attribute(lc, i, GPIO_V2_LINE_ATTR_ID_FLAGS, &a) ? a.flags : lc->flags;
}

bool v2_output_value(const gpio_v2_line_config* lc, unsigned i)
{
    gpio_v2_line_attribute a;
    return attribute(lc, i, GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES, &a) && (a.values >> i & 1);
}

bool v2_debounce(const gpio_v2_line_config* lc, unsigned i, uint32_t* period_us)
{
    gpio_v2_line_attribute a;
    if (!attribute(lc, i, GPIO_V2_LINE_ATTR_ID_DEBOUNCE, &a)) return false;
    *period_us = a.debounce_period_us;
    return true;
}

long validate_v2_config(const gpio_v2_line_config* lc, unsigned n)
{
    if (lc->num_attrs > GPIO_V2_LINE_NUM_ATTRS_MAX) return -EINVAL;
    for (uint32_t word : lc->padding)
        if (word) return -EINVAL;
    for (unsigned i = 0; i < n; ++i) {
        uint64_t flags = v2_line_flags(lc, i);
        int err = validate_v2_flags(flags);
        if (err) return err;
        uint32_t period;
        if (v2_debounce(lc, i, &period) && !(flags & GPIO_V2_LINE_FLAG_INPUT)) return -EINVAL;
    }
    return 0;
}

uint64_t v1_to_v2_flags(uint32_t f)
{
    uint64_t v2 = 0;
    if (f & GPIOHANDLE_REQUEST_INPUT) v2 |= GPIO_V2_LINE_FLAG_INPUT;
    if (f & GPIOHANDLE_REQUEST_OUTPUT) v2 |= GPIO_V2_LINE_FLAG_OUTPUT;
    if (f & GPIOHANDLE_REQUEST_ACTIVE_LOW) v2 |= GPIO_V2_LINE_FLAG_ACTIVE_LOW;
    if (f & GPIOHANDLE_REQUEST_OPEN_DRAIN) v2 |= GPIO_V2_LINE_FLAG_OPEN_DRAIN;
    if (f & GPIOHANDLE_REQUEST_OPEN_SOURCE) v2 |= GPIO_V2_LINE_FLAG_OPEN_SOURCE;
    if (f & GPIOHANDLE_REQUEST_BIAS_PULL_UP) v2 |= GPIO_V2_LINE_FLAG_BIAS_PULL_UP;
    if (f & GPIOHANDLE_REQUEST_BIAS_PULL_DOWN) v2 |= GPIO_V2_LINE_FLAG_BIAS_PULL_DOWN;
    if (f & GPIOHANDLE_REQUEST_BIAS_DISABLE) v2 |= GPIO_V2_LINE_FLAG_BIAS_DISABLED;
    return v2;
}

uint64_t desc_flags(uint64_t previous, uint64_t flags)
{
    constexpr uint64_t kOut = GPIO_V2_LINE_FLAG_OUTPUT;
    uint64_t out = (flags & kDirection) ? flags & kOut : previous & kOut;
    return (flags & ~kDirection) | out;
}

void apply_direction(Pinctrl& pins, unsigned offset, uint64_t flags, bool value)
{
    bool raw = value != ((flags & GPIO_V2_LINE_FLAG_ACTIVE_LOW) != 0);
    // The BCM2835 has neither drive in hardware: an open drain lets a high
    // go by making the pin an input, an open source a low.
    bool let_go =
        ((flags & GPIO_V2_LINE_FLAG_OPEN_DRAIN) && raw) || ((flags & GPIO_V2_LINE_FLAG_OPEN_SOURCE) && !raw);
    if ((flags & GPIO_V2_LINE_FLAG_OUTPUT) && !let_go) {
        pins.bias(offset, flags);
        pins.output(offset, raw);
    } else if (flags & kDirection) {
        pins.input(offset);
        pins.bias(offset, flags);
    }
}

void set_value(Pinctrl& pins, unsigned offset, uint64_t flags, bool value)
{
    bool raw = value != ((flags & GPIO_V2_LINE_FLAG_ACTIVE_LOW) != 0);
    if (flags & GPIO_V2_LINE_FLAG_OPEN_DRAIN) {
        if (raw)
            pins.input(offset);
        else
            pins.output(offset, false);
    } else if (flags & GPIO_V2_LINE_FLAG_OPEN_SOURCE) {
        if (raw)
            pins.output(offset, true);
        else
            pins.input(offset);
    } else {
        pins.set(offset, raw);
    }
}

bool get_value(Pinctrl& pins, unsigned offset, uint64_t flags)
{
    return pins.get(offset) != ((flags & GPIO_V2_LINE_FLAG_ACTIVE_LOW) != 0);
}

}  // namespace tavrel_sim::cdev
