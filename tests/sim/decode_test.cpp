// SPDX-License-Identifier: MIT
// The simulated block's instruction emulation: each form compilers emit for
// register accesses on x86-64, 32-bit ARM (ARM and Thumb state) and
// AArch64, with its result, flags, writeback and trace entry.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include "decode/aarch64_decode.h"
#include "decode/arm_decode.h"
#include "decode/emulate.h"
#include "support/process.h"
#include "support/sim_board.h"

using namespace tavrel_test;

// ---- the decoders, from raw encodings, on every host ----------------------

namespace {

namespace a32 = tavrel_sim::arm;
namespace a64 = tavrel_sim::aarch64;

// r0..r15 and the CPSR: r_n holds 0x1000 * n.
struct ArmRegs {
    uint32_t r[17];
    ArmRegs(uint32_t cpsr = 0)
    {
        for (int i = 0; i < 16; ++i) r[i] = 0x1000u * static_cast<uint32_t>(i);
        r[a32::kCpsr] = cpsr;
    }
};

TEST(ArmDecoder, arm_state_loads_and_stores_with_their_addressing)
{
    ArmRegs regs;
    a32::Access a;
    ASSERT_TRUE(a32::decode_a32(regs.r, 0xe5910004, &a));  // ldr r0, [r1, #4]
    EXPECT_TRUE(a.load);
    EXPECT_EQ(a.width, 4u);
    EXPECT_EQ(a.rt, 0);
    EXPECT_EQ(a.addr, 0x1004u);
    EXPECT_FALSE(a.writeback);

    a = {};
    ASSERT_TRUE(a32::decode_a32(regs.r, 0xe4032008, &a));  // str r2, [r3], #-8
    EXPECT_FALSE(a.load);
    EXPECT_EQ(a.addr, 0x3000u) << "post-indexed: the base as it was";
    EXPECT_TRUE(a.writeback);
    EXPECT_EQ(a.next_base, 0x3000u - 8);

    a = {};
    ASSERT_TRUE(a32::decode_a32(regs.r, 0xe1d100b2, &a));  // ldrh r0, [r1, #2]
    EXPECT_EQ(a.width, 2u);
    EXPECT_FALSE(a.sign);
    EXPECT_EQ(a.addr, 0x1002u);

    a = {};
    ASSERT_TRUE(a32::decode_a32(regs.r, 0xe19100d2, &a));  // ldrsb r0, [r1, r2]
    EXPECT_EQ(a.width, 1u);
    EXPECT_TRUE(a.sign);
    EXPECT_EQ(a.addr, 0x3000u);

    a = {};
    ASSERT_TRUE(a32::decode_a32(regs.r, 0xe1c120d0, &a));  // ldrd r2, r3, [r1]
    EXPECT_EQ(a.width, 8u);
    EXPECT_EQ(a.rt2, 3);

    // The halfword forms split their immediate: bits 11:8 are its high nibble.
    a = {};
    ASSERT_TRUE(a32::decode_a32(regs.r, 0xe1d101b2, &a));  // ldrh r0, [r1, #0x12]
    EXPECT_EQ(a.addr, 0x1012u);
    a = {};
    ASSERT_TRUE(a32::decode_a32(regs.r, 0xe1c323b4, &a));  // strh r2, [r3, #0x34]
    EXPECT_FALSE(a.load);
    EXPECT_EQ(a.width, 2u);
    EXPECT_EQ(a.addr, 0x3034u);
    // The PC reads as the instruction's address plus 8 in ARM state.
    a = {};
    ASSERT_TRUE(a32::decode_a32(regs.r, 0xe59f0004, &a));  // ldr r0, [pc, #4]
    EXPECT_EQ(a.addr, 0xF000u + 8 + 4);
    a = {};
    ASSERT_TRUE(a32::decode_a32(regs.r, 0xe1df01b0, &a));  // ldrh r0, [pc, #0x10]
    EXPECT_EQ(a.addr, 0xF000u + 8 + 0x10);
}

TEST(ArmDecoder, a_condition_that_fails_skips_the_access)
{
    a32::Access a;
    ASSERT_TRUE(a32::decode_a32(ArmRegs(1u << 30).r, 0x15910000, &a));  // ldrne r0, [r1], Z set
    EXPECT_TRUE(a.skipped);
    a = {};
    ASSERT_TRUE(a32::decode_a32(ArmRegs(0).r, 0x15910000, &a));
    EXPECT_FALSE(a.skipped);
    // Every condition against N, Z, C and V.
    const uint32_t N = 1u << 31, Z = 1u << 30, C = 1u << 29, V = 1u << 28;
    struct {
        unsigned cond;
        uint32_t holds, fails;
    } cases[] = {{0, Z, 0},      {1, 0, Z},      {2, C, 0},  {3, 0, C},     {4, N, 0},
                 {5, 0, N},      {6, V, 0},      {7, 0, V},  {8, C, C | Z}, {9, Z, C},
                 {10, N | V, N}, {11, N, N | V}, {12, 0, Z}, {13, Z, 0},    {14, N | Z, 0}};
    for (const auto& c : cases) {
        EXPECT_TRUE(a32::condition_holds(c.cond, c.holds)) << "cond " << c.cond;
        if (c.cond != 14) {
            EXPECT_FALSE(a32::condition_holds(c.cond, c.fails)) << "cond " << c.cond;
        }
    }
}

TEST(ArmDecoder, forms_it_cannot_carry_out_exactly_are_refused)
{
    ArmRegs regs;
    for (uint32_t in : {0xf4210a8fu,     // vld1.32 {d0-d1}, [r1]: the unconditional space
                        0xf5d1f000u,     // pld [r1]
                        0xed910b00u,     // vldr d0, [r1]
                        0xe8910005u,     // ldm r1, {r0, r2}
                        0xe1910f9fu,     // ldrex r0, [r1]
                        0xe0f100b2u,     // ldrht r0, [r1], #2
                        0xe1c310d0u}) {  // ldrd r1, r2, [r3]: an odd first register
        a32::Access a;
        EXPECT_FALSE(a32::decode_a32(regs.r, in, &a)) << std::hex << in;
    }
    for (auto in : {std::pair<uint16_t, uint16_t>{0xed91, 0x0b00},     // vldr d0, [r1]
                    std::pair<uint16_t, uint16_t>{0xe851, 0x0f00},     // ldrex r0, [r1]
                    std::pair<uint16_t, uint16_t>{0xe891, 0x0005}}) {  // ldmia.w r1, {r0, r2}
        a32::Access a;
        EXPECT_TRUE(a32::is_t32(in.first));
        EXPECT_FALSE(a32::decode_t32(regs.r, in.first, in.second, &a)) << std::hex << in.first;
    }
}

TEST(ArmDecoder, thumb_forms_and_the_it_state)
{
    ArmRegs regs(a32::kThumbBit);
    a32::Access a;
    EXPECT_FALSE(a32::is_t32(0x6848));
    ASSERT_TRUE(a32::decode_t16(regs.r, 0x6848, &a));  // ldr r0, [r1, #4]
    EXPECT_TRUE(a.load);
    EXPECT_EQ(a.addr, 0x1004u);
    EXPECT_EQ(a.length, 2u);
    a = {};
    ASSERT_TRUE(a32::decode_t16(regs.r, 0x551a, &a));  // strb r2, [r3, r4]
    EXPECT_FALSE(a.load);
    EXPECT_EQ(a.width, 1u);
    EXPECT_EQ(a.addr, 0x7000u);
    a = {};
    ASSERT_TRUE(a32::decode_t32(regs.r, 0xf8d1, 0x0008, &a));  // ldr.w r0, [r1, #8]
    EXPECT_EQ(a.addr, 0x1008u);
    EXPECT_EQ(a.length, 4u);
    a = {};
    ASSERT_TRUE(a32::decode_t32(regs.r, 0xe9d2, 0x0102, &a));  // ldrd r0, r1, [r2, #8]
    EXPECT_EQ(a.width, 8u);
    EXPECT_EQ(a.rt2, 1);
    EXPECT_EQ(a.addr, 0x2008u);
    // ITT EQ: the state steps on, then ends after the second instruction.
    uint32_t cpsr = a32::kThumbBit | 0x04u << 8;
    cpsr = a32::advance_it(cpsr);
    EXPECT_EQ(cpsr, a32::kThumbBit | 0x08u << 8);
    EXPECT_EQ(a32::advance_it(cpsr), a32::kThumbBit);
}

TEST(Aarch64Decoder, loads_and_stores_with_their_addressing)
{
    a64::Regs regs;
    for (int i = 0; i < 31; ++i) regs.x[i] = 0x1000u * static_cast<uint64_t>(i);
    regs.sp = 0x80000;
    a64::Access a;
    ASSERT_TRUE(a64::decode(regs, 0xb9400420, &a));  // ldr w0, [x1, #4]
    EXPECT_TRUE(a.load && a.to_w);
    EXPECT_EQ(a.width, 4u);
    EXPECT_EQ(a.addr, 0x1004u);
    a = {};
    ASSERT_TRUE(a64::decode(regs, 0xf81f8c62, &a));  // str x2, [x3, #-8]!
    EXPECT_FALSE(a.load);
    EXPECT_EQ(a.width, 8u);
    EXPECT_EQ(a.addr, 0x3000u - 8);
    EXPECT_TRUE(a.writeback);
    a = {};
    ASSERT_TRUE(a64::decode(regs, 0xf8408420, &a));  // ldr x0, [x1], #8
    EXPECT_EQ(a.addr, 0x1000u) << "post-indexed: the base as it was";
    EXPECT_TRUE(a.writeback);
    EXPECT_EQ(a.next_base, 0x1008u);
    a = {};
    ASSERT_TRUE(a64::decode(regs, 0xb81fc462, &a));  // str w2, [x3], #-4
    EXPECT_EQ(a.addr, 0x3000u);
    EXPECT_EQ(a.next_base, 0x3000u - 4);
    a = {};
    ASSERT_TRUE(a64::decode(regs, 0x29400440, &a));  // ldp w0, w1, [x2]
    EXPECT_TRUE(a.pair);
    EXPECT_EQ(a64::extent(a), 8u);
    // A pair's offset counts elements: imm7 scaled by 4 or 8.
    a = {};
    ASSERT_TRUE(a64::decode(regs, 0x29410440, &a));  // ldp w0, w1, [x2, #8]
    EXPECT_EQ(a.addr, 0x2008u);
    a = {};
    ASSERT_TRUE(a64::decode(regs, 0xa9410440, &a));  // ldp x0, x1, [x2, #16]
    EXPECT_EQ(a.addr, 0x2010u);
    EXPECT_EQ(a64::extent(a), 16u);
    a = {};
    ASSERT_TRUE(a64::decode(regs, 0xa9be10a3, &a));  // stp x3, x4, [x5, #-32]!
    EXPECT_FALSE(a.load);
    EXPECT_EQ(a.addr, 0x5000u - 32);
    EXPECT_EQ(a.next_base, 0x5000u - 32);
    a = {};
    ASSERT_TRUE(a64::decode(regs, 0xa8c10440, &a));  // ldp x0, x1, [x2], #16
    EXPECT_EQ(a.addr, 0x2000u);
    EXPECT_EQ(a.next_base, 0x2010u);
    a = {};
    ASSERT_TRUE(a64::decode(regs, 0x39800020, &a));  // ldrsb x0, [x1]
    EXPECT_TRUE(a.sign);
    EXPECT_FALSE(a.to_w);
    EXPECT_EQ(a64::result(0x80, a), 0xFFFFFFFFFFFFFF80u);
    a = {};
    ASSERT_TRUE(a64::decode(regs, 0xf8625820, &a));  // ldr x0, [x1, w2, uxtw #3]
    EXPECT_EQ(a.addr, 0x1000u + (0x2000u << 3));
    a = {};
    ASSERT_TRUE(a64::decode(regs, 0xf9400be1, &a));  // ldr x1, [sp, #16]
    EXPECT_EQ(a.addr, 0x80010u);
    for (uint32_t in : {0x3dc00020u,     // ldr q0, [x1]
                        0x885f7c20u,     // ldxr w0, [x1]
                        0xb8200041u,     // ldadd w0, w1, [x2]
                        0xf9800020u}) {  // prfm pldl1keep, [x1]
        a = {};
        EXPECT_FALSE(a64::decode(regs, in, &a)) << std::hex << in;
    }
}

}  // namespace

