// SPDX-License-Identifier: MIT
// Emulation of the load and store instructions that compilers emit for
// accesses to a memory-mapped register block, one instruction at a time:
// x86-64 (x86_64.cpp), 32-bit ARM in ARM and Thumb state
// (arm.cpp) and AArch64 (aarch64.cpp).
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <ucontext.h>

#if defined(__x86_64__) || defined(__arm__) || defined(__aarch64__)
#define TAVREL_SIM_TRAPS 1
#else
#define TAVREL_SIM_TRAPS 0
#endif

namespace tavrel_sim {

// The memory behind the faulting operand.
class Bus {
public:
    // The whole access lies in the block; a part beyond it faults, as on
    // the device, and the instruction is not carried out.
    virtual bool covers(uintptr_t addr, unsigned width) = 0;
    virtual uint64_t load(uintptr_t addr, unsigned width) = 0;
    virtual void store(uintptr_t addr, unsigned width, uint64_t value) = 0;

protected:
    ~Bus() = default;
};

enum class Emulated {
    kDone,      // registers, flags and instruction pointer updated
    kUnknown,   // an instruction form this emulator does not know
    kMismatch,  // the decoded access contradicts the fault
    kOutside,   // the access reaches past the block: a real fault, nothing done
};

enum class Fault { kRead, kWrite, kUnknown };

// Emulates the instruction at the context's instruction pointer, whose
// memory operand faulted. `fault` is what the kernel says the access was,
// where it says.
Emulated emulate(ucontext_t* uc, Fault fault, Bus& bus);

// The context's instruction pointer.
uintptr_t instruction_address(const ucontext_t* uc);

// The instruction at the context's instruction pointer, as hex, for a
// diagnostic.
void instruction_bytes(const ucontext_t* uc, char* buf, size_t size);

}  // namespace tavrel_sim
