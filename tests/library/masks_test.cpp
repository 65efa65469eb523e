// SPDX-License-Identifier: MIT
// Many pins at once, and a pin's function read back: the exact register
// accesses of get_mode, set_mask and get_all, and their bounds.
#include <climits>

#include "support/open_board.h"

using namespace tavrel_test;

namespace {

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

}  // namespace