#if TAVREL_SIM_TRAPS

namespace {

constexpr unsigned kWord = 100;  // plain storage

class Emulator : public testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_TRAPPING();
        ASSERT_NE(block = map_gpiomem(), nullptr);
        word = block + kWord;
        board.set_word(kWord, 0x80000001);
        board.clear_trace();
    }
    void TearDown() override
    {
        if (block) munmap(block, 4096);
    }

    SimBoard board;
    uint32_t* block = nullptr;
    uint32_t* word = nullptr;
};

TEST_F(Emulator, device_registers_behave_as_the_hardware)
{
    volatile uint32_t* regs = block;
    regs[0] = 01;  // pin 0 an output
    regs[7] = 1;   // GPSET0
    EXPECT_EQ(regs[7], 0u) << "set and clear words read as 0";
    EXPECT_EQ(regs[13] & 1, 1u) << "an output reads its latch";
    regs[13] = 0;  // read-only
    EXPECT_EQ(regs[13] & 1, 1u);
    regs[10] = 1;  // GPCLR0
    EXPECT_EQ(regs[13] & 1, 0u);
}

#if defined(__x86_64__)

constexpr uint64_t CF = 1, ZF = 1 << 6, SF = 1 << 7, OF = 1 << 11;

TEST_F(Emulator, mov_load_and_store_of_32_bits)
{
    uint32_t v;
    asm volatile("movl (%1), %0" : "=r"(v) : "r"(word) : "memory");
    EXPECT_EQ(v, 0x80000001u);
    asm volatile("movl %1, (%0)" : : "r"(word), "r"(0x12345678u) : "memory");
    asm volatile("movl $0x0badcafe, 4(%0)" : : "r"(word) : "memory");
    EXPECT_EQ(board.word(kWord), 0x12345678u);
    EXPECT_EQ(board.word(kWord + 1), 0x0badcafeu);
    EXPECT_EQ(board.trace(),
              (Accesses{R(kWord, 0x80000001), W(kWord, 0x12345678), W(kWord + 1, 0x0badcafe)}));
}

