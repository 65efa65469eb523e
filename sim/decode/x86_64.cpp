// SPDX-License-Identifier: MIT
#include "decode/emulate.h"

#include <stdio.h>

#if defined(__x86_64__)

namespace tavrel_sim {
namespace {

// Register numbers as the instruction encoding has them, to mcontext slots.
constexpr int kGreg[16] = {REG_RAX, REG_RCX, REG_RDX, REG_RBX, REG_RSP, REG_RBP, REG_RSI, REG_RDI,
                           REG_R8,  REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15};

constexpr uint64_t CF = 1, PF = 1 << 2, AF = 1 << 4, ZF = 1 << 6, SF = 1 << 7, OF = 1 << 11;
constexpr uint64_t kArithFlags = CF | PF | AF | ZF | SF | OF;

enum class Op { kMovLoad, kMovStore, kMovImm, kZeroExtend, kSignExtend, kAlu, kTest };
enum Alu { kAdd = 0, kOr = 1, kAnd = 4, kSub = 5, kXor = 6, kCmp = 7 };

struct Insn {
    Op op;
    int alu = kAdd;
    unsigned mem_width = 4;  // bytes of the memory operand
    unsigned reg_width = 4;  // bytes of the register operand
    int reg = -1;            // register operand, encoding number
    bool has_imm = false;
    uint64_t imm = 0;
    bool mem_is_dest = false;
    bool rex = false;
    uintptr_t addr = 0;
    size_t length = 0;
};

uint64_t mask(unsigned width)
{
    return width >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * width)) - 1;
}

uint64_t sign_extend(uint64_t v, unsigned width)
{
    if (width >= 8) return v;
    uint64_t sign = uint64_t{1} << (8 * width - 1);
    v &= mask(width);
    return (v ^ sign) - sign;
}

// Reads a register operand; without REX, byte registers 4..7 are AH..BH.
uint64_t get_reg(const ucontext_t* uc, int reg, unsigned width, bool rex)
{
    const greg_t* g = uc->uc_mcontext.gregs;
    if (width == 1 && !rex && reg >= 4 && reg < 8) return (g[kGreg[reg - 4]] >> 8) & 0xFF;
    return static_cast<uint64_t>(g[kGreg[reg]]) & mask(width);
}

// Writes a register operand as the processor does: a 32-bit write clears
// the upper half, 8- and 16-bit writes keep the rest.
void set_reg(ucontext_t* uc, int reg, unsigned width, bool rex, uint64_t v)
{
    greg_t* g = uc->uc_mcontext.gregs;
    if (width == 1 && !rex && reg >= 4 && reg < 8) {
        uint64_t& r = reinterpret_cast<uint64_t&>(g[kGreg[reg - 4]]);
        r = (r & ~uint64_t{0xFF00}) | ((v & 0xFF) << 8);
        return;
    }
    uint64_t& r = reinterpret_cast<uint64_t&>(g[kGreg[reg]]);
    if (width == 4)
        r = v & 0xFFFFFFFF;
    else if (width == 8)
        r = v;
    else
        r = (r & ~mask(width)) | (v & mask(width));
}

uint64_t result_flags(uint64_t res, unsigned width)
{
    uint64_t f = 0;
    res &= mask(width);
    if (res == 0) f |= ZF;
    if (res >> (8 * width - 1) & 1) f |= SF;
    if (!(__builtin_popcount(static_cast<unsigned>(res & 0xFF)) & 1)) f |= PF;
    return f;
}

// Computes an ALU operation and the flags it leaves.
uint64_t alu(int op, uint64_t a, uint64_t b, unsigned width, uint64_t* flags)
{
    uint64_t m = mask(width), res;
    uint64_t msb = uint64_t{1} << (8 * width - 1);
    a &= m;
    b &= m;
    switch (op) {
    case kAdd:
        res = (a + b) & m;
        *flags = result_flags(res, width) | (res < a ? CF : uint64_t{0}) |
                 (((a ^ res) & (b ^ res) & msb) ? OF : uint64_t{0}) |
                 (((a ^ b ^ res) & 0x10) ? AF : uint64_t{0});
        return res;
    case kSub:
    case kCmp:
        res = (a - b) & m;
        *flags = result_flags(res, width) | (a < b ? CF : uint64_t{0}) |
                 (((a ^ b) & (a ^ res) & msb) ? OF : uint64_t{0}) |
                 (((a ^ b ^ res) & 0x10) ? AF : uint64_t{0});
        return res;
    case kOr: res = a | b; break;
    case kAnd: res = a & b; break;
    default: res = a ^ b; break;  // kXor
    }
    *flags = result_flags(res, width);
    return res;
}

