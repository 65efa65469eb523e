// SPDX-License-Identifier: MIT
// The simulated block's instruction emulation: each x86-64 form compilers
// emit for register accesses, with its result, flags and trace entry.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include "support/process.h"
#include "support/sim_board.h"

using namespace tavrel_test;

#if defined(__x86_64__)

namespace {

constexpr unsigned kWord = 100;  // plain storage
constexpr uint64_t CF = 1, ZF = 1 << 6, SF = 1 << 7, OF = 1 << 11;

class Emulator : public testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_TRAPPING();
        int fd = open("/dev/gpiomem", O_RDWR | O_SYNC | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        void* map = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        ASSERT_NE(map, MAP_FAILED);
        block = static_cast<uint32_t*>(map);
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