TEST_F(Emulator, a_32_bit_load_clears_the_upper_half_of_the_register)
{
    uint64_t v = ~uint64_t{0};
    asm volatile("movl (%1), %k0" : "+r"(v) : "r"(word) : "memory");
    EXPECT_EQ(v, 0x80000001u);
}

TEST_F(Emulator, high_registers_and_scaled_index_addressing)
{
    uint64_t out;
    asm volatile(
        "movq %1, %%r10\n\t"
        "movq $2, %%r9\n\t"
        "movl $0x55aa55aa, -8(%%r10,%%r9,4)\n\t"
        "movl (%%r10), %%r11d\n\t"
        "movq %%r11, %0"
        : "=r"(out)
        : "r"(word)
        : "r9", "r10", "r11", "memory");
    EXPECT_EQ(out, 0x55aa55aau);
    EXPECT_EQ(board.trace(), (Accesses{W(kWord, 0x55aa55aa), R(kWord, 0x55aa55aa)}));
}

TEST_F(Emulator, movsxd_sign_extends_to_64_bits)
{
    int64_t v;
    asm volatile("movslq (%1), %0" : "=r"(v) : "r"(word) : "memory");
    EXPECT_EQ(v, static_cast<int64_t>(static_cast<int32_t>(0x80000001)));
}

