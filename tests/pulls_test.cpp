// SPDX-License-Identifier: MIT
// Pulls, function read-back and many pins at once: the exact register
// accesses, their bounds, and the board's pull model.
#include <climits>

#include "support/sim_board.h"
#include "tavrel.h"

using namespace tavrel_test;

namespace {

class PinsAtOnce : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
        board.clear_trace();
    }
    void TearDown() override { tavrel_gpio_deinit(); }

    SimBoard board;
};

constexpr uint32_t bit(unsigned n)
{
    return 1u << n;
}

TEST_F(PinsAtOnce, get_mode_reads_the_pins_field_with_one_read)
{
    board.set_word(1, 07654321000);  // pins 13 to 19 hold codes 1 to 7
    board.set_word(5, 07000000000);  // pin 59
    EXPECT_EQ(tavrel_gpio_get_mode(13), 1);
    EXPECT_EQ(tavrel_gpio_get_mode(19), 7);
    EXPECT_EQ(tavrel_gpio_get_mode(10), 0);
    EXPECT_EQ(tavrel_gpio_get_mode(59), 7);
    tavrel_gpio_set_alt(18, 5);
    EXPECT_EQ(tavrel_gpio_get_mode(18), 2) << "alt5's code, as set_alt writes it";
    if (!trapping()) return;
    board.clear_trace();
    (void)tavrel_gpio_get_mode(42);
    EXPECT_EQ(board.trace(), (Accesses{R(4, 0)}));
}

TEST_F(PinsAtOnce, set_pull_follows_the_bcm2835_sequence_on_the_pins_bank)
{
    REQUIRE_TRAPPING();
    tavrel_gpio_set_pull(4, TAVREL_PULL_UP);
    tavrel_gpio_set_pull(31, TAVREL_PULL_OFF);
    tavrel_gpio_set_pull(40, TAVREL_PULL_DOWN);
    tavrel_gpio_set_pull(53, TAVREL_PULL_UP);
    EXPECT_EQ(board.trace(), (Accesses{W(GPPUD, 2), W(GPPUDCLK0, bit(4)), W(GPPUD, 0), W(GPPUDCLK0, 0),   //
                                       W(GPPUD, 0), W(GPPUDCLK0, bit(31)), W(GPPUD, 0), W(GPPUDCLK0, 0),  //
                                       W(GPPUD, 1), W(GPPUDCLK1, bit(8)), W(GPPUD, 0), W(GPPUDCLK1, 0),   //
                                       W(GPPUD, 2), W(GPPUDCLK1, bit(21)), W(GPPUD, 0), W(GPPUDCLK1, 0)}));
}

TEST_F(PinsAtOnce, set_mask_writes_each_needed_word_once_in_bank_order)
{
    REQUIRE_TRAPPING();
    uint64_t pins = uint64_t{1} << 3 | uint64_t{1} << 4 | uint64_t{1} << 40 | uint64_t{1} << 50;
    uint64_t levels = uint64_t{1} << 3 | uint64_t{1} << 40 | uint64_t{1} << 60;
    tavrel_gpio_set_mask(pins, levels);
    EXPECT_EQ(board.trace(),
              (Accesses{W(GPSET0, bit(3)), W(GPCLR0, bit(4)), W(GPSET1, bit(8)), W(GPCLR1, bit(18))}));

    board.clear_trace();
    tavrel_gpio_set_mask(~uint64_t{0}, ~uint64_t{0});
    tavrel_gpio_set_mask(uint64_t{0xFF} << 32, 0);
    EXPECT_EQ(board.trace(), (Accesses{W(GPSET0, 0xFFFFFFFF), W(GPSET1, 0x3FFFFF), W(GPCLR1, 0xFF)}))
        << "bits 54 to 63 are no pins";
}

TEST_F(PinsAtOnce, set_mask_drives_the_latches_together)
{
    REQUIRE_TRAPPING();
    tavrel_gpio_set_mask(0xF0F0, 0xFF00);
    EXPECT_EQ(board.latch(0), 0xF000u);
    tavrel_gpio_set_mask(uint64_t{3} << 52, uint64_t{1} << 52);
    EXPECT_EQ(board.latch(1), bit(20));
}

TEST_F(PinsAtOnce, get_all_reads_bank_0_then_bank_1_and_keeps_pins_0_to_53)
{
    board.drive_bank(0, 0x80000001);
    board.drive_bank(1, 0xFFFFFFFF);
    EXPECT_EQ(tavrel_gpio_get_all(), 0x003FFFFF80000001u);
    if (!trapping()) return;
    board.clear_trace();
    (void)tavrel_gpio_get_all();
    EXPECT_EQ(board.trace(), (Accesses{R(GPLEV0, 0x80000001), R(GPLEV1, 0x0FFFFFFF)}));
}

TEST_F(PinsAtOnce, operations_ignore_pins_and_codes_out_of_range)
{
    board.fill();
    Registers before = board.all();
    for (int pin : {-1, 54, 59, 60, INT_MAX, INT_MIN}) tavrel_gpio_set_pull(pin, TAVREL_PULL_UP);
    for (int pull : {-1, 3, 4, INT_MIN}) tavrel_gpio_set_pull(4, pull);
    tavrel_gpio_set_mask(0, ~uint64_t{0});
    tavrel_gpio_set_mask(uint64_t{0x3FF} << 54, ~uint64_t{0});
    for (int pin : {-1, 60, INT_MAX, INT_MIN}) EXPECT_EQ(tavrel_gpio_get_mode(pin), -1) << pin;
    EXPECT_EQ(board.trace(), Accesses{});
    EXPECT_EQ(board.all(), before);
}

TEST(ClosedAccessAtOnce, new_operations_touch_nothing_and_getters_say_closed)
{
    SimBoard board;
    board.fill();
    Registers before = board.all();
    tavrel_gpio_set_pull(4, TAVREL_PULL_UP);
    tavrel_gpio_set_mask(~uint64_t{0}, 0);
    EXPECT_EQ(tavrel_gpio_get_mode(4), -1);
    EXPECT_EQ(tavrel_gpio_get_all(), 0u);
    EXPECT_EQ(board.trace(), Accesses{});
    EXPECT_EQ(board.all(), before);
}

// The device model: what the hardware does with GPPUD and GPPUDCLK.
class PullModel : public PinsAtOnce {
protected:
    void SetUp() override
    {
        PinsAtOnce::SetUp();
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
