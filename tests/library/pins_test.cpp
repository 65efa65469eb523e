// SPDX-License-Identifier: MIT
// Pin operations on an open board: the exact register accesses each makes,
// and their bounds.
#include <algorithm>
#include <climits>
#include <functional>

#include "support/open_board.h"

using namespace tavrel_test;

namespace {

class Pins : public OpenBoard {};

constexpr int kOutOfRange[] = {-1, -10, 60, 64, 1000, INT_MAX, INT_MIN};

TEST_F(Pins, function_select_update_is_one_read_then_one_write_of_its_word)
{
    REQUIRE_TRAPPING();
    board.set_word(1, 07777777777);
    tavrel_gpio_config_io(12, 1);
    EXPECT_EQ(board.trace(), (Accesses{R(1, 07777777777), W(1, 07777777177)}));
    board.clear_trace();
    tavrel_gpio_set_alt(19, 0);
    EXPECT_EQ(board.trace(), (Accesses{R(1, 07777777177), W(1, 04777777177)}));
}

TEST_F(Pins, config_io_changes_only_its_own_field)
{
    board.set_word(1, 07777777777);
    tavrel_gpio_config_io(12, 1);
    EXPECT_EQ(board.word(1), 07777777177u);
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
    EXPECT_EQ(board.all(), before);
    EXPECT_EQ(board.trace(), Accesses{});
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
    tavrel_gpio_set_alt(4, 0);
    tavrel_gpio_set_alt(4, 6);  // the first past the table of codes
    EXPECT_EQ(board.fsel(4), 2u);
    tavrel_gpio_set_alt(4, INT_MAX);
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
    EXPECT_EQ(board.all(), before);
    EXPECT_EQ(board.trace(), Accesses{});
}

TEST_F(Pins, set_val_is_one_write_to_the_set_or_clear_word_of_the_pin_bank)
{
    REQUIRE_TRAPPING();
    struct Case {
        int pin, value;
        Access write;
    } cases[] = {
        {5, 1, W(GPSET0, 1u << 5)},  {5, 0, W(GPCLR0, 1u << 5)},  {31, 7, W(GPSET0, 1u << 31)},
        {32, 1, W(GPSET1, 1u << 0)}, {40, 0, W(GPCLR1, 1u << 8)}, {59, -1, W(GPSET1, 1u << 27)},
    };
    for (const Case& c : cases) {
        board.clear_trace();
        tavrel_gpio_set_val(c.pin, c.value);
        EXPECT_EQ(board.trace(), Accesses{c.write}) << "pin " << c.pin;
    }
}

TEST_F(Pins, set_val_drives_the_output_latch)
{
    REQUIRE_TRAPPING();
    tavrel_gpio_set_val(3, 1);
    tavrel_gpio_set_val(35, 1);
    EXPECT_EQ(board.latch(0), 1u << 3);
    EXPECT_EQ(board.latch(1), 1u << 3);
    tavrel_gpio_set_val(3, 0);
    EXPECT_EQ(board.latch(0), 0u);
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
    EXPECT_EQ(board.all(), before);
    EXPECT_EQ(board.trace(), Accesses{});
}

TEST_F(Pins, set_byte_drives_pins_in_ascending_order)
{
    REQUIRE_TRAPPING();
    tavrel_gpio_set_byte(4, 0xA5);
    EXPECT_EQ(board.trace(),
              (Accesses{W(GPSET0, 1u << 4), W(GPCLR0, 1u << 5), W(GPSET0, 1u << 6), W(GPCLR0, 1u << 7),
                        W(GPCLR0, 1u << 8), W(GPSET0, 1u << 9), W(GPCLR0, 1u << 10), W(GPSET0, 1u << 11)}));
    EXPECT_EQ(board.latch(0), 0xA5u << 4);
}

TEST_F(Pins, set_byte_crosses_into_bank_1)
{
    REQUIRE_TRAPPING();
    tavrel_gpio_set_byte(30, 0x0F);
    EXPECT_EQ(board.trace(),
              (Accesses{W(GPSET0, 1u << 30), W(GPSET0, 1u << 31), W(GPSET1, 1u << 0), W(GPSET1, 1u << 1),
                        W(GPCLR1, 1u << 2), W(GPCLR1, 1u << 3), W(GPCLR1, 1u << 4), W(GPCLR1, 1u << 5)}));
}

TEST_F(Pins, set_byte_skips_pins_beyond_59_and_below_0)
{
    REQUIRE_TRAPPING();
    tavrel_gpio_set_byte(57, 0xFF);
    EXPECT_EQ(board.trace(), (Accesses{W(GPSET1, 1u << 25), W(GPSET1, 1u << 26), W(GPSET1, 1u << 27)}));
    board.clear_trace();
    tavrel_gpio_set_byte(-6, 0x40);  // bit 6 lands on pin 0
    EXPECT_EQ(board.trace(), (Accesses{W(GPSET0, 1u << 0), W(GPCLR0, 1u << 1)}));
}

TEST_F(Pins, get_val_reads_the_level_word_of_the_pin_bank)
{
    board.drive_bank(0, 0x80000021);
    board.drive_bank(1, 0x00000102);
    EXPECT_EQ(tavrel_gpio_get_val(0), 1);
    EXPECT_EQ(tavrel_gpio_get_val(1), 0);
    EXPECT_EQ(tavrel_gpio_get_val(5), 1);
    EXPECT_EQ(tavrel_gpio_get_val(31), 1);
    EXPECT_EQ(tavrel_gpio_get_val(32), 0);
    EXPECT_EQ(tavrel_gpio_get_val(33), 1);
    EXPECT_EQ(tavrel_gpio_get_val(40), 1);
}

TEST_F(Pins, getters_read_output_latches_on_outputs_and_driven_levels_on_inputs)
{
    REQUIRE_TRAPPING();
    board.drive(6, true);
    board.drive(7, true);
    tavrel_gpio_config_io(7, 1);  // an output now: reads its latch, 0
    tavrel_gpio_config_io(8, 1);
    tavrel_gpio_set_val(8, 1);
    EXPECT_EQ(tavrel_gpio_get_val(6), 1);
    EXPECT_EQ(tavrel_gpio_get_val(7), 0);
    EXPECT_EQ(tavrel_gpio_get_val(8), 1);
    EXPECT_EQ(tavrel_gpio_get_byte(6), 0b101);
}

TEST_F(Pins, get_byte_returns_eight_levels_from_one_read)
{
    board.drive_bank(0, 0xFF000000);
    board.clear_trace();
    EXPECT_EQ(tavrel_gpio_get_byte(24), 255);
    if (trapping()) {
        EXPECT_EQ(board.trace(), (Accesses{R(GPLEV0, 0xFF000000)}));
    }
    board.drive_bank(0, 0x01000000);
    EXPECT_EQ(tavrel_gpio_get_byte(24), 1);
    board.drive_bank(0, 0x00000A50);
    EXPECT_EQ(tavrel_gpio_get_byte(4), 0xA5);
}

TEST_F(Pins, get_byte_repeats_pin_31_above_the_bank)
{
    board.drive_bank(0, 0xA0000000);  // pins 29 and 31 high
    EXPECT_EQ(tavrel_gpio_get_byte(28), 0xFA);
    board.drive_bank(0, 0x70000000);  // pin 31 low
    EXPECT_EQ(tavrel_gpio_get_byte(28), 0x07);
}

TEST_F(Pins, get_byte_reads_bank_1_for_pins_32_to_59)
{
    board.drive_bank(0, 0xFFFFFFFF);
    board.drive_bank(1, 0x00005A00);
    EXPECT_EQ(tavrel_gpio_get_byte(40), 0x5A);
    EXPECT_EQ(tavrel_gpio_get_byte(32), 0x00);
}

TEST_F(Pins, every_access_is_one_aligned_32_bit_access)
{
    REQUIRE_TRAPPING();
    tavrel_gpio_config_io(3, 1);
    tavrel_gpio_set_alt(44, 2);
    tavrel_gpio_set_val(3, 1);
    tavrel_gpio_set_byte(28, 0x5A);
    (void)tavrel_gpio_get_val(3);
    (void)tavrel_gpio_get_byte(30);
    tavrel_gpio_deinit();
    auto records = board.records();
    EXPECT_EQ(records.size(), 2u + 2 + 1 + 8 + 1 + 1 + 2);
    for (const auto& r : records) {
        EXPECT_EQ(r.width, 4u) << tavrel_sim::describe(r);
        EXPECT_EQ(r.flags, 0u) << tavrel_sim::describe(r);
    }
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
    EXPECT_EQ(board.trace(), Accesses{});
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    tavrel_gpio_deinit();
    board.clear_trace();
    all_operations();  // after deinit
    EXPECT_EQ(board.trace(), Accesses{});
    EXPECT_EQ(board.all(), before);
}

// Out-of-contract input, case by case: each does what the documentation
// says or nothing, and touches nothing outside the block.

struct LibraryCase {
    const char* what;
    std::function<void()> call;
    Accesses expected;  // the exact accesses: none for "does nothing"
};

TEST(BadInput, library_calls)
{
    REQUIRE_TRAPPING();
    std::vector<LibraryCase> cases = {
        {"config_io pin -1", [] { tavrel_gpio_config_io(-1, 1); }, {}},
        {"config_io pin 60", [] { tavrel_gpio_config_io(60, 1); }, {}},
        {"config_io pin INT_MIN", [] { tavrel_gpio_config_io(INT_MIN, 0); }, {}},
        {"config_io pin INT_MAX", [] { tavrel_gpio_config_io(INT_MAX, 0); }, {}},
        {"config_io mode 8", [] { tavrel_gpio_config_io(3, 8); }, {}},
        {"config_io mode -1", [] { tavrel_gpio_config_io(3, -1); }, {}},
        {"config_io mode INT_MIN", [] { tavrel_gpio_config_io(3, INT_MIN); }, {}},
        {"set_alt pin -10", [] { tavrel_gpio_set_alt(-10, 2); }, {}},
        {"set_alt alt INT_MAX", [] { tavrel_gpio_set_alt(3, INT_MAX); }, {R(0, 0), W(0, 2u << 9)}},
        {"set_alt alt INT_MIN", [] { tavrel_gpio_set_alt(3, INT_MIN); }, {R(0, 0), W(0, 4u << 9)}},
        {"set_val pin 64", [] { tavrel_gpio_set_val(64, 1); }, {}},
        {"set_val pin INT_MIN", [] { tavrel_gpio_set_val(INT_MIN, 1); }, {}},
        {"set_byte from INT_MIN", [] { tavrel_gpio_set_byte(INT_MIN, 0xFF); }, {}},
        {"set_byte from INT_MAX - 3", [] { tavrel_gpio_set_byte(INT_MAX - 3, 0xFF); }, {}},
        {"set_byte over pin 59",
         [] { tavrel_gpio_set_byte(58, 0x03); },
         {W(GPSET1, 1u << 26), W(GPSET1, 1u << 27)}},
        {"set_byte byte beyond 8 bits",
         [] { tavrel_gpio_set_byte(0, 0x1FF00); },
         {W(GPCLR0, 1), W(GPCLR0, 2), W(GPCLR0, 4), W(GPCLR0, 8), W(GPCLR0, 16), W(GPCLR0, 32), W(GPCLR0, 64),
          W(GPCLR0, 128)}},
        {"get_val pin -1", [] { EXPECT_EQ(tavrel_gpio_get_val(-1), 0); }, {}},
        {"get_byte from INT_MIN", [] { EXPECT_EQ(tavrel_gpio_get_byte(INT_MIN), 0); }, {}},
        {"get_byte from 60", [] { EXPECT_EQ(tavrel_gpio_get_byte(60), 0); }, {}},
    };
    for (const LibraryCase& c : cases) {
        SimBoard board;
        ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
        board.clear_trace();
        c.call();
        EXPECT_EQ(board.trace(), c.expected) << c.what;
        board.clear_trace();
        tavrel_gpio_deinit();
    }
}

}  // namespace
