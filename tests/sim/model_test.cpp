// SPDX-License-Identifier: MIT
// The board's device model: what the hardware does with GPPUD and
// GPPUDCLK, and what a pin reads.
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

}  // namespace