// What the opcode says of the operands that follow it.
struct OpcodeForm {
    uint8_t op = 0;
    unsigned imm_bytes = 0;
    bool imm_signed = false;
    int group = -1;  // opcode extension that must match ModRM.reg, or -1
};

// The operand-size prefix and segment prefixes (no effect in 64-bit mode),
// then REX; the bytes after them.
const uint8_t* decode_prefixes(const uint8_t* p, Insn* insn, bool* opsize16, unsigned* rex)
{
    for (;; ++p) {
        if (*p == 0x66)
            *opsize16 = true;
        else if (*p != 0x2E && *p != 0x3E && *p != 0x26 && *p != 0x36)
            break;
    }
    if ((*p & 0xF0) == 0x40) {
        insn->rex = true;
        *rex = *p++ & 0xF;
    }
    return p;
}

// The one-byte opcodes other than the ALU's register/memory forms.
bool decode_one_byte(uint8_t op, unsigned width, Insn* insn, OpcodeForm* f)
{
    switch (op) {
    case 0x88: insn->mem_width = insn->reg_width = 1; [[fallthrough]];
    case 0x89: insn->op = Op::kMovStore; break;
    case 0x8A: insn->mem_width = insn->reg_width = 1; [[fallthrough]];
    case 0x8B: insn->op = Op::kMovLoad; break;
    case 0x63:
        insn->op = Op::kSignExtend;
        insn->mem_width = 4;
        break;
    case 0xC6:
        insn->mem_width = 1;
        f->imm_bytes = 1;
        insn->op = Op::kMovImm;
        f->group = 0;
        break;
    case 0xC7:
        f->imm_bytes = width == 2 ? 2 : 4;
        f->imm_signed = true;
        insn->op = Op::kMovImm;
        f->group = 0;
        break;
    case 0x80:
        insn->mem_width = 1;
        f->imm_bytes = 1;
        insn->op = Op::kAlu;
        break;
    case 0x81:
        f->imm_bytes = width == 2 ? 2 : 4;
        f->imm_signed = true;
        insn->op = Op::kAlu;
        break;
    case 0x83:
        f->imm_bytes = 1;
        f->imm_signed = true;
        insn->op = Op::kAlu;
        break;
    case 0x84: insn->mem_width = insn->reg_width = 1; [[fallthrough]];
    case 0x85: insn->op = Op::kTest; break;
    case 0xF6:
        insn->mem_width = 1;
        f->imm_bytes = 1;
        insn->op = Op::kTest;
        f->group = 0;
        break;
    case 0xF7:
        f->imm_bytes = width == 2 ? 2 : 4;
        f->imm_signed = true;
        insn->op = Op::kTest;
        f->group = 0;
        break;
    default: return false;
    }
    return true;
}

// The opcode, one byte or 0F and one; false for a form not handled here.
bool decode_opcode(const uint8_t*& p, unsigned width, Insn* insn, OpcodeForm* f)
{
    uint8_t op = f->op = *p++;
    if (op == 0x0F) {
        uint8_t op2 = *p++;
        switch (op2) {
        case 0xB6:
        case 0xB7: insn->op = Op::kZeroExtend; break;
        case 0xBE:
        case 0xBF: insn->op = Op::kSignExtend; break;
        default: return false;
        }
        insn->mem_width = (op2 & 1) ? 2 : 1;
    } else if (op < 0x40 && (op & 7) < 4 && (op >> 3) != 2 && (op >> 3) != 3) {
        // ADD OR AND SUB XOR CMP in their four register/memory forms.
        insn->op = Op::kAlu;
        insn->alu = op >> 3;
        insn->mem_is_dest = !(op & 2);
        if (!(op & 1)) insn->mem_width = insn->reg_width = 1;
    } else if (!decode_one_byte(op, width, insn, f)) {
        return false;
    }
    return true;
}