TEST_F(Emulator, alu_with_memory_source_sets_result_and_flags)
{
    uint32_t r;
    uint64_t f;
    // and, or, xor, add, sub with the word 0x80000001 as source.
    r = 0x80000000;
    asm volatile("andl (%2), %0; pushfq; popq %1" : "+r"(r), "=r"(f) : "r"(word) : "memory", "cc");
    EXPECT_EQ(r, 0x80000000u);
    EXPECT_EQ(f & (ZF | SF | CF | OF), SF);
    r = 2;
    asm volatile("orl (%2), %0; pushfq; popq %1" : "+r"(r), "=r"(f) : "r"(word) : "memory", "cc");
    EXPECT_EQ(r, 0x80000003u);
    r = 0x80000001;
    asm volatile("xorl (%2), %0; pushfq; popq %1" : "+r"(r), "=r"(f) : "r"(word) : "memory", "cc");
    EXPECT_EQ(r, 0u);
    EXPECT_EQ(f & (ZF | SF | CF | OF), ZF);
    r = 0x80000000;
    asm volatile("addl (%2), %0; pushfq; popq %1" : "+r"(r), "=r"(f) : "r"(word) : "memory", "cc");
    EXPECT_EQ(r, 1u);
    EXPECT_EQ(f & (ZF | SF | CF | OF), CF | OF);
    r = 1;
    asm volatile("subl (%2), %0; pushfq; popq %1" : "+r"(r), "=r"(f) : "r"(word) : "memory", "cc");
    EXPECT_EQ(r, 0x80000000u);
    EXPECT_EQ(f & (ZF | SF | CF | OF), SF | CF | OF);
    EXPECT_EQ(board.trace().size(), 5u);
}

