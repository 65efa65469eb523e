// SPDX-License-Identifier: MIT
// The RP1's GPIO window as the model reads it, against an independent map:
// the bank table of the Linux kernel's pinctrl-rp1 driver, written out
// here again (a second copy on purpose: it is the oracle).
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "model/rp1.h"

using tavrel_sim::Rp1Alias;
using tavrel_sim::Rp1Register;

namespace {

// pinctrl-rp1's rp1_iobanks: first GPIO, count, and the offsets of the
// bank's GPIO, RIO and pad registers from their blocks, which the window
// holds at 0x00000 (IO), 0x10000 (SYS_RIO) and 0x20000 (PADS).
struct OracleBank {
    unsigned first, count;
    uint32_t gpio, rio, pads;
};
constexpr OracleBank kOracle[] = {
    {0, 28, 0x0000, 0x0000, 0x0004},
    {28, 6, 0x4000, 0x4000, 0x4004},
    {34, 20, 0x8000, 0x8000, 0x8004},
};
constexpr uint32_t kIo = 0x00000, kRio = 0x10000, kPads = 0x20000;
constexpr uint32_t kStatus = 0x0, kCtrl = 0x4, kRioOut = 0x0, kRioOe = 0x4, kRioIn = 0x8;
constexpr uint32_t kAlias[] = {0x0000, 0x1000, 0x2000, 0x3000};  // RW, XOR, SET, CLR
const char* const kSuffix[] = {"", ".XOR", ".SET", ".CLR"};

std::string name_at(uint32_t offset)
{
    char name[32];
    tavrel_sim::rp1_register_name(tavrel_sim::rp1_register(offset), name, sizeof name);
    return name;
}

TEST(Rp1Window, every_gpios_status_ctrl_and_pad_word_is_found_at_each_alias)
{
    for (const OracleBank& bank : kOracle)
        for (unsigned i = 0; i < bank.count; ++i)
            for (unsigned a = 0; a < 4; ++a) {
                unsigned pin = bank.first + i;
                std::string gpio = "GPIO" + std::to_string(pin);
                struct {
                    uint32_t offset;
                    Rp1Register::Kind kind;
                    std::string name;
                } words[] = {
                    {kIo + bank.gpio + kAlias[a] + 8 * i + kStatus, Rp1Register::kStatus, gpio + "_STATUS"},
                    {kIo + bank.gpio + kAlias[a] + 8 * i + kCtrl, Rp1Register::kCtrl, gpio + "_CTRL"},
                    {kPads + bank.pads + kAlias[a] + 4 * i, Rp1Register::kPad, gpio + "_PAD"},
                };
                for (const auto& w : words) {
                    Rp1Register reg = tavrel_sim::rp1_register(w.offset);
                    EXPECT_EQ(reg.kind, w.kind) << std::hex << w.offset;
                    EXPECT_EQ(reg.pin, pin) << std::hex << w.offset;
                    EXPECT_EQ(static_cast<unsigned>(reg.alias), a) << std::hex << w.offset;
                    EXPECT_EQ(name_at(w.offset), w.name + kSuffix[a]);
                }
            }
}

TEST(Rp1Window, each_banks_rio_words_are_found_at_each_alias)
{
    for (unsigned b = 0; b < 3; ++b)
        for (unsigned a = 0; a < 4; ++a) {
            uint32_t base = kRio + kOracle[b].rio + kAlias[a];
            std::string rio = "SYS_RIO" + std::to_string(b);
            EXPECT_EQ(name_at(base + kRioOut), rio + "_OUT" + kSuffix[a]);
            EXPECT_EQ(name_at(base + kRioOe), rio + "_OE" + kSuffix[a]);
            EXPECT_EQ(name_at(base + kRioIn), rio + "_SYNC_IN" + kSuffix[a]);
            EXPECT_EQ(tavrel_sim::rp1_register(base + kRioOe).bank, b);
        }
}

TEST(Rp1Window, words_it_does_not_hold_and_misaligned_or_outside_offsets_are_none)
{
    const uint32_t none[] = {
        0x011c,                    // bank 0's interrupt enable, in the kernel's table
        kIo + 28 * 8,              // past bank 0's last GPIO
        kIo + 0x4000 + 6 * 8 + 4,  // past bank 1's
        kIo + 0xc000,              // after the three banks
        kRio + 0x000c,             // after a RIO bank's three words
        kPads + 0x0000,            // a pads bank's own word
        kPads + 0x8004 + 20 * 4,   // past bank 2's last pad
        kIo + 0x0006,
        kRio + 0x0001,  // misaligned
        0x30000,
        0xffffffff,  // outside the window
    };
    for (uint32_t offset : none) {
        EXPECT_EQ(tavrel_sim::rp1_register(offset).kind, Rp1Register::kNone) << std::hex << offset;
        EXPECT_EQ(name_at(offset), "") << std::hex << offset;
    }
}

TEST(Rp1Window, a_write_through_an_alias_changes_only_the_bits_it_names)
{
    EXPECT_EQ(tavrel_sim::rp1_written(Rp1Alias::kNormal, 0xf0f0, 0x0ff0), 0x0ff0u);
    EXPECT_EQ(tavrel_sim::rp1_written(Rp1Alias::kXor, 0xf0f0, 0x0ff0), 0xff00u);
    EXPECT_EQ(tavrel_sim::rp1_written(Rp1Alias::kSet, 0xf0f0, 0x0ff0), 0xfff0u);
    EXPECT_EQ(tavrel_sim::rp1_written(Rp1Alias::kClr, 0xf0f0, 0x0ff0), 0xf000u);
}

TEST(Rp1Window, a_name_is_cut_to_the_buffer_and_its_full_length_told)
{
    char name[8];
    memset(name, 'x', sizeof name);
    size_t length = tavrel_sim::rp1_register_name(tavrel_sim::rp1_register(kRio + 0x8000 + 0x2000 + kRioIn),
                                                  name, sizeof name);
    EXPECT_EQ(length, strlen("SYS_RIO2_SYNC_IN.SET"));
    EXPECT_STREQ(name, "SYS_RIO");
    EXPECT_EQ(tavrel_sim::rp1_register_name(tavrel_sim::rp1_register(kCtrl), nullptr, 0),
              strlen("GPIO0_CTRL"));
}

}  // namespace
