// SPDX-License-Identifier: MIT
// Register map of the BCM2835 GPIO block and the one way this library
// touches it. Every access goes through reg_read/reg_write below.
#pragma once

#include <cstdint>

namespace tavrel {

constexpr unsigned kBlockBytes = 4096;

// Word indices into the block.
enum Reg : unsigned {
    GPFSEL0 = 0,  // GPFSEL0..5 are words 0..5, ten pins each
    GPSET0 = 7,   // bank 0: pins 0..31, bank 1 (word + 1): pins 32..
    GPCLR0 = 10,
    GPLEV0 = 13,
    GPPUD = 37,      // pull control, shared by every pin
    GPPUDCLK0 = 38,  // pull clock, bank 0; bank 1 is word 39
    // The BCM2711's pull controls, words 57..60: two bits a pin, sixteen
    // pins a word. They replace GPPUD and GPPUDCLK, which that chip leaves
    // unconnected.
    GPIO_PUP_PDN_CNTRL_REG0 = 57,
    // On the BCM2835 the word of GPIO_PUP_PDN_CNTRL_REG3 is unused and reads
    // as the text "gpio"; on the BCM2711 its top twelve bits read as 0.
    kTagWord = 60,
};

constexpr uint32_t kGpioTag = 0x6770696f;

// Pins with a function-select field (words 0..5). The chip bonds out 54
// of them; the other fields exist and read back as written.
constexpr unsigned kPinCount = 60;
constexpr unsigned kFselWordsSaved = 3;  // pins 0..29

using Block = volatile uint32_t*;

// Copies of the library built for the barrier check's own test leave one
// barrier out, which the check must then find: 1 the one after a read, 2
// after a write, 3 before set_val's store, 4 between the busy mark and the
// access check, 5 every fence made a compiler-only barrier.
#ifndef TAVREL_TEST_DROP_BARRIER
#define TAVREL_TEST_DROP_BARRIER 0
#endif
#define TAVREL_BARRIER_KEPT(n) (TAVREL_TEST_DROP_BARRIER != (n))

// Full data memory barrier. The peripheral bus does not keep accesses to
// different peripherals in order, so each access is fenced on both sides.
inline void barrier()
{
#if !TAVREL_BARRIER_KEPT(5)
    asm volatile("" : : : "memory");
#elif defined(__arm__) && __ARM_ARCH < 7
    // ARMv6 has no DMB instruction; the CP15 operation is its equivalent.
    asm volatile("mcr p15, 0, %0, c7, c10, 5" : : "r"(0) : "memory");
#elif defined(__arm__) || defined(__aarch64__)
    asm volatile("dmb sy" : : : "memory");
#elif defined(__x86_64__)
    // A locked add is a full barrier. Aimed below the stack pointer, as
    // Linux's own does, it does not wait on the return address a call has
    // just stored at (%rsp), where the compiler's own fence would aim.
    asm volatile("lock addl $0, -4(%%rsp)" : : : "memory", "cc");
#else
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
#endif
}

// The pull control needs 150 cycles to settle before and after its clock.
// A system call is out (the BCM2835 has no user-readable timer, so even
// clock_gettime enters the kernel), so this counts instead. The datasheet
// does not name the clock; taking the slowest it may be, the 250 MHz core
// clock, 150 of its cycles are 600 ns. Each iteration is at least one
// ARM1176 cycle (single issue; a folded branch costs nothing), so 600
// iterations last at least 600 ns at up to 1 GHz, and longer when slower.
inline void pull_settle_wait()
{
    for (unsigned i = 600; i != 0; --i) asm volatile("");
}

// An operation calls barrier() once before its first access; each access
// is then followed by its own barrier, so every access sits between two.
inline uint32_t reg_read(Block block, unsigned word)
{
    uint32_t value = block[word];
    if (TAVREL_BARRIER_KEPT(1)) barrier();
    return value;
}

inline void reg_write(Block block, unsigned word, uint32_t value)
{
    block[word] = value;
    if (TAVREL_BARRIER_KEPT(2)) barrier();
}

}  // namespace tavrel
