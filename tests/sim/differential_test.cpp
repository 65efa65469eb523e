// SPDX-License-Identifier: MIT
// The decoders against the machine itself: every form they carry out is run
// once on ordinary memory and once on the trapped block, from the same
// registers and flags over the same contents, and must leave the same
// registers, flags and memory. Natively on x86-64; under qemu-arm and
// qemu-aarch64 in the cross stages.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "support/sim_board.h"

using namespace tavrel_test;

#if defined(__x86_64__) || defined(__arm__) || defined(__aarch64__)

namespace {

constexpr unsigned kOffset = 1024;  // plain storage: words 256 on
constexpr unsigned kWords = 16;

// What a form leaves: up to three registers (written back bases as an
// offset from the block) and the condition flags.
struct Result {
    uint64_t r[3] = {};
    uint64_t flags = 0;
    bool operator==(const Result& o) const { return !memcmp(r, o.r, sizeof r) && flags == o.flags; }
};
using Run = void (*)(uint8_t* base, Result* out);
struct Form {
    const char* name;
    Run run;
    bool exact_store;     // a 32-bit store, carried out: memory compared too
    unsigned narrow = 0;  // bytes of a store at kNarrowAt, dropped and reported
};
constexpr unsigned kNarrowAt = 20;

std::ostream& operator<<(std::ostream& os, const Result& r)
{
    char buf[128];
    snprintf(buf, sizeof buf, "{%llx %llx %llx, flags %llx}", static_cast<unsigned long long>(r.r[0]),
             static_cast<unsigned long long>(r.r[1]), static_cast<unsigned long long>(r.r[2]),
             static_cast<unsigned long long>(r.flags));
    return os << buf;
}

class Differential : public testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_TRAPPING();
        uint32_t* map = map_gpiomem();
        ASSERT_NE(map, nullptr);
        block = reinterpret_cast<uint8_t*>(map);
        board.allow_errors();  // narrow and wide accesses are reported
    }
    void TearDown() override
    {
        if (block) munmap(block, 4096);
    }
    static uint32_t initial(unsigned w) { return 0x9E3779B9u * (w + 1) ^ 0x80C0F00Fu; }
    void check(const Form& f)
    {
        alignas(64) static uint32_t plain[1024];
        for (unsigned w = 0; w < kWords; ++w) {
            uint32_t v = initial(w);
            plain[kOffset / 4 + w] = v;
            board.set_word(kOffset / 4 + w, v);
        }
        Result mem, trapped;
        f.run(reinterpret_cast<uint8_t*>(plain) + kOffset, &mem);
        board.clear_trace();
        f.run(block + kOffset, &trapped);
        EXPECT_EQ(mem, trapped) << f.name;
        if (f.narrow) {
            // The machine's store shows what the report must carry; the
            // block keeps its word.
            uint32_t stored = 0;
            memcpy(&stored, reinterpret_cast<uint8_t*>(plain) + kOffset + kNarrowAt, f.narrow);
            std::vector<tavrel_sim::TraceRecord> records = board.records();
            ASSERT_EQ(records.size(), 1u) << f.name;
            EXPECT_EQ(records[0].width, f.narrow) << f.name;
            EXPECT_EQ(records[0].value & ((1ull << (8 * f.narrow)) - 1), stored) << f.name;
            EXPECT_EQ(board.word((kOffset + kNarrowAt) / 4), initial(kNarrowAt / 4)) << f.name;
        }
        if (!f.exact_store) return;
        for (unsigned w = 0; w < kWords; ++w)
            EXPECT_EQ(plain[kOffset / 4 + w], board.word(kOffset / 4 + w)) << f.name << ", word " << w;
    }

    SimBoard board;
    uint8_t* block = nullptr;
};

#if defined(__x86_64__)

constexpr uint64_t kFlags = 0x8D5;  // CF PF AF ZF SF OF

// One instruction between known registers and flags: o (in and out), b
// the base, i an index of 2, v a value; cmp sets the flags first.
#define X86(insn, exact)                                                                               \
    {                                                                                                  \
        insn,                                                                                          \
            [](uint8_t* b, Result* r) {                                                                \
                uint64_t o = 0x1111111111111111, f;                                                    \
                asm volatile("cmp %[i], %[v]\n" insn "\npushfq\npop %[f]"                              \
                             : [o] "+r"(o), [f] "=r"(f)                                                \
                             : [b] "r"(b), [i] "r"(uint64_t{2}), [v] "r"(uint64_t{0x8000000F7FFFFFF1}) \
                             : "memory", "cc");                                                        \
                r->r[0] = o;                                                                           \
                r->flags = f & kFlags;                                                                 \
            },                                                                                         \
            exact                                                                                      \
    }

