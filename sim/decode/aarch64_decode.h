// SPDX-License-Identifier: MIT
// AArch64's loads and stores of general registers decoded: a pure step
// from the instruction and the registers to a description of the access,
// built and tested on every host. aarch64.cpp carries it out on an AArch64
// machine.
#pragma once

#include <stdint.h>

namespace tavrel_sim::aarch64 {

// X0..X30 and the stack pointer, as the instruction reads them.
struct Regs {
    uint64_t x[31];
    uint64_t sp;
};

// One load or store, decoded.
struct Access {
    bool load = false;
    bool sign = false;   // sign-extending load
    bool to_w = false;   // the result is a W register
    bool pair = false;   // LDP/STP: rt and rt2
    unsigned width = 4;  // bytes of each element
    int rt = 0, rt2 = 0, rn = 0;
    uint64_t addr = 0;
    bool writeback = false;  // the base becomes `next_base`
    uint64_t next_base = 0;
};

// LDR/STR of every size with an unsigned scaled, unscaled, pre- or
// post-indexed immediate, or an extended register; and LDP/STP. False for
// every other encoding: SIMD and floating point, exclusives, atomics,
// PRFM.
bool decode(const Regs& r, uint32_t in, Access* a);
// A loaded element as its destination register holds it.
uint64_t result(uint64_t v, const Access& a);
// Register n: 31 is the stack pointer where `sp`, else the zero register.
inline uint64_t reg(const Regs& r, int n, bool sp)
{
    return n == 31 ? (sp ? r.sp : 0) : r.x[n];
}
// The access's whole extent in bytes: a pair is two elements.
inline unsigned extent(const Access& a)
{
    return a.pair ? 2 * a.width : a.width;
}

}  // namespace tavrel_sim::aarch64
