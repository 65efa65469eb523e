// SPDX-License-Identifier: MIT
// tavrel-gpio_pull as a black box: output, errors, status, and what it
// leaves on the board.
#include <fcntl.h>

#include <sstream>

#include "support/process.h"
#include "support/sim_board.h"
#include "support/text.h"

using namespace tavrel_test;

namespace {

class PullTool : public testing::Test {
protected:
    Outcome pull(std::vector<std::string> args) { return run(TAVREL_PULL_TOOL_PATH, args); }
    SimBoard board;
};

// A pin by its line's name, as gpiofind finds it, or as GPIO and its number.
TEST_F(PullTool, takes_a_pin_by_its_line_name_and_answers_help_and_version)
{
    for (auto [name, report] : {std::pair<const char*, const char*>{"SPI_CE0_N", "Set pin 8 pull-up\n"},
                                {"GPIO17", "Set pin 17 pull-up\n"},
                                {"GPIO4", "Set pin 4 pull-up\n"}}) {  // a line named GPIO_GCLK
        Outcome o = pull({"-p", name, "-u"});
        EXPECT_TRUE(o.exited_with(0)) << name << ": " << o.err;
        EXPECT_EQ(o.out, report);
    }
    Outcome o = pull({"-p", "GPIO99", "-u"});
    EXPECT_TRUE(o.exited_with(1));
    EXPECT_EQ(o.err, "Pin GPIO99 is out of range (0 to 53).\n");
    o = pull({"-p", "NO_SUCH_LINE", "-u"});
    EXPECT_TRUE(o.exited_with(1));
    EXPECT_NE(o.err.find("bad pin 'NO_SUCH_LINE'"), std::string::npos) << o.err;
    o = pull({"--help"});
    EXPECT_TRUE(o.exited_with(0));
    EXPECT_EQ(o.out, "Usage:\n\ttavrel-gpio_pull -p PIN_NUM -u|-d|-n\n");
    o = pull({"--version"});
    EXPECT_TRUE(o.exited_with(0));
    EXPECT_EQ(o.out.rfind("tavrel-gpio_pull ", 0), 0u) << o.out;
    EXPECT_EQ(o.out.back(), '\n');
}

TEST_F(PullTool, sets_and_reports_each_pull)
{
    struct {
        const char* option;
        const char* report;
        unsigned pull;
    } cases[] = {{"-u", "Set pin 4 pull-up\n", tavrel_sim::kPullUp},
                 {"-d", "Set pin 4 pull-down\n", tavrel_sim::kPullDown},
                 {"-n", "Set pin 4 no pull\n", tavrel_sim::kPullOff}};
    for (const auto& c : cases) {
        Outcome o = pull({"-p", "4", c.option});
        EXPECT_TRUE(o.exited_with(0)) << o.err;
        EXPECT_EQ(o.out, c.report);
        EXPECT_EQ(o.err, "");
        if (trapping()) {
            EXPECT_EQ(board.pull(4), c.pull) << c.option;
        }
    }
    Outcome o = pull({"-p", "53", "-d", "-u"});
    EXPECT_EQ(o.out, "Set pin 53 pull-up\n") << "the last pull given counts";
    if (trapping()) {
        EXPECT_EQ(board.pull(53), tavrel_sim::kPullUp);
        EXPECT_EQ(board.fsel(4), 0u) << "the pin's function is left alone";
    }
}

TEST_F(PullTool, bad_arguments_fail_and_change_nothing)
{
    Registers before = board.all();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"-p", "4"}, {"-u"}, {"-p", "4", "-u", "extra"}}) {
        Outcome o = pull(args);
        EXPECT_TRUE(o.exited_with(1)) << testing::PrintToString(args);
        EXPECT_EQ(o.err, "Usage:\n\ttavrel-gpio_pull -p PIN_NUM -u|-d|-n\n");
    }
    // Too large to read is no pin at all, never one that wrapped or saturated.
    Outcome huge = pull({"-p", "99999999999999999999", "-u"});
    EXPECT_TRUE(huge.exited_with(1));
    EXPECT_EQ(huge.err,
              "tavrel-gpio_pull: bad pin '99999999999999999999': expected a number from 0 to 53, or a line's "
              "name as GPIO17\n");
    for (const char* pin : {"54", "-1", "4294967300"}) {
        Outcome o = pull({"-p", pin, "-u"});
        EXPECT_TRUE(o.exited_with(1)) << pin;
        EXPECT_EQ(o.err, "Pin " + std::string(pin) + " is out of range (0 to 53).\n");
    }
    // The Pi 4's BCM2711 has pins 54 to 57 too.
    board.set_soc(tavrel_sim::Soc::kBcm2711);
    board.device_tree("brcm,bcm2711-gpio");
    Outcome o = pull({"-p", "58", "-u"});
    EXPECT_TRUE(o.exited_with(1));
    EXPECT_EQ(o.err, "Pin 58 is out of range (0 to 57).\n");
    board.set_soc(tavrel_sim::Soc::kBcm2835);
    board.device_tree("brcm,bcm2835-gpio");
    for (const char* pin : {"x", "4x", ""}) {
        Outcome o = pull({"-p", pin, "-u"});
        EXPECT_TRUE(o.exited_with(1)) << pin;
        EXPECT_NE(o.err.find("bad pin '" + std::string(pin) + "'"), std::string::npos) << o.err;
    }
    EXPECT_EQ(board.all(), before);
}

TEST_F(PullTool, sets_the_bcm2711s_pulls_through_its_pull_controls)
{
    board.set_soc(tavrel_sim::Soc::kBcm2711);
    board.device_tree("brcm,bcm2711-gpio");
    for (const char* option : {"-u", "-d"}) {
        Outcome o = pull({"-p", "55", option});
        EXPECT_TRUE(o.exited_with(0)) << o.err;
        EXPECT_EQ(board.word(tavrel_sim::GPIO_PUP_PDN_CNTRL_REG3), (option[1] == 'u' ? 1u : 2u) << 14)
            << "0 none, 1 up, 2 down";
    }
    EXPECT_EQ(pull({"-p", "4", "-u"}).out, "Set pin 4 pull-up\n");
    EXPECT_EQ(board.word(tavrel_sim::GPIO_PUP_PDN_CNTRL_REG0), 1u << 8);
    if (trapping()) {
        EXPECT_EQ(board.pull(4), tavrel_sim::kPullUp);
    }
    EXPECT_EQ(board.word(GPPUD) | board.word(GPPUDCLK0), 0u)
        << "the BCM2835's controls are not the BCM2711's";
}

// The tool run with its standard output on /dev/full.

}  // namespace
