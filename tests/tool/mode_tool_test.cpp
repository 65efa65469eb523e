// SPDX-License-Identifier: MIT
// tavrel-gpio_mode as a black box: output, error stream, exit status, and
// what it leaves on the board.
#include <limits.h>

#include "support/process.h"
#include "support/sim_board.h"

using namespace tavrel_test;

namespace {

const char kUsage[] =
    "Usage:\n\ttavrel-gpio_mode -p PIN_NUM -f FUNC_NUM\nor\n\ttavrel-gpio_mode -p PIN_NUM -i\n"
    "or\n\ttavrel-gpio_mode -p PIN_NUM -o\n";

class Tool : public testing::Test {
protected:
    Outcome gpio_mode(std::vector<std::string> args) { return run(TAVREL_TOOL_PATH, args); }
    SimBoard board;
};

TEST_F(Tool, sets_an_alternate_function_and_reports_it)
{
    Outcome o = gpio_mode({"-p", "18", "-f", "5"});
    EXPECT_TRUE(o.exited_with(0));
    EXPECT_EQ(o.out, "Set pin 18 to alternative-function 5\n");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(board.fsel(18), 2u);
}

TEST_F(Tool, reports_the_function_number_as_given_while_the_library_clamps_it)
{
    Outcome o = gpio_mode({"-p", "4", "-f", "9"});
    EXPECT_TRUE(o.exited_with(0));
    EXPECT_EQ(o.out, "Set pin 4 to alternative-function 9\n");
    EXPECT_EQ(board.fsel(4), 2u);
    // As atoi reads it, as the man page says: beyond an int, the low 32
    // bits where long has 64, the largest int where it has 32 (the Pi's).
    bool wide = sizeof(long) == 8;
    o = gpio_mode({"-p", "4", "-f", "4294967296"});
    EXPECT_EQ(o.out, std::string("Set pin 4 to alternative-function ") + (wide ? "0" : "2147483647") + "\n");
    EXPECT_EQ(board.fsel(4), wide ? 4u : 2u) << (wide ? "alt0" : "alt5");
    o = gpio_mode({"-p", "4", "-f", "4294967301"});
    EXPECT_EQ(o.out, std::string("Set pin 4 to alternative-function ") + (wide ? "5" : "2147483647") + "\n");
    EXPECT_EQ(board.fsel(4), 2u) << "alt5";
}

TEST_F(Tool, sets_output_and_input)
{
    Outcome o = gpio_mode({"-p", "4", "-o"});
    EXPECT_TRUE(o.exited_with(0));
    EXPECT_EQ(o.out, "Set pin 4 to output\n");
    EXPECT_EQ(board.fsel(4), 1u);

    o = gpio_mode({"-p", "4", "-i"});
    EXPECT_TRUE(o.exited_with(0));
    EXPECT_EQ(o.out, "Set pin 4 to input\n");
    EXPECT_EQ(board.fsel(4), 0u);
}

TEST_F(Tool, last_direction_and_last_value_win)
{
    Outcome o = gpio_mode({"-p", "9", "-i", "-o", "-p", "4"});
    EXPECT_TRUE(o.exited_with(0));
    EXPECT_EQ(o.out, "Set pin 4 to output\n");
    EXPECT_EQ(board.fsel(4), 1u);
    EXPECT_EQ(board.fsel(9), 0u);

    o = gpio_mode({"-p", "4", "-o", "-i"});
    EXPECT_TRUE(o.exited_with(0));
    EXPECT_EQ(o.out, "Set pin 4 to input\n") << "in the other order too";
    EXPECT_EQ(board.fsel(4), 0u);
}

TEST_F(Tool, non_numeric_pin_is_pin_0)
{
    board.set_fsel(0, 4);
    Outcome o = gpio_mode({"-p", "x", "-o"});
    EXPECT_TRUE(o.exited_with(0));
    EXPECT_EQ(o.out, "Set pin 0 to output\n");
    EXPECT_EQ(board.fsel(0), 1u);
}

TEST_F(Tool, mode_stays_after_the_tool_exits)
{
    // Pins 0 to 29 would be put back at exit if the tool registered the
    // library's close; the mode it reports must outlive it.
    board.set_fsel(17, 0);
    ASSERT_TRUE(gpio_mode({"-p", "17", "-o"}).exited_with(0));
    EXPECT_EQ(board.fsel(17), 1u);
}

TEST_F(Tool, invalid_combinations_print_usage_and_fail)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"-h"},
        {"-p", "4"},
        {"-f", "2"},
        {"-o"},
        {"-p", "4", "-f", "2", "-o"},
        {"-p", "4", "-i", "-f", "1"},
        {"extra"},
    };
    Registers before = board.all();
    for (const auto& args : cases) {
        Outcome o = gpio_mode(args);
        EXPECT_TRUE(o.exited_with(1)) << testing::PrintToString(args);
        EXPECT_EQ(o.err, kUsage) << testing::PrintToString(args);
        EXPECT_EQ(o.out, "");
    }
    EXPECT_EQ(board.all(), before);
}

