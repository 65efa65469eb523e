// SPDX-License-Identifier: MIT
// The replay behind --vcd and --changes: replayed from the trace and the
// drives, a run ends where the board itself ended.
#include "report/replay.h"
#include "support/process.h"
#include "support/sim_board.h"
#include "tavrel.h"

using namespace tavrel_test;
using namespace tavrel_sim;

namespace {

TEST(Replay, a_replayed_run_ends_in_the_state_the_board_ends_in)
{
    REQUIRE_TRAPPING();
    SimBoard board;
    Board live;
    ASSERT_TRUE(live.open(board.path().c_str())) << live.refusal();
    board.set_fsel(40, 1);  // a bank-1 output, latched below
    const BoardStart start = board_start(live);
    std::vector<DriveEvent> drives;
    auto drive = [&](unsigned pin, Drive d) {
        uint32_t mask[2] = {};
        mask[pin / 32] = 1u << (pin % 32);
        live.drive_pins(mask, d);
        drives.push_back({monotonic_ns(), pin, d});
    };
    drive(22, Drive::kHigh);
    drive(45, Drive::kLow);
    ASSERT_TRUE(run(TAVREL_QUIT_APP, {"bytes"}).exited_with(0));
    ASSERT_TRUE(run(TAVREL_PULL_TOOL_PATH, {"-p", "22", "-d"}).exited_with(0));
    ASSERT_TRUE(run(TAVREL_PULL_TOOL_PATH, {"-p", "45", "-u"}).exited_with(0));
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);  // traced as the programs are
    tavrel_gpio_set_val(40, 1);
    tavrel_gpio_deinit();
    drive(22, Drive::kRelease);  // now reads its pull-down
    ASSERT_TRUE(run(TAVREL_TOOL_PATH, {"-p", "13", "-f", "3"}).exited_with(0));
    Replay replay(start);
    for (const Step& step : steps_of(board.records(), drives)) replay.apply(step);
    PinSnapshot replayed = replay.snapshot(), actual = board_snapshot(live);
    for (unsigned p = 0; p < kFselPins; ++p) {
        EXPECT_EQ(replayed.fsel[p], actual.fsel[p]) << "pin " << p;
        EXPECT_EQ(replayed.pull[p], actual.pull[p]) << "pin " << p;
        EXPECT_EQ(replayed.level[p], actual.level[p]) << "pin " << p;
    }
    // Not a comparison of two unchanged boards.
    EXPECT_EQ(actual.fsel[4], 1u);
    EXPECT_EQ(actual.fsel[13], 7u) << "alt3";
    EXPECT_EQ(actual.pull[22], kPullDown);
    EXPECT_EQ(actual.pull[45], kPullUp);
    EXPECT_FALSE(actual.level[22]);
    EXPECT_FALSE(actual.level[45]) << "still driven low over its pull-up";
    EXPECT_TRUE(actual.level[40]);
}

}  // namespace
