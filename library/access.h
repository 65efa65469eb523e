// The process-wide GPIO access state shared by the library's sources.
#pragma once

#include <atomic>
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

// Stops and joins the quit listener if it runs; returns at once when
// called on the listener thread.
TAVREL_INTERNAL void stop_quit_listener();

// True once SIGTERM or SIGINT asked for a quit, or the listener began
// ending the process.
TAVREL_INTERNAL bool quit_pending();

}  // namespace tavrel
