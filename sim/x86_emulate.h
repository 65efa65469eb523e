// SPDX-License-Identifier: MIT
// Emulation of the x86-64 instructions that compilers emit for accesses to
// a memory-mapped register block, one instruction at a time.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <ucontext.h>

namespace tavrel_sim {

// The memory behind the faulting operand.
class Bus {
public:
    virtual uint64_t load(uintptr_t addr, unsigned width) = 0;
    virtual void store(uintptr_t addr, unsigned width, uint64_t value) = 0;

protected:
    ~Bus() = default;
};

enum class Emulated {
    kDone,      // registers, flags and instruction pointer updated
    kUnknown,   // an instruction form this emulator does not know
    kMismatch,  // the decoded access contradicts the fault
};

// Emulates the instruction at the context's instruction pointer, whose
// memory operand faulted. `write_fault` is the page-fault error code's
// write bit.
Emulated emulate(ucontext_t* uc, bool write_fault, Bus& bus);

// Up to 15 bytes of the instruction at the context's instruction pointer,
// as hex, for a diagnostic.
void instruction_bytes(const ucontext_t* uc, char* buf, size_t size);

}  // namespace tavrel_sim
