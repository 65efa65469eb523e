// Pin operations on an open board, and their bounds.
#include <algorithm>
#include <climits>

#include "support/sim_board.h"
#include "tavrel.h"

using namespace tavrel_test;

namespace {

class Pins : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(tavrel_gpio_init_noatexit(), 0); }
    void TearDown() override { tavrel_gpio_deinit(); }

    // Expects the board to equal `expected` except for the listed words.
    void expect_only_changed(const Registers& expected, std::initializer_list<unsigned> words)
    {
        Registers now = board.all();
        for (unsigned w = 0; w < now.size(); ++w) {
            bool allowed = std::find(words.begin(), words.end(), w) != words.end();
            if (!allowed) {
                EXPECT_EQ(now[w], expected[w]) << "word " << w;
            }
        }
    }

    SimBoard board;
};

constexpr int kOutOfRange[] = {-1, -10, 60, 64, 1000, INT_MAX, INT_MIN};

TEST_F(Pins, config_io_changes_only_its_own_field)
{
    board.set_word(1, 07777777777);
    Registers before = board.all();
    tavrel_gpio_config_io(12, 1);
    EXPECT_EQ(board.word(1), 07777777177u);
    expect_only_changed(before, {1});
}

TEST_F(Pins, config_io_reaches_every_pin_from_0_to_59)
{
    for (int pin : {0, 9, 10, 29, 30, 31, 32, 53, 59}) {
        tavrel_gpio_config_io(pin, 1);
        EXPECT_EQ(board.fsel(pin), 1u) << "pin " << pin;
        tavrel_gpio_config_io(pin, 0);
        EXPECT_EQ(board.fsel(pin), 0u) << "pin " << pin;
    }
}

TEST_F(Pins, config_io_ignores_modes_outside_0_to_7)
{
    board.fill();
    Registers before = board.all();
    for (int mode : {8, 9, 15, 64, -1, INT_MIN, INT_MAX}) tavrel_gpio_config_io(12, mode);
    expect_only_changed(before, {});
    tavrel_gpio_config_io(12, 7);
    EXPECT_EQ(board.fsel(12), 7u);
}

TEST_F(Pins, set_alt_uses_the_bcm2835_codes)
{
    const unsigned code[6] = {4, 5, 6, 7, 3, 2};
    for (int alt = 0; alt < 6; ++alt) {
        tavrel_gpio_set_alt(18, alt);
        EXPECT_EQ(board.fsel(18), code[alt]) << "alt " << alt;
    }
}

TEST_F(Pins, set_alt_clamps_the_function_number)
{
    tavrel_gpio_set_alt(4, -3);
    EXPECT_EQ(board.fsel(4), 4u);
    tavrel_gpio_set_alt(4, 9);
    EXPECT_EQ(board.fsel(4), 2u);
    tavrel_gpio_set_alt(4, INT_MIN);
    EXPECT_EQ(board.fsel(4), 4u);
}

TEST_F(Pins, function_select_ignores_pins_outside_0_to_59)
{
    board.fill();
    Registers before = board.all();
    for (int pin : kOutOfRange) {
        tavrel_gpio_config_io(pin, 1);
        tavrel_gpio_set_alt(pin, 3);
    }
    expect_only_changed(before, {});
}

TEST_F(Pins, set_val_writes_one_bit_to_the_set_or_clear_word_of_the_pin_bank)
{
    struct Case {
        int pin, value;
        unsigned word;
        uint32_t bit;
    } cases[] = {
        {5, 1, GPSET0, 1u << 5},   {5, 0, GPCLR0, 1u << 5},   {31, 7, GPSET0, 1u << 31},
        {32, 1, GPSET1, 1u << 0},  {40, 0, GPCLR1, 1u << 8},  {59, -1, GPSET1, 1u << 27},
    };
    for (const Case& c : cases) {
        board.fill();
        Registers before = board.all();
        tavrel_gpio_set_val(c.pin, c.value);
        EXPECT_EQ(board.word(c.word), c.bit) << "pin " << c.pin;
        expect_only_changed(before, {c.word});
    }
}

