// SPDX-License-Identifier: MIT
#include "decode/arm_decode.h"

namespace tavrel_sim::arm {

namespace {

// The base register as the instruction reads it: the PC reads ahead.
uint32_t base(const uint32_t* r, int rn, bool thumb)
{
    if (rn != kPc) return r[rn];
    return thumb ? (r[kPc] + 4) & ~3u : r[kPc] + 8;
}

// An immediate-shifted register operand: LSL, LSR, ASR, ROR or RRX.
uint32_t shifted(uint32_t v, unsigned type, unsigned amount, bool carry)
{
    switch (type) {
    case 0: return v << amount;
    case 1: return amount ? v >> amount : 0;
    case 2:
        return amount ? static_cast<uint32_t>(static_cast<int32_t>(v) >> amount)
                      : static_cast<uint32_t>(static_cast<int32_t>(v) >> 31);
    default: return amount ? (v >> amount) | (v << (32 - amount)) : (v >> 1) | (carry ? 0x80000000u : 0);
    }
}

// Offset, pre- or post-indexed addressing with optional writeback.
void address(Access* a, uint32_t b, uint32_t offset, bool pre, bool up, bool wback)
{
    uint32_t moved = up ? b + offset : b - offset;
    a->addr = pre ? moved : b;
    a->writeback = !pre || wback;
    a->next_base = moved;
}

}  // namespace

bool condition_holds(unsigned cond, uint32_t cpsr)
{
    bool n = cpsr >> 31 & 1, z = cpsr >> 30 & 1, c = cpsr >> 29 & 1, v = cpsr >> 28 & 1;
    bool holds;
    switch (cond >> 1) {
    case 0: holds = z; break;             // EQ, NE
    case 1: holds = c; break;             // CS, CC
    case 2: holds = n; break;             // MI, PL
    case 3: holds = v; break;             // VS, VC
    case 4: holds = c && !z; break;       // HI, LS
    case 5: holds = n == v; break;        // GE, LT
    case 6: holds = !z && n == v; break;  // GT, LE
    default: return true;                 // AL
    }
    return (cond & 1) ? !holds : holds;
}

bool decode_a32(const uint32_t* r, uint32_t in, Access* a)
{
    uint32_t cpsr = r[kCpsr];
    unsigned cond = in >> 28;
    if (cond == 15) return false;  // the unconditional space: no load or store of ours
    a->skipped = !condition_holds(cond, cpsr);
    bool pre = in & (1u << 24), up = in & (1u << 23), wback = in & (1u << 21);
    a->rn = (in >> 16) & 15;
    a->rt = (in >> 12) & 15;
    uint32_t b = base(r, a->rn, false);
    if ((in & 0x0C000000) == 0x04000000) {
        bool reg = in & (1u << 25);
        if (reg && (in & 0x10)) return false;  // media instructions
        a->load = in & (1u << 20);
        a->width = in & (1u << 22) ? 1 : 4;
        uint32_t off =
            reg ? shifted(r[in & 15], (in >> 5) & 3, (in >> 7) & 31, cpsr & (1u << 29)) : in & 0xFFF;
        address(a, b, off, pre, up, wback);
        return true;
    }
    if ((in & 0x0E000090) == 0x00000090 && (in & 0x60)) {
        if (!pre && wback) return false;  // the unprivileged forms
        bool load = in & (1u << 20);
        unsigned op = (in >> 5) & 3;
        uint32_t off = in & (1u << 22) ? ((in >> 4) & 0xF0) | (in & 15) : r[in & 15];
        address(a, b, off, pre, up, wback);
        if (load) {
            a->load = true;
            a->width = op == 2 ? 1 : 2;
            a->sign = op != 1;
        } else if (op == 1) {
            a->width = 2;
        } else {
            if (a->rt & 1) return false;
            a->load = op == 2;
            a->width = 8;
            a->rt2 = a->rt + 1;
        }
        return true;
    }
    return false;
}

bool decode_t16(const uint32_t* r, uint16_t in, Access* a)
{
    a->length = 2;
    a->rt = in & 7;
    a->rn = (in >> 3) & 7;
    unsigned imm5 = (in >> 6) & 31;
    switch (in >> 11) {
    case 0x0C:
    case 0x0D:
        a->width = 4;
        a->load = in & 0x800;
        a->addr = r[a->rn] + 4 * imm5;
        return true;
    case 0x0E:
    case 0x0F:
        a->width = 1;
        a->load = in & 0x800;
        a->addr = r[a->rn] + imm5;
        return true;
    case 0x10:
    case 0x11:
        a->width = 2;
        a->load = in & 0x800;
        a->addr = r[a->rn] + 2 * imm5;
        return true;
    default: break;
    }
    if ((in >> 12) != 5) return false;
    static constexpr struct {
        bool load, sign;
        unsigned width;
    } kForms[8] = {{false, false, 4}, {false, false, 2}, {false, false, 1}, {true, true, 1},
                   {true, false, 4},  {true, false, 2},  {true, false, 1},  {true, true, 2}};
    const auto& f = kForms[(in >> 9) & 7];
    a->load = f.load;
    a->sign = f.sign;
    a->width = f.width;
    a->addr = r[a->rn] + r[(in >> 6) & 7];
    return true;
}

bool decode_t32(const uint32_t* r, uint16_t hw1, uint16_t hw2, Access* a)
{
    a->rn = hw1 & 15;
    a->rt = hw2 >> 12;
    uint32_t b = base(r, a->rn, true);
    if ((hw1 & 0xFE00) == 0xF800) {
        unsigned size = (hw1 >> 5) & 3;
        if (size == 3) return false;
        a->load = hw1 & 0x10;
        a->sign = hw1 & 0x100;
        if (a->sign && !a->load) return false;
        a->width = 1u << size;
        if (a->rt == kPc) return false;  // preloads, and loads that branch
        if (hw1 & 0x80) {
            address(a, b, hw2 & 0xFFF, true, true, false);
        } else if (hw2 & 0x800) {
            bool pre = hw2 & 0x400, up = hw2 & 0x200, wback = hw2 & 0x100;
            if (!pre && !wback) return false;
            address(a, b, hw2 & 0xFF, pre, up, wback);
        } else if ((hw2 & 0x0FC0) == 0) {
            address(a, b, r[hw2 & 15] << ((hw2 >> 4) & 3), true, true, false);
        } else {
            return false;
        }
        return true;
    }
    if ((hw1 & 0xFE40) == 0xE840 && (hw1 & 0x0120)) {
        bool pre = hw1 & 0x100, up = hw1 & 0x80, wback = hw1 & 0x20;
        a->load = hw1 & 0x10;
        a->width = 8;
        a->rt2 = (hw2 >> 8) & 15;
        address(a, b, (hw2 & 0xFF) * 4u, pre, up, wback);
        return true;
    }
    return false;
}

uint32_t advance_it(uint32_t cpsr)
{
    uint32_t it = ((cpsr >> 25) & 3) | ((cpsr >> 8) & 0xFC);
    if (!(it & 0xFF)) return cpsr;
    it = (it & 7) ? (it & 0xE0) | ((it << 1) & 0x1F) : 0;
    cpsr &= ~((3u << 25) | (0x3Fu << 10));
    return cpsr | ((it & 3) << 25) | ((it >> 2) << 10);
}

uint32_t extend(uint64_t v, unsigned width, bool sign)
{
    if (width >= 4) return static_cast<uint32_t>(v);
    uint32_t m = (1u << (8 * width)) - 1, s = 1u << (8 * width - 1);
    uint32_t x = static_cast<uint32_t>(v) & m;
    return sign ? (x ^ s) - s : x;
}

}  // namespace tavrel_sim::arm
