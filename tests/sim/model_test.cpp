// SPDX-License-Identifier: MIT
// The board's device model: what the hardware does with GPPUD and
// GPPUDCLK, and what a pin reads.
#include "model/board.h"
#include "support/open_board.h"

using namespace tavrel_test;

namespace {

constexpr uint32_t bit(unsigned n)
{
    return 1u << n;
}

class PullModel : public OpenBoard {
protected:
    void SetUp() override
    {
        OpenBoard::SetUp();
        if (!trapping()) GTEST_SKIP() << "the block is plain shared memory here";
    }
};

TEST_F(PullModel, an_undriven_input_reads_its_pull_and_a_drive_overrides_it)
{
    tavrel_gpio_set_pull(4, TAVREL_PULL_UP);
    EXPECT_EQ(board.pull(4), tavrel_sim::kPullUp);
    EXPECT_EQ(tavrel_gpio_get_val(4), 1);
    board.drive(4, false);
    EXPECT_EQ(tavrel_gpio_get_val(4), 0) << "a pressed button wins over the pull-up";
    board.release(4);
    EXPECT_EQ(tavrel_gpio_get_val(4), 1);
    tavrel_gpio_set_pull(4, TAVREL_PULL_DOWN);
    EXPECT_EQ(tavrel_gpio_get_val(4), 0);
    tavrel_gpio_set_pull(4, TAVREL_PULL_UP);
    tavrel_gpio_set_pull(4, TAVREL_PULL_OFF);
    EXPECT_EQ(tavrel_gpio_get_val(4), 0);
    EXPECT_EQ(tavrel_gpio_get_all() & bit(4), 0u);
}

TEST_F(PullModel, an_output_reads_its_latch_whatever_its_pull)
{
    tavrel_gpio_set_pull(17, TAVREL_PULL_UP);
    tavrel_gpio_config_io(17, 1);
    tavrel_gpio_set_val(17, 0);
    EXPECT_EQ(tavrel_gpio_get_val(17), 0);
    tavrel_gpio_config_io(17, 0);
    EXPECT_EQ(tavrel_gpio_get_val(17), 1);
}

TEST_F(PullModel, only_a_rising_clock_latches_the_control_into_its_pins)
{
    board.write(GPPUD, 2);
    board.write(GPPUDCLK0, bit(5));
    EXPECT_EQ(board.pull(5), tavrel_sim::kPullUp);
    board.write(GPPUD, 1);
    EXPECT_EQ(board.pull(5), tavrel_sim::kPullUp) << "no edge, no change";
    board.write(GPPUDCLK0, bit(5) | bit(6));
    EXPECT_EQ(board.pull(5), tavrel_sim::kPullUp);
    EXPECT_EQ(board.pull(6), tavrel_sim::kPullDown);
    board.write(GPPUD, 0);
    board.write(GPPUDCLK0, 0);
    EXPECT_EQ(board.pull(6), tavrel_sim::kPullDown) << "removing control, then clock, keeps the pull";
    board.write(GPPUD, 3);
    board.write(GPPUDCLK0, bit(6));
    EXPECT_EQ(board.pull(6), tavrel_sim::kPullDown) << "code 3 is reserved";
    board.write(GPPUDCLK0, 0);
    board.write(GPPUD, 2);
    board.write(GPPUDCLK1, 0xFFFFFFFF);
    EXPECT_EQ(board.pull(53), tavrel_sim::kPullUp);
    EXPECT_EQ(board.pull(54), tavrel_sim::kPullOff) << "no pin 54";
}

// The Pi 4's chip: its own pull controls, readable, GPPUD and GPPUDCLK
// unconnected, 58 pins, and no "gpio" at word 60.
TEST_F(PullModel, the_bcm2711_takes_pulls_from_its_controls_and_ignores_the_bcm2835s)
{
    using tavrel_sim::Soc;
    const unsigned reg0 = tavrel_sim::GPIO_PUP_PDN_CNTRL_REG0, tag = tavrel_sim::kTagWord;
    EXPECT_EQ(board.word(tag), tavrel_sim::kGpioTag) << "a BCM2835 reads the text";
    board.write(tag, 0);
    EXPECT_EQ(board.word(tag), tavrel_sim::kGpioTag) << "and keeps it";
    board.write(reg0, 1u << 8);
    EXPECT_EQ(board.pull(4), tavrel_sim::kPullOff) << "not a pull control here";

    board.set_soc(Soc::kBcm2711);
    EXPECT_EQ(board.word(tag), 0u);
    EXPECT_EQ(board.word(reg0), 0u) << "a change of chip is a new board";
    board.write(GPPUD, 2);
    board.write(GPPUDCLK0, bit(5));
    EXPECT_EQ(board.pull(5), tavrel_sim::kPullOff) << "GPPUD and GPPUDCLK are unconnected";
    board.write(reg0, 1u << 10 | 2u << 12 | 3u << 14);
    EXPECT_EQ(board.pull(5), tavrel_sim::kPullUp) << "1 is up";
    EXPECT_EQ(board.pull(6), tavrel_sim::kPullDown) << "2 is down";
    EXPECT_EQ(board.pull(7), tavrel_sim::kPullOff) << "3 is reserved";
    EXPECT_EQ(tavrel_gpio_get_val(5), 1);
    board.write(tag, 0xFFFFFFFF);
    EXPECT_EQ(board.word(tag), 0xFFFFFu) << "pins 48 to 57 only: the top bits read 0";
    EXPECT_EQ(board.pull(57), tavrel_sim::kPullOff) << "code 3";
    board.write(tag, 1u << 18);
    EXPECT_EQ(board.pull(57), tavrel_sim::kPullUp);
    board.set_soc(Soc::kBcm2835);
    EXPECT_EQ(board.pull(57), tavrel_sim::kPullOff) << "no pin 57";
    EXPECT_EQ(board.word(tag), tavrel_sim::kGpioTag);
}

// The model through the board's own interface: bank 1 as bank 0, the
// alternate functions, a reset.
class Model : public testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_TRAPPING();
        ASSERT_TRUE(live.open(board.path().c_str())) << live.refusal();
    }
    SimBoard board;
    tavrel_sim::Board live;
};

