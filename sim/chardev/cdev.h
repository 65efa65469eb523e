// SPDX-License-Identifier: MIT
// The simulated board's GPIO character device: /dev/gpiochip0 as a Pi's
// kernel presents it (gpiolib's character device over pinctrl-bcm2835),
// backed by the board model. The shim sends the device's open and the
// ioctl, read and close of its descriptors here, and everything here
// answers as that kernel does: a result, or a negative errno. The
// descriptors are real ones (eventfds), so that poll, select and epoll
// work on them unchanged.
#pragma once

#include <linux/gpio.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include "model/board.h"
#include "model/pinctrl_rp1.h"

namespace tavrel_sim::cdev {

constexpr char kPath[] = "/dev/gpiochip0";
constexpr char kName[] = "gpiochip0";
// The device numbers a Pi's kernel gives the first GPIO chip.
constexpr unsigned kMajor = 254, kMinor = 0;

const char* chip_label(Soc soc);  // "pinctrl-bcm2835", "pinctrl-bcm2711"
// The line's name on that chip, "" for none.
const char* line_name(Soc soc, unsigned offset);

// The kernel's own side of the pins: pinctrl-bcm2835's register accesses,
// made through the board's model and traced as the kernel's.
class Pinctrl : KernelBus {
public:
    Pinctrl(Board& board, TraceSink* sink) : board_(board), sink_(sink) {}
    void input(unsigned pin);
    void output(unsigned pin, bool high);  // the level first, as the driver does
    void set(unsigned pin, bool high);
    bool get(unsigned pin);
    // The pull a bias flag asks for (GPIO_V2_LINE_FLAG_BIAS_*); none, none.
    void bias(unsigned pin, uint64_t flags);

private:
    void function(unsigned pin, unsigned code);
    uint32_t read(unsigned word) override;
    void write(unsigned word, uint32_t value) override;
    bool rp1() { return is_rp1(board_.soc()); }

    Board& board_;
    TraceSink* sink_;
};

// Checks of the kernel's, on a request's flags; 0 or a negative errno.
int validate_v2_flags(uint64_t flags);
int validate_v1_flags(uint32_t flags);
uint64_t v1_to_v2_flags(uint32_t handle_flags);
// A v2 line configuration, checked for `n` lines; and what it gives line i.
long validate_v2_config(const gpio_v2_line_config* lc, unsigned n);
uint64_t v2_line_flags(const gpio_v2_line_config* lc, unsigned i);
bool v2_output_value(const gpio_v2_line_config* lc, unsigned i);
// Whether line i has a debounce attribute, and its period.
bool v2_debounce(const gpio_v2_line_config* lc, unsigned i, uint32_t* period_us);

// The flags the kernel keeps for a line given `flags`: a direction they
// name replaces the one it had; with none, the line stays as it was.
uint64_t desc_flags(uint64_t previous, uint64_t flags);
// What a request or a new configuration does to a held line, as gpiolib
// does it: the flags decide the direction, active-low, the emulation of
// open drain or source, and the bias; `value` is an output's logical value.
void apply_direction(Pinctrl& pins, unsigned offset, uint64_t flags, bool value);
// Sets a held output's logical value, emulating open drain and source.
void set_value(Pinctrl& pins, unsigned offset, uint64_t flags, bool value);
bool get_value(Pinctrl& pins, unsigned offset, uint64_t flags);

// A line's information as the kernel gives it now, v2 and v1.
void line_info(Board& board, unsigned offset, gpio_v2_line_info* info);
// Line information of these flags (GPIO_V2_LINE_FLAG_*), with the consumer
// and the debounce period of a line they say is used.
void compose_info(Soc soc, unsigned offset, uint64_t flags, const char* label, uint32_t debounce_us,
                  gpio_v2_line_info* info);
void line_info_to_v1(const gpio_v2_line_info& v2, gpioline_info* v1);

// ---- this process's open descriptors --------------------------------------
// Opens the chip on `board`: a descriptor, or -1 with errno.
int open_chip(Board& board, int flags);
bool is_chip(int fd);
bool is_request(int fd);
bool any_open();
long chip_ioctl(Board& board, TraceSink* sink, int fd, unsigned long cmd, void* arg);
long request_ioctl(Board& board, TraceSink* sink, int fd, unsigned long cmd, void* arg);
// A request descriptor's read; *handled false for any other descriptor.
ssize_t request_read(Board& board, int fd, void* buf, size_t count, bool* handled);
// The chip's: changes of the lines it watches (watch.cpp).
ssize_t watch_read(int fd, void* buf, size_t count, bool* handled);
long watch_ioctl(Board& board, int fd, unsigned long cmd, void* arg);
void watch_note(Board& board, const JournalEntry& entry);
void watch_close(int fd);
// Some descriptor of this process watches line information.
bool watching();
// Before the descriptor closes: takes it out of the tables. The request it
// was a copy of, for closed() once the descriptor is; 0 for none.
uint32_t closing(int fd);
// The same for every descriptor from `first` to `last`: the requests, at
// most `max` of them, into `requests`; their number.
unsigned closing_range(unsigned first, unsigned last, uint32_t* requests, unsigned max);
// After: the request, when no copy of it is open any more in any
// process, frees its lines as the kernel's release does.
void closed(Board& board, TraceSink* sink, uint32_t request);
// At exit: closes every request this process has open, as the kernel
// closes an ending process's descriptors.
void release_all(Board& board, TraceSink* sink);

}  // namespace tavrel_sim::cdev