TEST_F(Emulator, cmp_and_test_set_flags_without_writing)
{
    uint64_t f;
    uint32_t r = 0x80000001;
    asm volatile("cmpl (%1), %2; pushfq; popq %0" : "=r"(f) : "r"(word), "r"(r) : "memory", "cc");
    EXPECT_EQ(f & (ZF | CF), ZF);
    asm volatile("testl $0x10, (%1); pushfq; popq %0" : "=r"(f) : "r"(word) : "memory", "cc");
    EXPECT_EQ(f & ZF, ZF);
    asm volatile("testl %2, (%1); pushfq; popq %0" : "=r"(f) : "r"(word), "r"(1u) : "memory", "cc");
    EXPECT_EQ(f & ZF, 0u);
    asm volatile("cmpl $5, (%1); pushfq; popq %0" : "=r"(f) : "r"(word) : "memory", "cc");
    EXPECT_EQ(f & (ZF | CF | OF), OF) << "0x80000001 - 5 overflows";
    EXPECT_EQ(board.trace(), (Accesses{R(kWord, 0x80000001), R(kWord, 0x80000001), R(kWord, 0x80000001),
                                       R(kWord, 0x80000001)}));
}

TEST_F(Emulator, alu_with_memory_destination_reads_then_writes)
{
    asm volatile("orl %1, (%0)" : : "r"(word), "r"(0x100u) : "memory", "cc");
    asm volatile("andl $0xfffffffe, (%0)" : : "r"(word) : "memory", "cc");
    asm volatile("addl $1, (%0)" : : "r"(word) : "memory", "cc");
    EXPECT_EQ(board.word(kWord), 0x80000101u);
    EXPECT_EQ(board.trace(), (Accesses{R(kWord, 0x80000001), W(kWord, 0x80000101), R(kWord, 0x80000101),
                                       W(kWord, 0x80000100), R(kWord, 0x80000100), W(kWord, 0x80000101)}));
}

TEST_F(Emulator, narrow_and_wide_accesses_are_emulated_but_reported)
{
    board.allow_errors();
    uint32_t v;
    asm volatile("movzbl 3(%1), %0" : "=r"(v) : "r"(word) : "memory");
    EXPECT_EQ(v, 0x80u);
    asm volatile("movswl (%1), %0" : "=r"(v) : "r"(word) : "memory");
    EXPECT_EQ(v, 1u);
    uint64_t q;
    asm volatile("movq (%1), %0" : "=r"(q) : "r"(word) : "memory");
    asm volatile("movw $7, (%0)" : : "r"(word) : "memory");
    asm volatile("movl 1(%1), %0" : "=r"(v) : "r"(word) : "memory");
    EXPECT_EQ(board.word(kWord), 0x80000001u) << "malformed writes are dropped";
    EXPECT_EQ(board.errors(), 5u);
    auto records = board.records();
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].width, 1u);
    EXPECT_EQ(records[0].flags, tavrel_sim::TraceRecord::kBadWidth | tavrel_sim::TraceRecord::kUnaligned);
    EXPECT_EQ(records[2].width, 8u);
    EXPECT_EQ(records[4].flags, tavrel_sim::TraceRecord::kUnaligned);
}