// ModRM's reg field: the register operand, or the opcode extension that
// must match; false for a form not handled here.
bool decode_reg(uint8_t modrm, bool rex_r, const OpcodeForm& f, Insn* insn)
{
    unsigned reg = ((modrm >> 3) & 7) | (rex_r ? 8 : 0);
    if (!f.imm_bytes) {
        insn->reg = static_cast<int>(reg);
        return true;
    }
    if (f.op >= 0x80 && f.op <= 0x83) {
        insn->alu = (modrm >> 3) & 7;
        if (insn->alu != kAdd && insn->alu != kOr && insn->alu != kAnd && insn->alu != kSub &&
            insn->alu != kXor && insn->alu != kCmp)
            return false;  // ADC, SBB
        insn->mem_is_dest = true;
        return true;
    }
    return static_cast<int>((modrm >> 3) & 7) == f.group;
}

// Effective address of a memory ModRM operand: base + index * scale +
// displacement, RIP-relative ones still without the instruction's length.
uint64_t decode_address(const uint8_t*& p, uint8_t modrm, unsigned rex, const greg_t* g, bool* rip_relative)
{
    unsigned mod = modrm >> 6, rm = modrm & 7;
    bool rex_x = rex & 2, rex_b = rex & 1;
    uint64_t addr = 0;
    if (rm == 4) {
        uint8_t sib = *p++;
        unsigned scale = sib >> 6, index = ((sib >> 3) & 7) | (rex_x ? 8 : 0), base = sib & 7;
        if (index != 4) addr += static_cast<uint64_t>(g[kGreg[index]]) << scale;
        if (base == 5 && mod == 0) {
            addr += static_cast<uint64_t>(static_cast<int64_t>(*reinterpret_cast<const int32_t*>(p)));
            p += 4;
        } else {
            addr += static_cast<uint64_t>(g[kGreg[base | (rex_b ? 8 : 0)]]);
        }
    } else if (rm == 5 && mod == 0) {
        *rip_relative = true;
        addr = static_cast<uint64_t>(static_cast<int64_t>(*reinterpret_cast<const int32_t*>(p)));
        p += 4;
    } else {
        addr = static_cast<uint64_t>(g[kGreg[rm | (rex_b ? 8 : 0)]]);
    }
    if (mod == 1) {
        addr += static_cast<uint64_t>(static_cast<int64_t>(*reinterpret_cast<const int8_t*>(p)));
        p += 1;
    } else if (mod == 2) {
        addr += static_cast<uint64_t>(static_cast<int64_t>(*reinterpret_cast<const int32_t*>(p)));
        p += 4;
    }

    return addr;
}

uint64_t read_immediate(const uint8_t* p, unsigned bytes, bool is_signed)
{
    if (bytes == 1) return is_signed ? sign_extend(*p, 1) : *p;
    if (bytes == 2) return sign_extend(*reinterpret_cast<const uint16_t*>(p), 2);
    return sign_extend(*reinterpret_cast<const uint32_t*>(p), 4);
}

// Decodes prefixes, opcode and ModRM; false for a form not handled here.
bool decode(const ucontext_t* uc, Insn* insn)
{
    const uint8_t* start = reinterpret_cast<const uint8_t*>(uc->uc_mcontext.gregs[REG_RIP]);
    bool opsize16 = false;
    unsigned rex = 0;
    const uint8_t* p = decode_prefixes(start, insn, &opsize16, &rex);
    unsigned width = (rex & 8) ? 8 : opsize16 ? 2 : 4;
    insn->mem_width = insn->reg_width = width;
    OpcodeForm f;
    if (!decode_opcode(p, width, insn, &f)) return false;
    uint8_t modrm = *p++;
    if (modrm >> 6 == 3) return false;  // a register operand cannot fault
    if (!decode_reg(modrm, rex & 4, f, insn)) return false;
    const greg_t* g = uc->uc_mcontext.gregs;
    bool rip_relative = false;
    uint64_t addr = decode_address(p, modrm, rex, g, &rip_relative);
    insn->has_imm = f.imm_bytes != 0;
    if (insn->has_imm) insn->imm = read_immediate(p, f.imm_bytes, f.imm_signed);
    p += f.imm_bytes;
    insn->length = static_cast<size_t>(p - start);
    if (rip_relative) addr += static_cast<uint64_t>(g[REG_RIP]) + insn->length;
    insn->addr = static_cast<uintptr_t>(addr);
    return true;
}