TEST_F(Tool, option_errors_come_from_getopt)
{
    Outcome o = gpio_mode({"-p"});
    EXPECT_TRUE(o.exited_with(1));
    EXPECT_NE(o.err.find("option requires an argument -- 'p'"), std::string::npos) << o.err;
    EXPECT_EQ(o.out, "");

    o = gpio_mode({"-x", "-p", "3", "-o"});
    EXPECT_TRUE(o.exited_with(1));
    EXPECT_NE(o.err.find("invalid option -- 'x'"), std::string::npos) << o.err;
    EXPECT_EQ(board.fsel(3), 0u);
}

TEST_F(Tool, pins_the_library_cannot_set_are_refused)
{
    Registers before = board.all();
    // 4294967314 is 18 once atoi has wrapped it; 2147483708 is -2147483588.
    for (const char* pin : {"60", "-1", "99999999999", "4294967314", "2147483708", "-4294967296"}) {
        Outcome o = gpio_mode({"-p", pin, "-o"});
        EXPECT_TRUE(o.exited_with(1)) << pin;
        EXPECT_NE(o.err.find("out of range (0 to 59)"), std::string::npos) << o.err;
        EXPECT_EQ(o.out, "");
    }
    EXPECT_EQ(board.all(), before);
}

TEST_F(Tool, pin_out_of_range_is_named_as_written)
{
    Outcome o = gpio_mode({"-p", "4294967314", "-o"});
    EXPECT_EQ(o.err, "Pin 4294967314 is out of range (0 to 59).\n");
    o = gpio_mode({"-p", "75", "-o"});
    EXPECT_EQ(o.err, "Pin 75 is out of range (0 to 59).\n");
}

TEST_F(Tool, report_that_cannot_be_written_fails_but_the_change_stands)
{
    Outcome o = in_child([] {
        int full = open("/dev/full", O_WRONLY);
        dup2(full, 1);
        exec_program(TAVREL_TOOL_PATH, {"-p", "18", "-f", "5"});
    });
    EXPECT_TRUE(o.exited_with(1)) << describe(o.status);
    EXPECT_NE(o.err.find("cannot write the report"), std::string::npos) << o.err;
    EXPECT_EQ(board.fsel(18), 2u);
}

TEST_F(Tool, missing_device_fails_with_both_messages)
{
    board.unplug();
    Outcome o = gpio_mode({"-p", "4", "-o"});
    EXPECT_TRUE(o.exited_with(1));
    EXPECT_EQ(o.out, "gpio open failed\n");
    EXPECT_EQ(o.err, "Failed to initialise GPIO access.\n");
}

