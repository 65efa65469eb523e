// SPDX-License-Identifier: MIT
#include <stdio.h>

#include "decode/aarch64_decode.h"
#include "decode/emulate.h"

#if defined(__aarch64__)

namespace tavrel_sim {
namespace {

using namespace aarch64;

Regs regs_of(const ucontext_t* uc)
{
    Regs r;
    for (int i = 0; i < 31; ++i) r.x[i] = uc->uc_mcontext.regs[i];
    r.sp = uc->uc_mcontext.sp;
    return r;
}

void set_reg(ucontext_t* uc, int n, bool sp, uint64_t v)
{
    if (n == 31) {
        if (sp) uc->uc_mcontext.sp = v;
        return;
    }
    uc->uc_mcontext.regs[n] = v;
}

}  // namespace

Emulated emulate(ucontext_t* uc, Fault fault, Bus& bus)
{
    uint32_t in = *reinterpret_cast<const uint32_t*>(uc->uc_mcontext.pc);
    const Regs r = regs_of(uc);
    Access a;
    if (!decode(r, in, &a)) return Emulated::kUnknown;
    if ((a.load && fault == Fault::kWrite) || (!a.load && fault == Fault::kRead)) return Emulated::kMismatch;
    if (!bus.covers(a.addr, extent(a))) return Emulated::kOutside;

    if (!a.pair) {
        if (a.load)
            set_reg(uc, a.rt, false, result(bus.load(a.addr, a.width), a));
        else
            bus.store(a.addr, a.width, reg(r, a.rt, false));
    } else if (a.width == 4) {
        // A pair of words is one 8-byte access, reported as such.
        if (a.load) {
            uint64_t v = bus.load(a.addr, 8);
            set_reg(uc, a.rt, false, result(v, a));
            set_reg(uc, a.rt2, false, result(v >> 32, a));
        } else {
            bus.store(a.addr, 8, (reg(r, a.rt, false) & 0xFFFFFFFF) | reg(r, a.rt2, false) << 32);
        }
    } else {
        for (int i = 0; i < 2; ++i) {
            int t = i ? a.rt2 : a.rt;
            if (a.load)
                set_reg(uc, t, false, bus.load(a.addr + 8u * i, 8));
            else
                bus.store(a.addr + 8u * i, 8, reg(r, t, false));
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
