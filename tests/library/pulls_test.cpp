// SPDX-License-Identifier: MIT
// Pulls: the BCM2835's sequence of register accesses, the BCM2711's pull
// controls read back, and the chip told apart by the device tree first.
#include <errno.h>

#include "support/open_board.h"

using namespace tavrel_test;
using tavrel_sim::Soc;

namespace {

constexpr uint32_t bit(unsigned n)
{
    return 1u << n;
}

constexpr unsigned kReg0 = tavrel_sim::GPIO_PUP_PDN_CNTRL_REG0, kTag = tavrel_sim::kTagWord;

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
    for (int pin : {4, 40, 53}) {
        errno = 0;
        EXPECT_EQ(tavrel_gpio_get_pull(pin), -1);
        EXPECT_EQ(errno, ENOTSUP) << "the BCM2835 cannot read a pull back";
    }
    for (int pin : {-1, 54, 57, 58}) {
        errno = 0;
        EXPECT_EQ(tavrel_gpio_get_pull(pin), -1);
        EXPECT_EQ(errno, EINVAL) << pin;
    }
    EXPECT_EQ(board.pull(4), tavrel_sim::kPullUp);
    EXPECT_EQ(board.pull(40), tavrel_sim::kPullDown);
}

// A board of either chip, with the device tree each test gives it.
class Chips : public testing::Test {
protected:
    void TearDown() override { tavrel_gpio_deinit(); }
    void open_on(Soc soc)
    {
        board.set_soc(soc);
        ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
        board.clear_trace();
    }
    SimBoard board;
};

TEST_F(Chips, on_the_bcm2711_a_pull_is_one_read_and_one_write_and_reads_back)
{
    REQUIRE_TRAPPING();
    board.device_tree("brcm,bcm2711-gpio");
    open_on(Soc::kBcm2711);
    tavrel_gpio_set_pull(4, TAVREL_PULL_UP);
    tavrel_gpio_set_pull(5, TAVREL_PULL_DOWN);
    tavrel_gpio_set_pull(4, TAVREL_PULL_OFF);
    tavrel_gpio_set_pull(17, TAVREL_PULL_DOWN);
    tavrel_gpio_set_pull(57, TAVREL_PULL_UP);
    // 0 none, 1 up, 2 down: the other way round from GPPUD's codes.
    EXPECT_EQ(board.trace(), (Accesses{R(kReg0, 0), W(kReg0, 1u << 8),                    //
                                       R(kReg0, 1u << 8), W(kReg0, 1u << 8 | 2u << 10),   //
                                       R(kReg0, 1u << 8 | 2u << 10), W(kReg0, 2u << 10),  //
                                       R(kReg0 + 1, 0), W(kReg0 + 1, 2u << 2),            //
                                       R(kReg0 + 3, 0), W(kReg0 + 3, 1u << 18)}));
    board.clear_trace();
    EXPECT_EQ(tavrel_gpio_get_pull(4), TAVREL_PULL_OFF);
    EXPECT_EQ(tavrel_gpio_get_pull(5), TAVREL_PULL_DOWN);
    EXPECT_EQ(tavrel_gpio_get_pull(17), TAVREL_PULL_DOWN);
    EXPECT_EQ(tavrel_gpio_get_pull(57), TAVREL_PULL_UP);
    EXPECT_EQ(board.trace(), (Accesses{R(kReg0, 2u << 10), R(kReg0, 2u << 10), R(kReg0 + 1, 2u << 2),
                                       R(kReg0 + 3, 1u << 18)}));
    EXPECT_EQ(board.pull(5), tavrel_sim::kPullDown) << "the board's own view agrees";
    EXPECT_EQ(board.pull(57), tavrel_sim::kPullUp);
    for (int pin : {-1, 58, 60}) {
        errno = 0;
        EXPECT_EQ(tavrel_gpio_get_pull(pin), -1);
        EXPECT_EQ(errno, EINVAL) << pin;
    }
    EXPECT_EQ(board.word(GPPUD) | board.word(GPPUDCLK0) | board.word(GPPUDCLK1), 0u);
    tavrel_gpio_deinit();
    errno = 0;
    EXPECT_EQ(tavrel_gpio_get_pull(4), -1);
    EXPECT_EQ(errno, EINVAL) << "access closed";
}

