// SPDX-License-Identifier: MIT
#include <stdio.h>

#include "decode/emulate.h"

#if defined(__aarch64__)

namespace tavrel_sim {
namespace {

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

// X0..X30, with 31 the zero register or the stack pointer.
uint64_t reg(const ucontext_t* uc, int n, bool sp)
{
    if (n == 31) return sp ? uc->uc_mcontext.sp : 0;
    return uc->uc_mcontext.regs[n];
}

void set_reg(ucontext_t* uc, int n, bool sp, uint64_t v)
{
    if (n == 31) {
        if (sp) uc->uc_mcontext.sp = v;
        return;
    }
    uc->uc_mcontext.regs[n] = v;
}

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

// LDR/STR of every size with an unsigned scaled, unscaled, pre- or
// post-indexed immediate, or an extended register; and LDP/STP.
bool decode(const ucontext_t* uc, uint32_t in, Access* a)
{
    a->rt = in & 31;
    a->rn = (in >> 5) & 31;
    uint64_t b = reg(uc, a->rn, true);
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
        a->addr = b + extended(reg(uc, (in >> 16) & 31, false), (in >> 13) & 7, shift);
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

}  // namespace

Emulated emulate(ucontext_t* uc, Fault fault, Bus& bus)
{
    uint32_t in = *reinterpret_cast<const uint32_t*>(uc->uc_mcontext.pc);
    Access a;
    if (!decode(uc, in, &a)) return Emulated::kUnknown;
    if ((a.load && fault == Fault::kWrite) || (!a.load && fault == Fault::kRead)) return Emulated::kMismatch;

    if (!a.pair) {
        if (a.load)
            set_reg(uc, a.rt, false, result(bus.load(a.addr, a.width), a));
        else
            bus.store(a.addr, a.width, reg(uc, a.rt, false));
    } else if (a.width == 4) {
        // A pair of words is one 8-byte access, reported as such.
        if (a.load) {
            uint64_t v = bus.load(a.addr, 8);
            set_reg(uc, a.rt, false, result(v, a));
            set_reg(uc, a.rt2, false, result(v >> 32, a));
        } else {
            bus.store(a.addr, 8, (reg(uc, a.rt, false) & 0xFFFFFFFF) | reg(uc, a.rt2, false) << 32);
        }
    } else {
        for (int i = 0; i < 2; ++i) {
            int t = i ? a.rt2 : a.rt;
            if (a.load)
                set_reg(uc, t, false, bus.load(a.addr + 8u * i, 8));
            else
                bus.store(a.addr + 8u * i, 8, reg(uc, t, false));
        }
    }
    // A load into the base register wins over the writeback.
    if (a.writeback && !(a.load && (a.rn == a.rt || (a.pair && a.rn == a.rt2))))
        set_reg(uc, a.rn, true, a.next_base);
    uc->uc_mcontext.pc += 4;
    return Emulated::kDone;
}

uintptr_t instruction_address(const ucontext_t* uc)
{
    return uc->uc_mcontext.pc;
}

void instruction_bytes(const ucontext_t* uc, char* buf, size_t size)
{
    snprintf(buf, size, "%08x", *reinterpret_cast<const uint32_t*>(uc->uc_mcontext.pc));
}

}  // namespace tavrel_sim

#endif  // __aarch64__