const Form kForms[] = {
    X86("movl 16(%[b]), %k[o]", false),
    X86("movl %k[v], 16(%[b])", true),
    X86("movl 8(%[b],%[i],4), %k[o]", false),
    X86("movq 16(%[b]), %[o]", false),
    X86("movw 16(%[b]), %w[o]", false),
    X86("movb 17(%[b]), %b[o]", false),
    X86("movzbl 18(%[b]), %k[o]", false),
    X86("movzwl 18(%[b]), %k[o]", false),
    X86("movsbl 19(%[b]), %k[o]", false),
    X86("movswl 18(%[b]), %k[o]", false),
    X86("movslq 16(%[b]), %[o]", false),
    X86("movl $0x12345678, 20(%[b])", true),
    {"movb $0x5a, 20(%[b])",
     [](uint8_t* b, Result*) { asm volatile("movb $0x5a, 20(%[b])"
                                            :
                                            : [b] "r"(b)
                                            : "memory"); }, false, 1},
    X86("addl 16(%[b]), %k[o]", false),
    X86("subl 16(%[b]), %k[o]", false),
    X86("andl 16(%[b]), %k[o]", false),
    X86("orl 16(%[b]), %k[o]", false),
    X86("xorl 16(%[b]), %k[o]", false),
    X86("cmpl 16(%[b]), %k[o]", false),
    X86("cmpl %k[o], 16(%[b])", false),
    X86("addl %k[v], 16(%[b])", true),
    X86("subl %k[v], 16(%[b])", true),
    X86("orl $0x7f, 16(%[b])", true),
    X86("andl $0x0ff0ff0f, 16(%[b])", true),
    X86("xorl $-3, 16(%[b])", true),
    X86("cmpl $0x80c0f00f, 16(%[b])", false),
    X86("testl %k[v], 16(%[b])", false),
    X86("testl $0x80000001, 16(%[b])", false),
    X86("testb $0x0f, 16(%[b])", false),
};

// Forms that need particular registers: AH, SIL and R13 as a SIB base.
void high_byte(uint8_t* b, Result* r)
{
    uint64_t a = 0x1111111111111111;
    // No REX prefix may reach AH: the base is one of the first eight.
    asm volatile("movb 17(%[b]), %%ah" : "+a"(a) : [b] "D"(b) : "memory");
    r->r[0] = a;
}
void rex_byte(uint8_t* b, Result* r)
{
    uint64_t s = 0x2222222222222222;
    asm volatile("movb 18(%[b]), %%sil" : "+S"(s) : [b] "r"(b) : "memory");
    r->r[0] = s;
}
// Byte stores from the low bytes only a REX prefix reaches: without one,
// codes 4 to 7 name AH, CH, DH and BH, which hold other values here.
void store_spl(uint8_t* b, Result*)
{
    asm volatile("movb %%spl, 20(%[b])" : : [b] "r"(b), "a"(0x5500), "c"(0x7700), "d"(0x4400) : "memory");
}
void store_bpl(uint8_t* b, Result*)
{
    // Below the red zone: the compiler may keep data there.
    asm volatile(
        "lea -128(%%rsp), %%rsp\npush %%rbp\nmov $0x99, %%ebp\nmovb %%bpl, 20(%[b])\npop %%rbp\nlea "
        "128(%%rsp), %%rsp"
        :
        : [b] "S"(b), "c"(0x7700)
        : "memory");
}
void store_sil(uint8_t* b, Result*)
{
    asm volatile("movb %%sil, 20(%[b])" : : [b] "D"(b), "S"(0x33), "d"(0x4400) : "memory");
}
void store_dil(uint8_t* b, Result*)
{
    asm volatile("movb %%dil, 20(%[b])" : : [b] "S"(b), "D"(0x3a), "b"(0x6600) : "memory");
}
void r13_base(uint8_t* b, Result* r)
{
    uint64_t o;
    asm volatile("mov %[b], %%r13\nmovl 8(%%r13,%[i],4), %k[o]"
                 : [o] "=r"(o)
                 : [b] "r"(b), [i] "r"(uint64_t{2})
                 : "r13", "memory");
    r->r[0] = o;
}