bool reads_memory(const Insn& i)
{
    return i.op != Op::kMovStore && i.op != Op::kMovImm;
}

bool writes_memory(const Insn& i)
{
    return i.op == Op::kMovStore || i.op == Op::kMovImm ||
           (i.op == Op::kAlu && i.mem_is_dest && i.alu != kCmp);
}

}  // namespace

Emulated emulate(ucontext_t* uc, Fault fault, Bus& bus)
{
    Insn in{};
    if (!decode(uc, &in)) return Emulated::kUnknown;
    // A pure load must fault as a read, a pure store as a write; a
    // read-modify-write may report either.
    bool r = reads_memory(in), w = writes_memory(in);
    if ((r && !w && fault == Fault::kWrite) || (w && !r && fault == Fault::kRead)) return Emulated::kMismatch;
    if (!bus.covers(in.addr, in.mem_width)) return Emulated::kOutside;

    greg_t* g = uc->uc_mcontext.gregs;
    uint64_t& eflags = reinterpret_cast<uint64_t&>(g[REG_EFL]);
    uint64_t flags;
    switch (in.op) {
    case Op::kMovLoad: set_reg(uc, in.reg, in.reg_width, in.rex, bus.load(in.addr, in.mem_width)); break;
    case Op::kMovStore: bus.store(in.addr, in.mem_width, get_reg(uc, in.reg, in.reg_width, in.rex)); break;
    case Op::kMovImm: bus.store(in.addr, in.mem_width, in.imm & mask(in.mem_width)); break;
    case Op::kZeroExtend: set_reg(uc, in.reg, in.reg_width, in.rex, bus.load(in.addr, in.mem_width)); break;
    case Op::kSignExtend:
        set_reg(uc, in.reg, in.reg_width, in.rex, sign_extend(bus.load(in.addr, in.mem_width), in.mem_width));
        break;
    case Op::kTest: {
        uint64_t a = bus.load(in.addr, in.mem_width);
        uint64_t b = in.has_imm ? in.imm : get_reg(uc, in.reg, in.reg_width, in.rex);
        alu(kAnd, a, b, in.mem_width, &flags);
        eflags = (eflags & ~kArithFlags) | flags;
        break;
    }
    case Op::kAlu: {
        uint64_t m = bus.load(in.addr, in.mem_width);
        uint64_t other = in.has_imm ? in.imm : get_reg(uc, in.reg, in.reg_width, in.rex);
        if (in.mem_is_dest) {
            uint64_t res = alu(in.alu, m, other, in.mem_width, &flags);
            if (in.alu != kCmp) bus.store(in.addr, in.mem_width, res);
        } else {
            uint64_t res = alu(in.alu, other, m, in.reg_width, &flags);
            if (in.alu != kCmp) set_reg(uc, in.reg, in.reg_width, in.rex, res);
        }
        eflags = (eflags & ~kArithFlags) | flags;
        break;
    }
    }
    g[REG_RIP] += static_cast<greg_t>(in.length);
    return Emulated::kDone;
}

uintptr_t instruction_address(const ucontext_t* uc)
{
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
}

void instruction_bytes(const ucontext_t* uc, char* buf, size_t size)
{
    const uint8_t* p = reinterpret_cast<const uint8_t*>(uc->uc_mcontext.gregs[REG_RIP]);
    size_t n = 0;
    for (int i = 0; i < 15 && n + 4 < size; ++i)
        n += static_cast<size_t>(snprintf(buf + n, size - n, "%02x ", p[i]));
    if (n) buf[n - 1] = '\0';
}

}  // namespace tavrel_sim

#endif  // __x86_64__