TEST_F(Model, bank_1_latches_set_and_clear_and_its_inputs_read_what_is_driven)
{
    board.set_fsel(40, 1);
    live.write(GPSET1, bit(8) | bit(9));  // pins 40 and 41
    EXPECT_EQ(live.latch(1), bit(8) | bit(9));
    live.write(GPCLR1, bit(8));
    EXPECT_EQ(live.latch(1), bit(9));
    EXPECT_FALSE(live.level(40));
    EXPECT_FALSE(live.level(41)) << "an input reads what is driven, not its latch";
    live.drive(41, true);
    live.drive(53, true);
    EXPECT_EQ(live.read(GPLEV1), bit(9) | bit(21));
}

TEST_F(Model, every_function_but_output_reads_the_driven_level)
{
    board.write(GPSET0, bit(4));
    board.drive(4, false);
    for (unsigned code = 0; code < 8; ++code) {
        board.set_fsel(4, code);
        EXPECT_EQ(live.level(4), code == 1) << tavrel_sim::function_name(code);
    }
}

TEST_F(Model, a_reset_clears_latches_pulls_and_every_drive_of_both_banks)
{
    live.drive(4, true);
    live.drive(45, true);
    live.write(GPPUD, 2);
    live.write(GPPUDCLK1, bit(13));
    live.write(GPSET1, bit(13));
    live.clear();
    EXPECT_EQ(live.driving(0), 0u);
    EXPECT_EQ(live.driving(1), 0u);
    EXPECT_EQ(live.pull(45), tavrel_sim::kPullOff);
    EXPECT_EQ(live.latch(1), 0u);
    EXPECT_FALSE(live.level(45));
}

TEST_F(Model, the_journal_holds_the_writes_that_reach_the_pins_and_nothing_the_model_dropped)
{
    tavrel_sim::BoardState start;
    uint64_t next = live.snapshot(&start);
    live.write(100, 1);  // plain storage
    live.write(GPSET0, bit(4));
    live.record_error(nullptr, tavrel_sim::TraceRecord::kWrite, GPSET0, bit(5),
                      tavrel_sim::TraceRecord::kBadWidth, 2);
    live.write(GPPUDCLK1, bit(1));
    tavrel_sim::JournalEntry e[8];
    uint64_t lost = 0;
    ASSERT_EQ(live.read_journal(&next, e, 8, &lost), 2u);
    EXPECT_EQ(e[0].word, GPSET0);
    EXPECT_EQ(e[0].a, bit(4));
    EXPECT_EQ(e[1].word, GPPUDCLK1) << "the register named as written";
    board.allow_errors();
}

}  // namespace