TEST_F(Emulator, unknown_instruction_forms_abort_loudly)
{
    Outcome o = in_child([&] {
        uint32_t v = 1;
        asm volatile("xchgl %0, (%1)" : "+r"(v) : "r"(word) : "memory");
    });
    EXPECT_TRUE(WIFSIGNALED(o.status) && WTERMSIG(o.status) == SIGABRT) << o.status;
    EXPECT_NE(o.err.find("cannot emulate"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("87"), std::string::npos) << "the instruction bytes are shown: " << o.err;
}

#endif  // __x86_64__

#if defined(__arm__)

TEST_F(Emulator, arm_ldr_and_str_with_immediate_and_shifted_register_offsets)
{
    uint32_t v, index = 2;
    asm volatile("ldr %0, [%1]" : "=r"(v) : "r"(word) : "memory");
    EXPECT_EQ(v, 0x80000001u);
    asm volatile("str %1, [%0, #4]" : : "r"(word), "r"(0x12345678u) : "memory");
    asm volatile("str %1, [%0, %2, lsl #2]" : : "r"(word), "r"(0x0badcafeu), "r"(index) : "memory");
    asm volatile("ldr %0, [%1, -%2, lsl #1]" : "=r"(v) : "r"(word + 2), "r"(index) : "memory");
    EXPECT_EQ(v, 0x12345678u);
    EXPECT_EQ(board.trace(), (Accesses{R(kWord, 0x80000001), W(kWord + 1, 0x12345678),
                                       W(kWord + 2, 0x0badcafe), R(kWord + 1, 0x12345678)}));
}

TEST_F(Emulator, arm_pre_and_post_indexing_write_the_base_back)
{
    uint32_t* p = word;
    uint32_t v;
    asm volatile("ldr %0, [%1], #4" : "=&r"(v), "+r"(p) : : "memory");
    EXPECT_EQ(v, 0x80000001u);
    EXPECT_EQ(p, word + 1);
    asm volatile("str %1, [%0, #4]!" : "+r"(p) : "r"(7u) : "memory");
    EXPECT_EQ(p, word + 2);
    EXPECT_EQ(board.word(kWord + 2), 7u);
}

TEST_F(Emulator, arm_narrow_and_doubleword_accesses_are_emulated_but_reported)
{
    board.allow_errors();
    board.set_word(kWord + 1, 0x22);
    board.clear_trace();
    uint32_t v;
    asm volatile("ldrb %0, [%1, #3]" : "=r"(v) : "r"(word) : "memory");
    EXPECT_EQ(v, 0x80u);
    asm volatile("ldrsh %0, [%1, #2]" : "=r"(v) : "r"(word) : "memory");
    EXPECT_EQ(v, 0xFFFF8000u);
    alignas(8) uint32_t pair[2];
    asm volatile("ldrd r4, r5, [%0]\n\tstrd r4, r5, [%1]" : : "r"(word), "r"(pair) : "r4", "r5", "memory");
    EXPECT_EQ(pair[0], 0x80000001u);
    EXPECT_EQ(pair[1], 0x22u);
    asm volatile("strh %1, [%0]" : : "r"(word), "r"(7u) : "memory");
    EXPECT_EQ(board.word(kWord), 0x80000001u) << "malformed writes are dropped";
    auto records = board.records();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].width, 1u);
    EXPECT_EQ(records[1].width, 2u);
    EXPECT_EQ(records[2].width, 8u);
    EXPECT_EQ(records[3].width, 2u);
}

