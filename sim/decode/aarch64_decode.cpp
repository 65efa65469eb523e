// SPDX-License-Identifier: MIT
#include "decode/aarch64_decode.h"

namespace tavrel_sim::aarch64 {

namespace {

int64_t sign_bits(uint64_t v, unsigned bits)
{
    uint64_t s = uint64_t{1} << (bits - 1);
    v &= (s << 1) - 1;
    return static_cast<int64_t>((v ^ s) - s);
}

// The extended register offset of LDR/STR (register).
uint64_t extended(uint64_t m, unsigned option, unsigned shift)
{
    switch (option) {
    case 2: m = static_cast<uint32_t>(m); break;
    case 6: m = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(m))); break;
    default: break;  // LSL (UXTX) and SXTX
    }
    return m << shift;
}

}  // namespace

bool decode(const Regs& r, uint32_t in, Access* a)
{
    a->rt = in & 31;
    a->rn = (in >> 5) & 31;
    uint64_t b = reg(r, a->rn, true);
    if ((in & 0x3E000000) == 0x28000000) {  // LDP/STP of general registers
        unsigned opc = in >> 30, mode = (in >> 23) & 3;
        if (opc == 3 || (opc == 1 && !(in & (1u << 22)))) return false;
        a->pair = true;
        a->load = in & (1u << 22);
        a->width = opc == 2 ? 8 : 4;
        a->sign = opc == 1;
        a->to_w = opc == 0;
        a->rt2 = (in >> 10) & 31;
        uint64_t off = static_cast<uint64_t>(sign_bits(in >> 15, 7)) * a->width;
        a->addr = mode == 1 ? b : b + off;
        a->writeback = mode == 1 || mode == 3;
        a->next_base = b + off;
        return true;
    }
    // Bit 26 clear: general registers, not SIMD and floating point.
    if ((in & 0x3F000000) != 0x39000000 && (in & 0x3F000000) != 0x38000000) return false;
    unsigned size = in >> 30, opc = (in >> 22) & 3;
    if (opc == 2 && size == 3) return false;  // PRFM
    if (opc == 3 && size >= 2) return false;
    a->width = 1u << size;
    a->load = opc != 0;
    a->sign = opc >= 2;
    a->to_w = opc == 3 || (opc == 1 && size < 3);
    if (in & (1u << 24)) {
        a->addr = b + (static_cast<uint64_t>((in >> 10) & 0xFFF) << size);
        return true;
    }
    if (in & (1u << 21)) {
        if (((in >> 10) & 3) != 2 || !((in >> 13) & 2)) return false;
        unsigned shift = in & (1u << 12) ? size : 0;
        a->addr = b + extended(reg(r, (in >> 16) & 31, false), (in >> 13) & 7, shift);
        return true;
    }
    uint64_t off = static_cast<uint64_t>(sign_bits(in >> 12, 9));
    switch ((in >> 10) & 3) {
    case 1:
        a->addr = b;
        a->writeback = true;
        a->next_base = b + off;
        return true;  // post-index
    case 3:
        a->addr = b + off;
        a->writeback = true;
        a->next_base = b + off;
        return true;                          // pre-index
    default: a->addr = b + off; return true;  // unscaled, unprivileged
    }
}

uint64_t result(uint64_t v, const Access& a)
{
    if (a.sign) {
        auto s = static_cast<uint64_t>(sign_bits(v, 8 * a.width));
        return a.to_w ? static_cast<uint32_t>(s) : s;
    }
    return a.width >= 8 ? v : v & ((uint64_t{1} << (8 * a.width)) - 1);
}

}  // namespace tavrel_sim::aarch64
