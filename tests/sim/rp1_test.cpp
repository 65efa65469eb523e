// SPDX-License-Identifier: MIT
// The RP1's GPIO window as the model reads it, against an independent map:
// the bank table of the Linux kernel's pinctrl-rp1 driver, written out
// here again (a second copy on purpose: it is the oracle).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "model/board.h"
#include "model/replay.h"
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

// A Pi 5 board, accessed as the shim accesses it: a word of the window at
// a byte offset the oracle gives.
class Rp1Board : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tavrel-rp1-XXXXXX";
        dir_ = mkdtemp(tmpl);
        ASSERT_TRUE(board_.open((dir_ + "/board").c_str()));
        board_.set_soc(tavrel_sim::Soc::kBcm2712);
    }
    void TearDown() override
    {
        board_.close();
        unlink((dir_ + "/board").c_str());
        rmdir(dir_.c_str());
    }
    // The words of GPIO `pin` (in bank `b`, its `i`th).
    static uint32_t ctrl(unsigned b, unsigned i) { return kIo + kOracle[b].gpio + 8 * i + kCtrl; }
    static uint32_t pad(unsigned b, unsigned i) { return kPads + kOracle[b].pads + 4 * i; }
    static uint32_t rio(unsigned b, uint32_t reg) { return kRio + kOracle[b].rio + reg; }
    uint32_t read(uint32_t offset) { return board_.read(offset / 4); }
    void write(uint32_t offset, uint32_t value) { board_.write(offset / 4, value); }
    // GPIO `i` of bank `b` as software GPIO, with its pad's input enabled
    // and output not disabled, as the kernel leaves it.
    void make_gpio(unsigned b, unsigned i, bool output)
    {
        write(pad(b, i), 0x40);
        write(ctrl(b, i), 5);
        write(rio(b, kRioOe) + kAlias[output ? 2 : 3], 1u << i);
    }

    std::string dir_;
    tavrel_sim::Board board_;
};

TEST_F(Rp1Board, a_new_board_has_no_function_on_any_gpio_and_reads_nothing_in)
{
    for (const OracleBank& bank : kOracle)
        for (unsigned i = 0; i < bank.count; ++i) {
            EXPECT_EQ(read(ctrl(static_cast<unsigned>(&bank - kOracle), i)), 0x1fu) << bank.first + i;
            EXPECT_EQ(board_.fsel(bank.first + i), tavrel_sim::kFunctionNone);
        }
    board_.drive(17, true);
    EXPECT_TRUE(board_.level(17)) << "the pad sees what is driven";
    EXPECT_EQ(read(rio(0, kRioIn)), 0u) << "but its input is not enabled";
    EXPECT_EQ(board_.soc(), tavrel_sim::Soc::kBcm2712);
    EXPECT_EQ(board_.words(), 0x30000u / 4);
}

TEST_F(Rp1Board, set_clr_and_xor_aliases_change_only_the_named_bits_of_the_banks_pins)
{
    write(rio(1, kRioOut) + kAlias[2], 0xffffffff);
    EXPECT_EQ(read(rio(1, kRioOut)), 0x3fu) << "bank 1 has six GPIOs";
    write(rio(1, kRioOut) + kAlias[3], 0x5);
    EXPECT_EQ(read(rio(1, kRioOut)), 0x3au);
    write(rio(1, kRioOut) + kAlias[1], 0x3);
    EXPECT_EQ(read(rio(1, kRioOut)), 0x39u);
    for (unsigned a = 0; a < 4; ++a) EXPECT_EQ(read(rio(1, kRioOut) + kAlias[a]), 0x39u) << "alias " << a;
    write(ctrl(2, 19) + kAlias[3], 0x1f);
    EXPECT_EQ(board_.fsel(53), 4u) << "function 0 is alt0's code";
    write(ctrl(2, 19) + kAlias[2], 0x2);
    EXPECT_EQ(board_.fsel(53), 6u) << "function 2, alt2";
    write(ctrl(2, 19) + kAlias[1], 0xf);
    EXPECT_EQ(read(ctrl(2, 19)), 0xdu);
    EXPECT_EQ(board_.fsel(53), tavrel_sim::kFunctionNone) << "13 is no function";
    write(rio(0, kRioIn), 0xffffffff);
    EXPECT_EQ(read(rio(0, kRioIn)), 0u) << "the synchronised input is read-only";
}