// Thumb code as a Thumb-2 (ARMv7) build of the library would have it, in
// assembly (the compiler makes no Thumb code for an ARMv6 hard-float
// target), with the 32-bit forms as raw encodings an ARMv6 assembler
// still emits. thumb_accesses(word, out): out[0..1] the words read,
// out[2] how far post-indexing moved the base.
extern "C" void thumb_accesses(uint32_t* word, uint32_t* out);
asm(".pushsection .text\n"
    ".syntax unified\n"
    ".balign 4\n"
    ".thumb\n"
    ".thumb_func\n"
    ".type thumb_accesses, %function\n"
    "thumb_accesses:\n"
    "  push {r4, r5, lr}\n"
    "  mov r4, r0\n"
    "  ldr r2, [r4, #4]\n"  // 16-bit, immediate offset
    "  str r2, [r1]\n"
    "  .inst.w 0xf8d42008\n"  // ldr.w r2, [r4, #8]
    "  str r2, [r1, #4]\n"
    "  movs r3, #2\n"
    "  .inst.w 0xf8442023\n"  // str.w r2, [r4, r3, lsl #2]
    "  .inst.w 0xf8545b04\n"  // ldr r5, [r4], #4
    "  subs r4, r4, r0\n"
    "  str r4, [r1, #8]\n"
    "  pop {r4, r5, pc}\n"
    ".size thumb_accesses, . - thumb_accesses\n"
    ".arm\n"
    ".popsection\n");

TEST_F(Emulator, thumb_16_and_32_bit_forms)
{
    board.set_word(kWord + 1, 0x11);
    board.set_word(kWord + 2, 0x22);
    board.clear_trace();
    uint32_t out[3];
    thumb_accesses(word, out);
    EXPECT_EQ(out[0], 0x11u);
    EXPECT_EQ(out[1], 0x22u);
    EXPECT_EQ(out[2], 4u) << "post-indexing moved the base";
    EXPECT_EQ(board.trace(),
              (Accesses{R(kWord + 1, 0x11), R(kWord + 2, 0x22), W(kWord + 2, 0x22), R(kWord, 0x80000001)}));
}

TEST_F(Emulator, unknown_instruction_forms_abort_loudly)
{
    Outcome o = in_child([&] {
        uint32_t v;
        asm volatile("ldrex %0, [%1]" : "=r"(v) : "r"(word) : "memory");
    });
    EXPECT_TRUE(WIFSIGNALED(o.status) && WTERMSIG(o.status) == SIGABRT) << o.status;
    EXPECT_NE(o.err.find("cannot emulate"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("(ARM)"), std::string::npos) << "the instruction is shown: " << o.err;
}

#elif defined(__aarch64__)

TEST_F(Emulator, aarch64_ldr_and_str_with_immediate_and_extended_register_offsets)
{
    uint32_t v;
    uint64_t index = 2;
    int32_t back = -1;
    asm volatile("ldr %w0, [%1]" : "=r"(v) : "r"(word) : "memory");
    EXPECT_EQ(v, 0x80000001u);
    asm volatile("str %w1, [%0, #4]" : : "r"(word), "r"(0x12345678u) : "memory");
    asm volatile("str %w1, [%0, %2, lsl #2]" : : "r"(word), "r"(0x0badcafeu), "r"(index) : "memory");
    asm volatile("ldur %w0, [%1, #-4]" : "=r"(v) : "r"(word + 2) : "memory");
    EXPECT_EQ(v, 0x12345678u);
    asm volatile("ldr %w0, [%1, %w2, sxtw #2]" : "=r"(v) : "r"(word + 2), "r"(back) : "memory");
    EXPECT_EQ(v, 0x12345678u);
    EXPECT_EQ(board.trace(),
              (Accesses{R(kWord, 0x80000001), W(kWord + 1, 0x12345678), W(kWord + 2, 0x0badcafe),
                        R(kWord + 1, 0x12345678), R(kWord + 1, 0x12345678)}));
}

TEST_F(Emulator, aarch64_pre_and_post_indexing_write_the_base_back)
{
    uint32_t* p = word;
    uint32_t v;
    asm volatile("ldr %w0, [%1], #4" : "=&r"(v), "+r"(p) : : "memory");
    EXPECT_EQ(v, 0x80000001u);
    EXPECT_EQ(p, word + 1);
    asm volatile("str %w1, [%0, #4]!" : "+r"(p) : "r"(7u) : "memory");
    EXPECT_EQ(p, word + 2);
    EXPECT_EQ(board.word(kWord + 2), 7u);
}

TEST_F(Emulator, aarch64_narrow_wide_and_pair_accesses_are_emulated_but_reported)
{
    board.allow_errors();
    board.set_word(kWord + 1, 0x22);
    board.clear_trace();
    uint64_t x, y;
    asm volatile("ldrb %w0, [%1, #3]" : "=r"(x) : "r"(word) : "memory");
    EXPECT_EQ(x, 0x80u);
    asm volatile("ldrsh %0, [%1, #2]" : "=r"(x) : "r"(word) : "memory");
    EXPECT_EQ(x, 0xFFFFFFFFFFFF8000u);
    asm volatile("ldr %0, [%1]" : "=r"(x) : "r"(word) : "memory");
    EXPECT_EQ(x, 0x0000002280000001u);
    asm volatile("ldp %w0, %w1, [%2]" : "=&r"(x), "=&r"(y) : "r"(word) : "memory");
    EXPECT_EQ(x, 0x80000001u);
    EXPECT_EQ(y, 0x22u);
    asm volatile("strh %w1, [%0]" : : "r"(word), "r"(7u) : "memory");
    EXPECT_EQ(board.word(kWord), 0x80000001u) << "malformed writes are dropped";
    auto records = board.records();
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].width, 1u);
    EXPECT_EQ(records[1].width, 2u);
    EXPECT_EQ(records[2].width, 8u);
    EXPECT_EQ(records[3].width, 8u) << "a pair of words is one access";
    EXPECT_EQ(records[4].width, 2u);
}

