// SPDX-License-Identifier: MIT
#include <stdio.h>

#include "decode/arm_decode.h"
#include "decode/emulate.h"

#if defined(__arm__)

namespace tavrel_sim {
namespace {

using namespace arm;

// r0..r15 lie in order in the signal context, then the CPSR.
uint32_t* regs(ucontext_t* uc)
{
    return reinterpret_cast<uint32_t*>(&uc->uc_mcontext.arm_r0);
}

}  // namespace

Emulated emulate(ucontext_t* uc, Fault fault, Bus& bus)
{
    uint32_t* r = regs(uc);
    bool thumb = r[kCpsr] & kThumbBit;
    const auto* pc = reinterpret_cast<const uint16_t*>(r[kPc]);
    Access a;
    bool known;
    if (!thumb) {
        known = decode_a32(r, *reinterpret_cast<const uint32_t*>(pc), &a);
    } else if (is_t32(pc[0])) {
        known = decode_t32(r, pc[0], pc[1], &a);
    } else {
        known = decode_t16(r, pc[0], &a);
    }
    if (!known || (a.load && (a.rt == kPc || a.rt2 == kPc)) || (a.writeback && a.rn == kPc))
        return Emulated::kUnknown;
    if ((a.load && fault == Fault::kWrite) || (!a.load && fault == Fault::kRead)) return Emulated::kMismatch;
    if (a.skipped) {
        r[kPc] += a.length;
        return Emulated::kDone;
    }
    if (!bus.covers(a.addr, a.width)) return Emulated::kOutside;

    if (a.load) {
        uint64_t v = bus.load(a.addr, a.width);
        if (a.rt2 >= 0) {
            r[a.rt] = static_cast<uint32_t>(v);
            r[a.rt2] = static_cast<uint32_t>(v >> 32);
        } else {
            r[a.rt] = extend(v, a.width, a.sign);
        }
    } else {
        uint64_t v = a.rt2 >= 0 ? r[a.rt] | static_cast<uint64_t>(r[a.rt2]) << 32 : r[a.rt];
        bus.store(a.addr, a.width, v);
    }
    // A load into the base register wins over the writeback.
    if (a.writeback && !(a.load && (a.rn == a.rt || a.rn == a.rt2))) r[a.rn] = a.next_base;
    r[kPc] += a.length;
    if (thumb) r[kCpsr] = advance_it(r[kCpsr]);
    return Emulated::kDone;
}

uintptr_t instruction_address(const ucontext_t* uc)
{
    return uc->uc_mcontext.arm_pc;
}

void instruction_bytes(const ucontext_t* uc, char* buf, size_t size)
{
    const auto* r = reinterpret_cast<const uint32_t*>(&uc->uc_mcontext.arm_r0);
    const auto* p = reinterpret_cast<const uint16_t*>(r[kPc]);
    if (r[kCpsr] & kThumbBit)
        snprintf(buf, size, "%04x %04x (Thumb)", p[0], p[1]);
    else
        snprintf(buf, size, "%08x (ARM)", *reinterpret_cast<const uint32_t*>(p));
}

}  // namespace tavrel_sim

#endif  // __arm__
