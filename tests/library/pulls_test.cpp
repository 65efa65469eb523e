// SPDX-License-Identifier: MIT
// Pulls: the BCM2835's sequence of register accesses.
#include "support/open_board.h"

using namespace tavrel_test;

namespace {

constexpr uint32_t bit(unsigned n)
{
    return 1u << n;
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

}  // namespace