TEST_F(Differential, x86_64_forms_leave_what_the_machine_leaves)
{
    for (const Form& f : kForms) check(f);
    for (Form f : {Form{"movb (),%ah", high_byte, false}, Form{"movb (),%sil", rex_byte, false},
                   Form{"movl 8(%r13,%rcx,4)", r13_base, false}, Form{"movb %spl,()", store_spl, false, 1},
                   Form{"movb %bpl,()", store_bpl, false, 1}, Form{"movb %sil,()", store_sil, false, 1},
                   Form{"movb %dil,()", store_dil, false, 1}})
        check(f);
}

#elif defined(__arm__)

// ARM state: o (in and out), b the base, i an index of 2, v a value; the
// base written back is kept as an offset.
#define A32(insn, exact)                                                            \
    {                                                                               \
        insn,                                                                       \
            [](uint8_t* b, Result* r) {                                             \
                uint32_t o = 0x11111111, o2 = 0x22222222, f;                        \
                uint8_t* w = b;                                                     \
                asm volatile("cmp %[i], %[v]\n" insn "\nmrs %[f], apsr"             \
                             : [o] "+r"(o), [o2] "+r"(o2), [w] "+r"(w), [f] "=r"(f) \
                             : [i] "r"(2u), [v] "r"(0x8000000Fu)                    \
                             : "memory", "cc");                                     \
                r->r[0] = o;                                                        \
                r->r[1] = o2;                                                       \
                r->r[2] = static_cast<uint64_t>(w - b);                             \
                r->flags = f & 0xF0000000u;                                         \
            },                                                                      \
            exact                                                                   \
    }

const Form kForms[] = {
    A32("ldr %[o], [%[w], #16]", false),          A32("str %[v], [%[w], #16]", true),
    A32("ldr %[o], [%[w], %[i], lsl #2]", false), A32("ldr %[o], [%[w], #8]!", false),
    A32("ldr %[o], [%[w]], #-4", false),          A32("str %[v], [%[w], #-0]!", true),
    A32("ldrb %[o], [%[w], #17]", false),         A32("ldrh %[o], [%[w], #18]", false),
    A32("ldrsb %[o], [%[w], #19]", false),        A32("ldrsh %[o], [%[w], #18]", false),
    A32("ldrne %[o], [%[w], #16]", false),        A32("ldreq %[o], [%[w], #16]", false),
};

TEST_F(Differential, arm_forms_leave_what_the_machine_leaves)
{
    for (const Form& f : kForms) check(f);
}

#elif defined(__aarch64__)

#define A64(insn, exact)                                                                   \
    {                                                                                      \
        insn,                                                                              \
            [](uint8_t* b, Result* r) {                                                    \
                uint64_t o = 0x1111111111111111, o2 = 0x2222222222222222;                  \
                uint8_t* w = b;                                                            \
                asm volatile(insn                                                          \
                             : [o] "+r"(o), [o2] "+r"(o2), [w] "+r"(w)                     \
                             : [i] "r"(uint64_t{2}), [v] "r"(uint64_t{0x8000000F7FFFFFF1}) \
                             : "memory");                                                  \
                r->r[0] = o;                                                               \
                r->r[1] = o2;                                                              \
                r->r[2] = static_cast<uint64_t>(w - b);                                    \
            },                                                                             \
            exact                                                                          \
    }

const Form kForms[] = {
    A64("ldr %w[o], [%[w], #16]", false),          A64("str %w[v], [%[w], #16]", true),
    A64("ldr %w[o], [%[w], %[i], lsl #2]", false), A64("ldr %w[o], [%[w], #8]!", false),
    A64("ldr %w[o], [%[w]], #-4", false),          A64("ldur %w[o], [%[w], #-0]", false),
    A64("ldrb %w[o], [%[w], #17]", false),         A64("ldrh %w[o], [%[w], #18]", false),
    A64("ldrsb %[o], [%[w], #19]", false),         A64("ldrsh %w[o], [%[w], #18]", false),
    A64("ldrsw %[o], [%[w], #16]", false),         A64("ldr %[o], [%[w], #16]", false),
    A64("ldp %w[o], %w[o2], [%[w], #16]", false),  A64("ldp %[o], %[o2], [%[w], #16]", false),
};

TEST_F(Differential, aarch64_forms_leave_what_the_machine_leaves)
{
    for (const Form& f : kForms) check(f);
}

#endif

}  // namespace

#endif
