// SPDX-License-Identifier: MIT
// The library on a Pi 5's RP1: each operation's register accesses, in
// order, against an independent map of the RP1's window, the bank table of
// the Linux kernel's pinctrl-rp1 driver and its register offsets, written
// out here again (a second copy on purpose: it is the oracle).
#include <errno.h>

#include "support/open_board.h"

using namespace tavrel_test;

namespace {

struct OracleBank {
    unsigned first, count;
    uint32_t gpio, rio, pads;  // from IO_BANK0 (0x00000), SYS_RIO0 (0x10000), PADS_BANK0 (0x20000)
};
constexpr OracleBank kBanks[] = {
    {0, 28, 0x0000, 0x0000, 0x0004},
    {28, 6, 0x4000, 0x4000, 0x4004},
    {34, 20, 0x8000, 0x8000, 0x8004},
};
constexpr uint32_t kXor = 0x1000, kSet = 0x2000, kClr = 0x3000;

const OracleBank& bank(unsigned pin)
{
    for (const OracleBank& b : kBanks)
        if (pin >= b.first && pin < b.first + b.count) return b;
    abort();
}
// Words of the window, as the trace counts them, at an alias.
unsigned ctrl(unsigned pin, uint32_t alias = 0)
{
    return (0x00000 + bank(pin).gpio + alias + 8 * (pin - bank(pin).first) + 4) / 4;
}
unsigned pad(unsigned pin, uint32_t alias = 0)
{
    return (0x20000 + bank(pin).pads + alias + 4 * (pin - bank(pin).first)) / 4;
}
unsigned out(unsigned b, uint32_t alias = 0)
{
    return (0x10000 + kBanks[b].rio + alias + 0x0) / 4;
}
unsigned oe(unsigned b, uint32_t alias = 0)
{
    return (0x10000 + kBanks[b].rio + alias + 0x4) / 4;
}
unsigned in(unsigned b)
{
    return (0x10000 + kBanks[b].rio + 0x8) / 4;
}
constexpr uint32_t kNone = 0x1f, kIe = 0x40, kOd = 0x80, kUp = 0x8, kDown = 0x4;

class Pi5 : public testing::Test {
protected:
    void SetUp() override
    {
        board.set_soc(tavrel_sim::Soc::kBcm2712);
        board.device_tree("raspberrypi,rp1-gpio", "/axi/pcie@120000/rp1/gpio@d0000");
        ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    }
    void TearDown() override { tavrel_gpio_deinit(); }
    SimBoard board;
};

TEST_F(Pi5, the_window_is_opened_whole_and_the_chip_told)
{
    EXPECT_EQ(tavrel_gpio_chip(), TAVREL_CHIP_BCM2712);
    EXPECT_EQ(tavrel_gpio_pin_count(), 54);
    // The snapshot close puts back: pins 0 to 29's CTRL and pad, and the
    // output enables of the two banks that hold them.
    Accesses snapshot;
    for (unsigned pin = 0; pin < 30; ++pin) {
        snapshot.push_back(R(ctrl(pin), kNone));
        snapshot.push_back(R(pad(pin), 0));
    }
    snapshot.push_back(R(oe(0), 0));
    snapshot.push_back(R(oe(1), 0));
    EXPECT_EQ(board.trace(), snapshot);
    tavrel_gpio_deinit();
    EXPECT_EQ(tavrel_gpio_chip(), TAVREL_CHIP_BCM2712) << "from the tree, access closed";
    EXPECT_EQ(tavrel_gpio_pin_count(), 54);
}

TEST_F(Pi5, each_operation_makes_the_accesses_the_rp1s_map_gives)
{
    REQUIRE_TRAPPING();
    board.clear_trace();
    tavrel_gpio_config_io(17, 1);
    EXPECT_EQ(board.trace(), (Accesses{W(oe(0, kSet), 1u << 17), W(pad(17, kSet), kIe), W(pad(17, kClr), kOd),
                                       R(ctrl(17), kNone), W(ctrl(17, kXor), kNone ^ 5)}));
    board.clear_trace();
    tavrel_gpio_set_val(17, 1);
    tavrel_gpio_set_val(30, 1);
    tavrel_gpio_set_val(53, 0);
    tavrel_gpio_set_val(54, 1);  // past the chip: nothing
    EXPECT_EQ(board.trace(),
              (Accesses{W(out(0, kSet), 1u << 17), W(out(1, kSet), 1u << 2), W(out(2, kClr), 1u << 19)}));
    board.clear_trace();
    EXPECT_EQ(tavrel_gpio_get_val(17), 1);
    EXPECT_EQ(tavrel_gpio_get_mode(17), 1);
    EXPECT_EQ(tavrel_gpio_get_mode(40), TAVREL_MODE_NONE);
    EXPECT_EQ(board.trace(),
              (Accesses{R(in(0), 1u << 17), R(ctrl(17), 5), R(oe(0), 1u << 17), R(ctrl(40), kNone)}));
    board.clear_trace();
    // 0xA5 on pins 24 to 31: bank 0's 24 to 27, bank 1's 28 to 31.
    tavrel_gpio_set_byte(24, 0xA5);
    EXPECT_EQ(board.trace(), (Accesses{W(out(0, kSet), 0x5u << 24), W(out(0, kClr), 0xAu << 24),
                                       W(out(1, kSet), 0xAu), W(out(1, kClr), 0x5u)}));
    board.clear_trace();
    tavrel_gpio_set_byte(-2, 0xF3);  // bits 2 to 7 to pins 0 to 5, as on the BCM2835
    tavrel_gpio_set_byte(50, 0x0F);  // pins 50 to 53; 54 and on dropped
    EXPECT_EQ(board.trace(),
              (Accesses{W(out(0, kSet), 0x3cu), W(out(0, kClr), 0x3u), W(out(2, kSet), 0xFu << 16)}));
    board.clear_trace();
    tavrel_gpio_set_mask(1ull << 5 | 1ull << 29 | 1ull << 34 | 1ull << 53 | 0xFFull << 54,
                         1ull << 53 | 1ull << 5);
    EXPECT_EQ(board.trace(), (Accesses{W(out(0, kSet), 1u << 5), W(out(1, kClr), 1u << 1),
                                       W(out(2, kSet), 1u << 19), W(out(2, kClr), 1u << 0)}));
    board.clear_trace();
    board.drive(33, true);
    board.drive(35, true);
    EXPECT_EQ(tavrel_gpio_get_byte(30), 0);  // nothing here enables an input
    // Only pin 17 is an output; the latches of the others drive nothing.
    EXPECT_EQ(tavrel_gpio_get_all(), 1ull << 17);
    EXPECT_EQ(board.trace(),
              (Accesses{R(in(1), 0), R(in(2), 0), R(in(0), 1u << 17), R(in(1), 0), R(in(2), 0)}));
    board.clear_trace();
    tavrel_gpio_set_alt(18, 3);
    tavrel_gpio_config_io(35, 0);
    EXPECT_EQ(board.trace(), (Accesses{W(pad(18, kSet), kIe), W(pad(18, kClr), kOd), R(ctrl(18), kNone),
                                       W(ctrl(18, kXor), kNone ^ 3),  //
                                       W(oe(2, kClr), 1u << 1), W(pad(35, kSet), kIe), W(pad(35, kClr), kOd),
                                       R(ctrl(35), kNone), W(ctrl(35, kXor), kNone ^ 5)}));
    EXPECT_EQ(tavrel_gpio_get_mode(18), 7) << "function 3 is alt3's code";
    EXPECT_EQ(tavrel_gpio_get_byte(30), 0x20) << "pin 35, an input now; 33's input is not enabled";
}

TEST_F(Pi5, pulls_are_the_pads_enables_and_read_back)
{
    REQUIRE_TRAPPING();
    board.clear_trace();
    tavrel_gpio_set_pull(4, TAVREL_PULL_UP);
    tavrel_gpio_set_pull(4, TAVREL_PULL_DOWN);
    tavrel_gpio_set_pull(4, TAVREL_PULL_DOWN);  // already: no write
    tavrel_gpio_set_pull(53, TAVREL_PULL_UP);
    EXPECT_EQ(board.trace(),
              (Accesses{R(pad(4), 0), W(pad(4, kXor), kUp), R(pad(4), kUp), W(pad(4, kXor), kUp | kDown),
                        R(pad(4), kDown), R(pad(53), 0), W(pad(53, kXor), kUp)}));
    EXPECT_EQ(tavrel_gpio_get_pull(4), TAVREL_PULL_DOWN);
    EXPECT_EQ(tavrel_gpio_get_pull(53), TAVREL_PULL_UP);
    board.write(pad(6), kUp | kDown);
    EXPECT_EQ(tavrel_gpio_get_pull(6), TAVREL_PULL_KEEP);
    EXPECT_EQ(board.pull(53), tavrel_sim::kPullUp) << "the board's own view agrees";
    errno = 0;
    EXPECT_EQ(tavrel_gpio_get_pull(54), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(Pi5, close_puts_back_function_direction_and_pad_of_the_pins_changed)
{
    REQUIRE_TRAPPING();
    board.write(ctrl(22), 2);  // alt2, as something else left it
    board.write(pad(22), kIe | kOd | kUp);
    board.write(oe(0, kSet), 1u << 22);
    tavrel_gpio_deinit();
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    tavrel_gpio_config_io(22, 0);
    tavrel_gpio_config_io(40, 1);  // past pin 29: not put back
    tavrel_gpio_set_pull(22, TAVREL_PULL_OFF);
    board.clear_trace();
    tavrel_gpio_deinit();
    EXPECT_EQ(board.trace(), (Accesses{R(pad(22), kIe), W(pad(22, kXor), kOd | kUp), W(oe(0, kSet), 1u << 22),
                                       R(ctrl(22), 5), W(ctrl(22, kXor), 5 ^ 2)}));
    EXPECT_EQ(board.fsel(22), 6u) << "alt2 again";
    EXPECT_EQ(board.fsel(40), 1u);
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
}

}  // namespace