// The tree decides without touching the block; only with no tree does the
// first pull operation read word 60, once.
TEST_F(Chips, the_chip_is_told_by_the_device_tree_else_once_by_the_block)
{
    REQUIRE_TRAPPING();
    struct Case {
        Soc soc;
        const char* compatible;  // null: no tree
        const char* node;
        Accesses first;  // of set_pull(4, up)
    };
    const Accesses bcm2835 = {W(GPPUD, 2), W(GPPUDCLK0, bit(4)), W(GPPUD, 0), W(GPPUDCLK0, 0)};
    const Accesses bcm2711 = {R(kReg0, 0), W(kReg0, 1u << 8)};
    auto with_probe = [](uint32_t tag, Accesses a) {
        a.insert(a.begin(), R(kTag, tag));
        return a;
    };
    const Case cases[] = {
        {Soc::kBcm2835, "brcm,bcm2835-gpio", "/soc/gpio@7e200000", bcm2835},
        {Soc::kBcm2711, "brcm,bcm2711-gpio", "/soc/gpio@7e200000", bcm2711},
        // The node its symbol names, wherever it is.
        {Soc::kBcm2711, "brcm,bcm2711-gpio", "/soc/gpio@7e215000", bcm2711},
        {Soc::kBcm2835, "brcm,bcm2835-gpio|brcm,other", "/soc/gpio@7e200000", bcm2835},
        {Soc::kBcm2835, nullptr, nullptr, with_probe(tavrel_sim::kGpioTag, bcm2835)},
        {Soc::kBcm2711, nullptr, nullptr, with_probe(0, bcm2711)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(tavrel_sim::soc_name(c.soc)) + " tree " +
                     (c.compatible ? c.compatible : "none"));
        if (c.compatible)
            board.device_tree(c.compatible, c.node);
        else
            board.no_device_tree();
        board.set_soc(c.soc);
        board.reset();
        board.clear_trace();
        const int32_t pins = c.soc == Soc::kBcm2711 ? 58 : 54;
        EXPECT_EQ(tavrel_gpio_pin_count(), pins) << "told while access is closed";
        EXPECT_EQ(board.trace(), c.compatible ? Accesses{} : Accesses{R(kTag, c.first[0].value)});
        board.clear_trace();
        ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
        EXPECT_EQ(board.trace(), (Accesses{R(0, 0), R(1, 0), R(2, 0), R(GPLEV0, 0)})) << "open is unchanged";
        board.clear_trace();
        tavrel_gpio_set_pull(4, TAVREL_PULL_UP);
        EXPECT_EQ(board.trace(), c.first);
        board.clear_trace();
        tavrel_gpio_set_pull(4, TAVREL_PULL_UP);
        EXPECT_EQ(board.trace().size(), c.soc == Soc::kBcm2711 ? 2u : 4u) << "no second probe";
        EXPECT_EQ(board.pull(4), tavrel_sim::kPullUp);
        EXPECT_EQ(tavrel_gpio_pin_count(), pins);
        EXPECT_EQ(board.trace().size(), c.soc == Soc::kBcm2711 ? 2u : 4u) << "the count reads nothing more";
        tavrel_gpio_deinit();
    }
}

TEST_F(Chips, operations_other_than_pulls_make_the_same_accesses_on_either_chip)
{
    REQUIRE_TRAPPING();
    Accesses seen[2];
    for (Soc soc : {Soc::kBcm2835, Soc::kBcm2711}) {
        board.no_device_tree();
        open_on(soc);
        tavrel_gpio_config_io(17, 1);
        tavrel_gpio_set_alt(18, 0);
        tavrel_gpio_set_val(17, 1);
        tavrel_gpio_set_byte(4, 0xA5);
        tavrel_gpio_set_mask(0xF0ull | 1ull << 40, 0x30);
        (void)tavrel_gpio_get_val(17);
        (void)tavrel_gpio_get_byte(4);
        (void)tavrel_gpio_get_all();
        (void)tavrel_gpio_get_mode(18);
        seen[soc == Soc::kBcm2711] = board.trace();
        tavrel_gpio_deinit();
    }
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_EQ(seen[0].size(), 21u);
}

TEST_F(Chips, a_gpio_block_of_another_design_is_never_opened)
{
    board.device_tree("brcm,brcmstb-gpio");
    testing::internal::CaptureStdout();
    EXPECT_EQ(tavrel_gpio_init_noatexit(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "gpio open failed\n");
    errno = 0;
    EXPECT_EQ(tavrel_gpio_pin_count(), -1);
    EXPECT_EQ(errno, ENODEV);
    tavrel_gpio_set_pull(4, TAVREL_PULL_UP);
    tavrel_gpio_config_io(4, 1);
    EXPECT_EQ(board.trace(), Accesses{}) << "not a single access";
    EXPECT_EQ(blocks_mapped(), 0);
}

}  // namespace
