// SPDX-License-Identifier: MIT
// 32-bit ARM's loads and stores decoded, in ARM and Thumb state: a pure
// step from the instruction and the registers to a description of the
// access, built and tested on every host. arm.cpp carries it out on an
// ARM machine.
#pragma once

#include <stdint.h>

namespace tavrel_sim::arm {

constexpr uint32_t kThumbBit = 1u << 5;  // CPSR.T
constexpr int kPc = 15;
constexpr int kCpsr = 16;  // r0..r15, then the CPSR: 17 words

// One load or store, decoded.
struct Access {
    bool load = false;
    bool sign = false;       // sign-extending load
    unsigned width = 4;      // bytes; 8 for a doubleword pair
    int rt = 0, rt2 = -1;    // the transfer registers
    int rn = 0;              // the base
    uint32_t addr = 0;       // the address accessed
    bool writeback = false;  // the base becomes `next_base`
    uint32_t next_base = 0;
    unsigned length = 4;   // bytes of the instruction
    bool skipped = false;  // its condition failed: no access, only the PC moves
};

// ARM state: LDR/STR(B) with an immediate or shifted register offset, and
// the extra forms LDRH/STRH/LDRSB/LDRSH/LDRD/STRD. False for every other
// encoding, the unconditional space (NEON, PLD, ...) included.
bool decode_a32(const uint32_t* r, uint32_t in, Access* a);
// Thumb state, 16-bit: LDR/STR(B/H) with a 5-bit immediate, and the
// register-offset forms.
bool decode_t16(const uint32_t* r, uint16_t in, Access* a);
// Thumb state, 32-bit: LDR/STR(B/H/SB/SH).W with a 12-bit immediate, an
// 8-bit immediate with pre- or post-indexing, or a shifted register; and
// LDRD/STRD.
bool decode_t32(const uint32_t* r, uint16_t hw1, uint16_t hw2, Access* a);
// The instruction in Thumb state is 32-bit: its first halfword says so.
inline bool is_t32(uint16_t hw1)
{
    return (hw1 >> 11) >= 0x1D;
}
// Whether condition `cond` (0 to 14) holds for the CPSR's flags.
bool condition_holds(unsigned cond, uint32_t cpsr);
// Moves the Thumb IT state on by one instruction.
uint32_t advance_it(uint32_t cpsr);
// A loaded value of `width` bytes, zero- or sign-extended to 32 bits.
uint32_t extend(uint64_t v, unsigned width, bool sign);

}  // namespace tavrel_sim::arm