TEST_F(Rp1Board, a_gpio_drives_its_pad_only_with_its_output_enabled_and_not_overridden)
{
    make_gpio(0, 17, true);
    EXPECT_EQ(board_.fsel(17), 1u);
    write(rio(0, kRioOut) + kAlias[2], 1u << 17);
    EXPECT_TRUE(board_.level(17));
    EXPECT_EQ(read(rio(0, kRioIn)), 1u << 17);
    board_.drive(17, false);
    EXPECT_TRUE(board_.level(17)) << "an output wins over what is driven";
    write(pad(0, 17) + kAlias[2], 0x80);
    EXPECT_FALSE(board_.level(17)) << "output disabled at the pad";
    EXPECT_EQ(board_.fsel(17), 1u) << "the function is still output";
    write(pad(0, 17) + kAlias[3], 0x80);
    write(ctrl(0, 17) + kAlias[2], 2u << 12);  // output override: low
    EXPECT_FALSE(board_.level(17));
    write(ctrl(0, 17) + kAlias[2], 3u << 12);  // high
    write(rio(0, kRioOut) + kAlias[3], 1u << 17);
    EXPECT_TRUE(board_.level(17)) << "the override, not the latch";
    write(ctrl(0, 17) + kAlias[2], 2u << 14);  // output enable override: disabled
    EXPECT_FALSE(board_.level(17));
    write(ctrl(0, 17) + kAlias[2], 1u << 16);  // input override: inverted
    EXPECT_EQ(read(rio(0, kRioIn)), 1u << 17);
    make_gpio(1, 2, false);
    board_.drive(30, true);
    EXPECT_EQ(board_.fsel(30), 0u);
    EXPECT_EQ(read(rio(1, kRioIn)), 1u << 2) << "bank 1's bit 2 is GPIO 30";
}

TEST_F(Rp1Board, pulls_are_the_pads_enables_and_an_undriven_input_reads_its_pull)
{
    make_gpio(0, 5, false);
    write(pad(0, 5) + kAlias[2], 0x8);
    EXPECT_EQ(board_.pull(5), tavrel_sim::kPullUp);
    EXPECT_TRUE(board_.level(5));
    write(pad(0, 5), 0x44);
    EXPECT_EQ(board_.pull(5), tavrel_sim::kPullDown);
    EXPECT_FALSE(board_.level(5));
    write(pad(0, 5), 0x4c);
    EXPECT_EQ(board_.pull(5), tavrel_sim::kPullKeep);
    write(pad(0, 5), 0x40);
    EXPECT_EQ(board_.pull(5), tavrel_sim::kPullOff);
    EXPECT_EQ(board_.pull(54), tavrel_sim::kPullOff) << "past the chip";
}

TEST_F(Rp1Board, a_replay_from_a_snapshot_agrees_with_the_live_board)
{
    make_gpio(0, 4, true);
    make_gpio(2, 0, false);
    write(pad(2, 0) + kAlias[2], 0x8);
    write(ctrl(1, 3), 7);
    board_.drive(40, true);
    tavrel_sim::BoardState state;
    board_.snapshot(&state);
    tavrel_sim::Replay replay(state);
    // Then the same write live and replayed, through the journal's terms.
    write(rio(0, kRioOut) + kAlias[2], 1u << 4);
    replay.apply({0, 0, tavrel_sim::JournalEntry::kWrite, 0,
                  static_cast<uint16_t>((rio(0, kRioOut) + kAlias[2]) / 4), 1u << 4, 0, 0});
    tavrel_sim::PinSnapshot live = tavrel_sim::board_snapshot(board_), replayed = replay.snapshot();
    for (unsigned p = 0; p < 54; ++p) {
        EXPECT_EQ(live.fsel[p], replayed.fsel[p]) << p;
        EXPECT_EQ(live.pull[p], replayed.pull[p]) << p;
        EXPECT_EQ(live.level[p], replayed.level[p]) << p;
    }
    EXPECT_EQ(replayed.fsel[31], tavrel_sim::kFunctionAlt7);
    EXPECT_TRUE(replayed.level[4]);
    EXPECT_TRUE(replayed.level[34]);
}

}  // namespace
