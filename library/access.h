// SPDX-License-Identifier: MIT
// The process-wide GPIO access state shared by the library's sources.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "registers.h"

// Declarations of internal data must say hidden too: otherwise position-
// independent code reaches them through the GOT, two more loads on every
// pin operation.
#define TAVREL_INTERNAL __attribute__((visibility("hidden")))

namespace tavrel {

// The mapped block; null while access is closed. Operations load it once,
// relaxed, and use only that copy: a plain global could be re-read after a
// barrier and be found null mid-operation. A Pi 5's RP1 window is stored
// with its lowest bit set (the window is page-aligned): the one load tells
// an operation both where the block is and which design it is, with no
// second global that could be seen out of step with the first.
extern TAVREL_INTERNAL std::atomic<Block> gpio_mmap;

inline Block open_block()
{
    return gpio_mmap.load(std::memory_order_relaxed);
}

constexpr uintptr_t kRp1Tag = 1;
inline bool is_rp1(Block block)
{
    return reinterpret_cast<uintptr_t>(block) & kRp1Tag;
}
inline Block tagged_rp1(Block window)
{
    return reinterpret_cast<Block>(reinterpret_cast<uintptr_t>(window) | kRp1Tag);
}
inline Block untagged(Block block)
{
    return reinterpret_cast<Block>(reinterpret_cast<uintptr_t>(block) & ~kRp1Tag);
}

// Pins 0..29 whose function select this process changed since open;
// close puts back only these fields.
extern TAVREL_INTERNAL std::atomic<uint32_t> fsel_changed;

// 1 while a function-select update of that word is under way. Callers
// serialise updates of one word, so plain stores suffice; close waits for
// these to clear before it restores.
constexpr unsigned kFselWords = 6;
extern TAVREL_INTERNAL std::atomic<uint8_t> fsel_busy[kFselWords];

// The chip whose GPIO block is mapped, as far as it is known.
enum class Chip : uint8_t {
    kUnknown,  // no device tree says: the block itself is asked when it matters
    kBcm2835,  // the Pi Zero's, and Pi 1 to 3's
    kBcm2711,  // the Pi 4's: other pull controls, 58 pins
    kRp1,      // the Pi 5's RP1 (rp1.h)
    kForeign,  // a GPIO block of another design, never to be driven
};
extern TAVREL_INTERNAL std::atomic<Chip> chip;

// How a chip sets its pulls.
enum class Pulls : uint8_t {
    kClocked,       // GPPUD's code latched into pins through GPPUDCLK; no read-back
    kControlWords,  // two bits a pin in GPIO_PUP_PDN_CNTRL_REG0..3, read back
    kPads,          // the RP1's pad words' enables, read back
};

// What tells the chips of the family apart, each described once here.
struct ChipModel {
    Chip chip;
    const char* compatible;  // its GPIO node's, in the device tree
    const char* label;       // the kernel's GPIO chip's, pinctrl's driver name
    uint32_t pins;           // GPIOs bonded out: with a level, a pull and a line
    Pulls pulls;
};
// The family's chips; kUnknown and kForeign have none.
TAVREL_INTERNAL const ChipModel* chip_model(Chip chip);
// The chip whose kernel GPIO chip has that label (at most n bytes, as
// gpiochip_info holds it); null for a chip of another family.
TAVREL_INTERNAL const ChipModel* chip_labelled(const char* label, size_t n);
// Opens the kernel's GPIO chip of the family (read and write, close-on-
// exec), found by its label among /dev/gpiochip*, and tells which it is.
// -1 with errno: ENOENT when no node is ours, or the first error that kept
// one from being asked (EACCES, say, without the gpio group).
TAVREL_INTERNAL int open_gpio_chip(const ChipModel** model);
// The most pins any chip of the family has.
constexpr uint32_t kMostPins = 58;

// What the device tree says the GPIO block is; no register is touched.
TAVREL_INTERNAL Chip chip_from_device_tree();
// The block's own answer, from one read of word 60, remembered.
TAVREL_INTERNAL Chip probe_chip(Block block);

// The Pi 5's RP1, its window passed untagged (rp1.cpp). Each makes the
// accesses its BCM2835 counterpart's documentation gives for the RP1,
// leading barrier included, but for rp1_set_function, which follows the
// busy mark's. `code` is a BCM2835 function-select code.
TAVREL_INTERNAL void rp1_set_function(Block window, uint32_t pin, uint32_t code);
TAVREL_INTERNAL void rp1_set_val(Block window, uint32_t pin, int32_t value);
TAVREL_INTERNAL void rp1_set_byte(Block window, int32_t first_pin, int32_t byte);
TAVREL_INTERNAL int32_t rp1_get_val(Block window, uint32_t pin);
TAVREL_INTERNAL int32_t rp1_get_byte(Block window, int32_t first_pin);
TAVREL_INTERNAL int32_t rp1_get_mode(Block window, uint32_t pin);
TAVREL_INTERNAL void rp1_set_pull(Block window, uint32_t pin, uint32_t pull);
TAVREL_INTERNAL int32_t rp1_get_pull(Block window, uint32_t pin);
TAVREL_INTERNAL void rp1_set_mask(Block window, uint64_t pins, uint64_t levels);
TAVREL_INTERNAL uint64_t rp1_get_all(Block window);
// Pins 24 to 27 as bits 0 to 3, from one read.
TAVREL_INTERNAL uint32_t rp1_quit_pins(Block window);
// The state of pins 0..29 that close puts back (function, direction, pad),
// and the putting back of those in `changed`.
TAVREL_INTERNAL void rp1_take_snapshot(Block window);
TAVREL_INTERNAL void rp1_restore(Block window, uint32_t changed);

// The chip, for the pull operations: the tree's answer, or else the
// block's. Called after the operation's leading barrier; a probe's read
// brings its own after it.
inline Chip pull_chip(Block block)
{
    Chip known = chip.load(std::memory_order_relaxed);
    return known != Chip::kUnknown ? known : probe_chip(block);
}

// Stops and joins the quit listener if it runs; returns at once when
// called on the listener thread, or when the listener has begun ending
// the process (it never returns from its exit() to be joined).
TAVREL_INTERNAL void stop_quit_listener();

// The calling thread is the quit listener.
TAVREL_INTERNAL bool on_listener_thread();

// True once SIGTERM or SIGINT asked for a quit, or the listener began
// ending the process.
TAVREL_INTERNAL bool quit_pending();

// True once the process has begun to exit: the listener called exit(), or
// the exit handler of tavrel_gpio_init has run.
TAVREL_INTERNAL bool process_exiting();
TAVREL_INTERNAL void mark_process_exiting();

// Where the process ends a quit that a close found pending: exit(0), unless
// the process is already exiting, when a second exit() would be undefined.
TAVREL_INTERNAL void carry_out_quit();

// SIGTERM and SIGINT back to their defaults. If one of them was recorded
// before the reset could take effect, the library's handlers are put back
// and the quit is carried out.
TAVREL_INTERNAL void reset_quit_signals();

// Fork handlers of the listener: around fork() the forking thread keeps
// SIGTERM and SIGINT pending, and a child starts with no listener and the
// application's own dispositions.
TAVREL_INTERNAL void listener_before_fork();
TAVREL_INTERNAL void listener_after_fork_in_parent();
TAVREL_INTERNAL void listener_after_fork_in_child();

// CLOCK_MONOTONIC in nanoseconds: the clock of every deadline, which a
// change of the wall clock cannot stretch or cut.
TAVREL_INTERNAL int64_t monotonic_ns();

// Milliseconds for poll, from now to the deadline, rounded up so that a
// wait never ends before it; 0 once it has passed.
TAVREL_INTERNAL int remaining_ms(int64_t deadline);

// Sets errno to err and returns -1, as the descriptor routines fail.
TAVREL_INTERNAL int fail(int err);

}  // namespace tavrel
