// SPDX-License-Identifier: MIT
// tavrel-gpio_state as a black box: output, errors, status, and what it
// leaves on the board; and both read-and-report tools when output is lost.
#include <fcntl.h>

#include <sstream>

#include "support/process.h"
#include "support/sim_board.h"
#include "support/text.h"

using namespace tavrel_test;

namespace {

class StateTool : public testing::Test {
protected:
    Outcome state(std::vector<std::string> args) { return run(TAVREL_STATE_TOOL_PATH, args); }
    SimBoard board;
};

TEST_F(StateTool, lists_pins_0_to_53_with_function_and_level)
{
    board.set_fsel(18, 2);
    board.set_fsel(17, 1);
    board.set_fsel(40, 4);
    board.drive(4, true);
    board.drive(45, true);
    board.write(GPSET0, 1u << 17);
    // A plain block reads back its stored level word, not the model's.
    if (!trapping()) board.set_word(GPLEV0, 1u << 4 | 1u << 17);
    if (!trapping()) board.set_word(GPLEV1, 1u << 13);
    Outcome o = state({});
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    std::vector<std::string> l = lines(o.out);
    ASSERT_EQ(l.size(), 54u);
    EXPECT_EQ(l[0], "GPIO 0: input lo pull unknown");
    EXPECT_EQ(l[4], "GPIO 4: input hi pull unknown");
    EXPECT_EQ(l[17], "GPIO 17: output hi pull unknown");
    EXPECT_EQ(l[18], "GPIO 18: alt5 lo pull unknown");
    EXPECT_EQ(l[40], "GPIO 40: alt0 lo pull unknown");
    EXPECT_EQ(l[45], "GPIO 45: input hi pull unknown") << "bank 1";
    EXPECT_EQ(l[53], "GPIO 53: input lo pull unknown");
}

// The BCM2711 reads its pulls back; the BCM2835 cannot, and says so.
TEST_F(StateTool, shows_the_pull_where_the_chip_can_read_it_back)
{
    board.set_soc(tavrel_sim::Soc::kBcm2711);
    board.device_tree("brcm,bcm2711-gpio");
    board.write(tavrel_sim::GPIO_PUP_PDN_CNTRL_REG0, 1u << 8 | 2u << 10);  // 4 up, 5 down
    if (!trapping()) board.set_word(GPLEV0, 1u << 4);
    Outcome o = state({"-p", "3-5"});
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_EQ(o.out, "GPIO 3: input lo pull off\nGPIO 4: input hi pull up\nGPIO 5: input lo pull down\n");
    // Its pins 54 to 57 are listed too, their levels from bank 1's bits 22 to 25.
    board.write(tavrel_sim::GPIO_PUP_PDN_CNTRL_REG3, 1u << 14);  // 55 up
    board.drive(57, true);
    o = state({"-p", "56-57"});
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_EQ(o.out, "GPIO 56: input lo pull off\nGPIO 57: input hi pull off\n");
    o = state({});
    std::vector<std::string> l = lines(o.out);
    ASSERT_EQ(l.size(), 58u) << o.out;
    EXPECT_EQ(l[55].substr(l[55].size() - 8), " pull up") << l[55];
    o = state({"-p", "58"});
    EXPECT_TRUE(o.exited_with(1));
    EXPECT_NE(o.err.find("bad pin '58': expected a pin or a range from 0 to 57"), std::string::npos) << o.err;
}

// The Pi 5's RP1: its functions past the BCM2835's by name, its pulls read
// back, and the header drawn as the Pi 5's. Words of its window, from its
// banks' offsets.
TEST_F(StateTool, on_a_pi_5_shows_the_rp1s_functions_its_pulls_and_its_header)
{
    board.set_soc(tavrel_sim::Soc::kBcm2712);
    board.device_tree("raspberrypi,rp1-gpio", "/axi/pcie@120000/rp1/gpio@d0000");
    auto ctrl0 = [](unsigned pin) { return (8 * pin + 4) / 4; };
    auto pad0 = [](unsigned pin) { return (0x20004 + 4 * pin) / 4; };
    constexpr unsigned kOut0 = 0x10000 / 4, kOe0 = kOut0 + 1, kIn0 = kOut0 + 2;
    board.write(ctrl0(17), 5);
    board.write(pad0(17), 0x40);
    board.write(kOe0, 1u << 17);
    board.write(kOut0, 1u << 17);
    board.write(ctrl0(18), 3);
    board.write((0x8000 + 8 * 6 + 4) / 4, 7);  // GPIO 40, bank 2's seventh
    board.write(ctrl0(22), 5);
    board.write(pad0(22), 0x48);  // input enabled, pulled up
    board.write(pad0(6), 0xc);    // both pulls
    if (!trapping()) board.set_word(kIn0, 1u << 17 | 1u << 22);
    Outcome o = state({"-p", "17-18", "-p", "22", "-p", "6", "-p", "40-41"});
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_EQ(o.out,
              "GPIO 6: none lo pull keep\nGPIO 17: output hi pull off\nGPIO 18: alt3 lo pull off\n"
              "GPIO 22: input hi pull up\nGPIO 40: alt7 lo pull off\nGPIO 41: none lo pull off\n");
    o = state({"-H"});
    std::vector<std::string> l = lines(o.out);
    ASSERT_EQ(l.size(), 22u) << o.out;
    EXPECT_EQ(l[0], "Raspberry Pi 40-pin header (Pi 5)");
    EXPECT_EQ(l[7], "  17  output    hi      11 | 12   lo     alt3      18");
    EXPECT_EQ(lines(state({}).out).size(), 54u);
}

TEST_F(StateTool, pins_and_ranges_limit_the_list_in_ascending_order)
{
    Outcome o = state({"-p", "SPI_MOSI", "-p", "GPIO27"});
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_EQ(o.out, "GPIO 10: input lo pull unknown\nGPIO 27: input lo pull unknown\n")
        << "pins by line name";
    o = state({"--version"});
    EXPECT_TRUE(o.exited_with(0));
    EXPECT_EQ(o.out.rfind("tavrel-gpio_state ", 0), 0u) << o.out;
    o = state({"-p", "17", "-p", "2-5", "-p", "4"});
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_EQ(o.out,
              "GPIO 2: input lo pull unknown\nGPIO 3: input lo pull unknown\nGPIO 4: input lo pull "
              "unknown\nGPIO 5: "
              "input lo pull unknown\nGPIO 17: input lo pull unknown\n");
    for (const char* bad : {"54", "5-2", "x", "3-", "-1", "2-54", "4x", "99999999999999999999"}) {
        o = state({"-p", bad});
        EXPECT_TRUE(o.exited_with(1)) << bad;
        EXPECT_NE(o.err.find("bad pin '" + std::string(bad) + "'"), std::string::npos) << o.err;
        EXPECT_EQ(o.out, "");
    }
    o = state({"-H", "-p", "4"});
    EXPECT_TRUE(o.exited_with(1));
    EXPECT_NE(o.err.find("Usage:"), std::string::npos);
}

TEST_F(StateTool, header_puts_each_gpio_beside_its_physical_pin)
{
    board.set_fsel(18, 2);
    board.drive(4, true);
    Outcome o = state({"-H"});
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    std::vector<std::string> l = lines(o.out);
    ASSERT_EQ(l.size(), 22u) << o.out;
    EXPECT_EQ(l[1], "GPIO  function  level  pin | pin  level  function  GPIO");
    EXPECT_EQ(l[2], "      3.3V               1 | 2           5V");
    EXPECT_EQ(l[5], "   4  input     hi       7 | 8    lo     input     14");
    EXPECT_EQ(l[7], "  17  input     lo      11 | 12   lo     alt5      18");
    EXPECT_EQ(l[21], "      GND               39 | 40   lo     input     21");
}

TEST_F(StateTool, reads_only_and_puts_nothing_back)
{
    board.fill();
    Registers before = board.all();
    board.clear_trace();
    ASSERT_TRUE(state({}).exited_with(0));
    ASSERT_TRUE(state({"-H"}).exited_with(0));
    EXPECT_EQ(board.all(), before);
    for (const Access& a : board.trace()) EXPECT_EQ(a.kind, 'R') << a;
}

Outcome into_full_disk(const char* tool, std::vector<std::string> args)
{
    return in_child([tool, args] {
        dup2(open("/dev/full", O_WRONLY), 1);
        exec_program(tool, args);
    });
}

TEST(StateAndPullTools, fail_when_access_or_their_output_is_lost)
{
    SimBoard board;
    for (Outcome o : {into_full_disk(TAVREL_STATE_TOOL_PATH, {"-H"}),
                      into_full_disk(TAVREL_PULL_TOOL_PATH, {"-p", "4", "-u"})}) {
        EXPECT_TRUE(o.exited_with(1)) << describe(o.status);
        EXPECT_NE(o.err.find("cannot write the report"), std::string::npos) << o.err;
    }
    board.unplug();
    // The device, its error, and the way out: no tree names a Pi here.
    for (auto [tool, o] : {std::pair{"tavrel-gpio_state", run(TAVREL_STATE_TOOL_PATH, {"-p", "4"})},
                           std::pair{"tavrel-gpio_pull", run(TAVREL_PULL_TOOL_PATH, {"-p", "4", "-n"})}}) {
        EXPECT_TRUE(o.exited_with(1));
        EXPECT_EQ(o.err,
                  std::string(tool) +
                      ": cannot open GPIO access: /dev/gpiomem: No such file or directory (on a machine "
                      "that is not a Raspberry Pi, run the program under tavrel-sim)\n");
    }
}

}  // namespace