TEST_F(Pins, level_and_output_operations_ignore_pins_outside_0_to_59)
{
    board.fill();
    Registers before = board.all();
    for (int pin : kOutOfRange) {
        tavrel_gpio_set_val(pin, 1);
        tavrel_gpio_set_val(pin, 0);
        EXPECT_EQ(tavrel_gpio_get_val(pin), 0) << "pin " << pin;
        EXPECT_EQ(tavrel_gpio_get_byte(pin), 0) << "pin " << pin;
    }
    tavrel_gpio_set_byte(INT_MAX, 0xFF);
    tavrel_gpio_set_byte(-8, 0xFF);
    tavrel_gpio_set_byte(60, 0xFF);
    expect_only_changed(before, {});
}

TEST_F(Pins, set_byte_drives_eight_pins_ending_with_the_highest)
{
    // The registers keep the last value written: pin 11 was the last set,
    // pin 10 the last cleared.
    tavrel_gpio_set_byte(4, 0xA5);
    EXPECT_EQ(board.word(GPSET0), 1u << 11);
    EXPECT_EQ(board.word(GPCLR0), 1u << 10);
}

TEST_F(Pins, set_byte_crosses_into_bank_1)
{
    tavrel_gpio_set_byte(28, 0xFF);
    EXPECT_EQ(board.word(GPSET0), 1u << 31);
    EXPECT_EQ(board.word(GPSET1), 1u << 3);
}

TEST_F(Pins, set_byte_skips_pins_beyond_59_and_below_0)
{
    tavrel_gpio_set_byte(56, 0x00);
    EXPECT_EQ(board.word(GPCLR1), 1u << 27) << "pin 59 is the last driven";
    board.set_word(GPSET0, 0);
    tavrel_gpio_set_byte(-3, 0x08);  // bit 3 lands on pin 0
    EXPECT_EQ(board.word(GPSET0), 1u << 0);
}

TEST_F(Pins, get_val_reads_the_level_word_of_the_pin_bank)
{
    board.set_word(GPLEV0, 0x80000021);
    board.set_word(GPLEV1, 0x00000102);
    EXPECT_EQ(tavrel_gpio_get_val(0), 1);
    EXPECT_EQ(tavrel_gpio_get_val(1), 0);
    EXPECT_EQ(tavrel_gpio_get_val(5), 1);
    EXPECT_EQ(tavrel_gpio_get_val(31), 1);
    EXPECT_EQ(tavrel_gpio_get_val(32), 0);
    EXPECT_EQ(tavrel_gpio_get_val(33), 1);
    EXPECT_EQ(tavrel_gpio_get_val(40), 1);
}

TEST_F(Pins, get_byte_returns_eight_levels_from_the_first_pin)
{
    board.set_word(GPLEV0, 0xFF000000);
    EXPECT_EQ(tavrel_gpio_get_byte(24), 255);
    board.set_word(GPLEV0, 0x01000000);
    EXPECT_EQ(tavrel_gpio_get_byte(24), 1);
    board.set_word(GPLEV0, 0x00000A50);
    EXPECT_EQ(tavrel_gpio_get_byte(4), 0xA5);
}

TEST_F(Pins, get_byte_repeats_pin_31_above_the_bank)
{
    board.set_word(GPLEV0, 0xA0000000);  // pins 29 and 31 high
    EXPECT_EQ(tavrel_gpio_get_byte(28), 0xFA);
    board.set_word(GPLEV0, 0x70000000);  // pin 31 low
    EXPECT_EQ(tavrel_gpio_get_byte(28), 0x07);
}

TEST_F(Pins, get_byte_reads_bank_1_for_pins_32_to_59)
{
    board.set_word(GPLEV0, 0xFFFFFFFF);
    board.set_word(GPLEV1, 0x00005A00);
    EXPECT_EQ(tavrel_gpio_get_byte(40), 0x5A);
    EXPECT_EQ(tavrel_gpio_get_byte(32), 0x00);
}

TEST(ClosedAccess, every_operation_touches_nothing_and_getters_return_0)
{
    SimBoard board;
    board.fill();
    Registers before = board.all();
    auto all_operations = [] {
        tavrel_gpio_config_io(3, 1);
        tavrel_gpio_set_alt(3, 2);
        tavrel_gpio_set_val(3, 1);
        tavrel_gpio_set_val(3, 0);
        tavrel_gpio_set_byte(0, 0xFF);
        EXPECT_EQ(tavrel_gpio_get_val(0), 0);
        EXPECT_EQ(tavrel_gpio_get_byte(0), 0);
    };
    all_operations();  // before init
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    tavrel_gpio_deinit();
    all_operations();  // after deinit
    EXPECT_EQ(board.all(), before);
}

}  // namespace
