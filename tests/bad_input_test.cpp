// SPDX-License-Identifier: MIT
// Out-of-contract input, table by table: each case does what the
// documentation says or nothing, and touches nothing outside the block.
#include <errno.h>
#include <limits.h>
#include <stdint.h>

#include <functional>

#include "support/process.h"
#include "support/sim_board.h"
#include "tavrel.h"

using namespace tavrel_test;

namespace {

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

TEST(BadInput, descriptor_and_version_calls)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    char buf[8];
    struct Case {
        const char* what;
        std::function<int()> call;
        int result, error;
    } cases[] = {
        {"read of length SIZE_MAX", [&] { return tavrel_read_with_timeout(fds[0], buf, SIZE_MAX, 10); }, -1,
         EINVAL},
        {"read from descriptor -5", [&] { return tavrel_read_with_timeout(-5, buf, 1, 10); }, -1, EBADF},
        {"read of nothing into null", [&] { return tavrel_read_with_timeout(fds[0], nullptr, 0, 10); }, 0, 0},
        {"read with time limit INT_MIN", [&] { return tavrel_read_with_timeout(fds[0], buf, 1, INT_MIN); },
         -1, 0},
        {"write from null", [&] { return tavrel_write_exact(fds[1], nullptr, 5); }, -1, EFAULT},
        {"write to descriptor INT_MAX", [&] { return tavrel_write_exact(INT_MAX, "x", 1); }, -1, EBADF},
        {"version text into null", [&] { return tavrel_get_version_str(nullptr, 64); }, -1, EINVAL},
        {"version text of size 0", [&] { return tavrel_get_version_str(buf, 0); }, -1, EINVAL},
    };
    for (const Case& c : cases) {
        errno = 0;
        EXPECT_EQ(c.call(), c.result) << c.what;
        if (c.error) {
            EXPECT_EQ(errno, c.error) << c.what;
        }
    }
    close(fds[0]);
    close(fds[1]);
}

}  // namespace