TEST_F(Emulator, unknown_instruction_forms_abort_loudly)
{
    Outcome o = in_child([&] {
        uint32_t v;
        asm volatile("ldxr %w0, [%1]" : "=r"(v) : "r"(word) : "memory");
    });
    EXPECT_TRUE(WIFSIGNALED(o.status) && WTERMSIG(o.status) == SIGABRT) << o.status;
    EXPECT_NE(o.err.find("cannot emulate"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("885f"), std::string::npos) << "the instruction is shown: " << o.err;
}

#endif

// A word read at any address: the unaligned access is the point.
__attribute__((no_sanitize("alignment"))) uint32_t read_word_at(const char* p)
{
    return *reinterpret_cast<const volatile uint32_t*>(p);
}

TEST_F(Emulator, an_access_reaching_past_the_block_faults_as_on_the_device)
{
    Outcome o = in_child([&] {
        (void)read_word_at(reinterpret_cast<char*>(block) + 4094);
        _exit(0);
    });
#if defined(__SANITIZE_ADDRESS__)
    // The previous handler is AddressSanitizer's: it reports, then exits.
    EXPECT_NE(o.err.find("SEGV on unknown address"), std::string::npos) << o.err;
#else
    EXPECT_TRUE(WIFSIGNALED(o.status) && WTERMSIG(o.status) == SIGSEGV) << describe(o.status);
    EXPECT_NE(o.err.find("reaches past the end of the GPIO block"), std::string::npos) << o.err;
#endif
    EXPECT_EQ(board.trace(), Accesses{}) << "nothing was carried out, nor wrapped to the block's start";
}

TEST_F(Emulator, faults_outside_the_block_reach_the_previous_handler)
{
    void* other = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(other, MAP_FAILED);
    Outcome o = in_child([&] { *static_cast<volatile int*>(other) = 1; });
    munmap(other, 4096);
#if defined(__SANITIZE_ADDRESS__)
    // The previous handler is AddressSanitizer's: it reports, then exits.
    EXPECT_NE(o.err.find("SEGV on unknown address"), std::string::npos) << o.err;
#else
    EXPECT_TRUE(WIFSIGNALED(o.status) && WTERMSIG(o.status) == SIGSEGV) << o.status;
#endif
}

}  // namespace

#endif