TEST_F(Tool, unmappable_device_ends_with_the_library_message)
{
    board.unmappable();
    Outcome o = gpio_mode({"-p", "4", "-o"});
    EXPECT_TRUE(o.exited_with(1));
    EXPECT_EQ(o.out, "Failed to create GPIO MMAP.\n");
    EXPECT_EQ(o.err, "");
}

// Out-of-contract input, case by case: each does what the documentation
// says or nothing, and touches nothing outside the block.

const char kUsagePrefix[] = "Usage:\n\ttavrel-gpio_mode";

struct ToolCase {
    std::vector<std::string> args;
    int status;
    std::string out;  // exact
    std::string err;  // a part of it
    int pin = -1;     // the pin that changed, and its new code
    unsigned code = 0;
};

std::string alt_line(const char* pin, const char* func)
{
    return "Set pin " + std::to_string(atoi(pin)) + " to alternative-function " + std::to_string(atoi(func)) +
           "\n";
}

unsigned alt_code(const char* func)
{
    static const unsigned code[6] = {4, 5, 6, 7, 3, 2};
    int f = atoi(func);
    return code[f < 0 ? 0 : f > 5 ? 5 : f];
}

TEST(BadInput, tool_arguments)
{
    const char* huge = "99999999999999999999";
    const char* min = "-2147483648";
    std::vector<ToolCase> cases = {
        {{"-p", huge, "-o"}, 1, "", "out of range (0 to 59)"},
        {{"-p", "-1", "-o"}, 1, "", "Pin -1 is out of range (0 to 59).\n"},
        {{"-p", "2147483648", "-i"}, 1, "", "out of range"},
        {{"-p", min, "-i"}, 1, "", "out of range"},
        {{"-p", "60", "-o"}, 1, "", "Pin 60 is out of range (0 to 59).\n"},
        {{"-p", "", "-o"}, 0, "Set pin 0 to output\n", "", 0, 1},
        {{"-p", "12abc", "-o"}, 0, "Set pin 12 to output\n", "", 12, 1},
        {{"-p", " 7", "-o"}, 0, "Set pin 7 to output\n", "", 7, 1},
        {{"-p", "59", "-o"}, 0, "Set pin 59 to output\n", "", 59, 1},
        {{"-p4", "-o"}, 0, "Set pin 4 to output\n", "", 4, 1},
        {{"-op", "9"}, 0, "Set pin 9 to output\n", "", 9, 1},
        {{"-p", "4", "-f", ""}, 0, alt_line("4", ""), "", 4, alt_code("")},
        {{"-p", "4", "-f", min}, 0, alt_line("4", min), "", 4, alt_code(min)},
        {{"-p", "4", "-f", huge}, 0, alt_line("4", huge), "", 4, alt_code(huge)},
        {{"-p", "4", "-f", "x"}, 0, alt_line("4", "x"), "", 4, alt_code("x")},
        {{"--", "-p", "4", "-o"}, 1, "", kUsagePrefix},
        {{"-p", "4", "-q"}, 1, "", "invalid option"},
        {{"-f"}, 1, "", "requires an argument"},
        {{""}, 1, "", kUsagePrefix},
    };
    for (const ToolCase& c : cases) {
        SimBoard board;
        board.fill();
        Registers before = board.all();
        Outcome o = run(TAVREL_TOOL_PATH, c.args);
        std::string what = testing::PrintToString(c.args);
        EXPECT_TRUE(o.exited_with(c.status)) << what << ": " << describe(o.status) << " " << o.err;
        EXPECT_EQ(o.out, c.out) << what;
        EXPECT_NE(o.err.find(c.err), std::string::npos) << what << ": " << o.err;
        Registers after = board.all();
        if (c.pin >= 0) {
            EXPECT_EQ(board.fsel(c.pin), c.code) << what;
            board.set_fsel(c.pin, (before[c.pin / 10] >> (3 * (c.pin % 10))) & 7);
            after = board.all();
        }
        EXPECT_EQ(after, before) << what << ": another register changed";
    }
}

}  // namespace
