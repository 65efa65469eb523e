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
// barrier and be found null mid-operation.
extern TAVREL_INTERNAL std::atomic<Block> gpio_mmap;

inline Block open_block()
{
    return gpio_mmap.load(std::memory_order_relaxed);
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
    kForeign,  // a GPIO block of another design, never to be driven
};
extern TAVREL_INTERNAL std::atomic<Chip> chip;

// How a chip sets its pulls.
enum class Pulls : uint8_t {
    kClocked,       // GPPUD's code latched into pins through GPPUDCLK; no read-back
    kControlWords,  // two bits a pin in GPIO_PUP_PDN_CNTRL_REG0..3, read back
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
