// SPDX-License-Identifier: MIT
// The board's journal, replayed through the model, ends where the board
// itself ends, whoever changed the pins: programs, drives, a reset.
#include "report/replay.h"
#include "support/process.h"
#include "support/sim_board.h"
#include "tavrel.h"

using namespace tavrel_test;
using namespace tavrel_sim;

namespace {

void expect_same(const PinSnapshot& replayed, const PinSnapshot& actual)
{
    for (unsigned p = 0; p < kFselPins; ++p) {
        EXPECT_EQ(replayed.fsel[p], actual.fsel[p]) << "pin " << p;
        EXPECT_EQ(replayed.pull[p], actual.pull[p]) << "pin " << p;
        EXPECT_EQ(replayed.level[p], actual.level[p]) << "pin " << p;
        EXPECT_EQ(replayed.driving[p], actual.driving[p]) << "pin " << p;
    }
}

TEST(Replay, a_replayed_journal_ends_in_the_state_the_board_ends_in)
{
    REQUIRE_TRAPPING();
    SimBoard board;
    Board live;
    ASSERT_TRUE(live.open(board.path().c_str())) << live.refusal();
    board.set_fsel(40, 1);  // a bank-1 output, latched below
    BoardState start;
    uint64_t next = live.snapshot(&start);
    auto drive = [&](unsigned pin, Drive d) {
        uint32_t mask[2] = {};
        mask[pin / 32] = 1u << (pin % 32);
        live.drive_pins(mask, d);
    };
    drive(22, Drive::kHigh);
    drive(45, Drive::kLow);
    ASSERT_TRUE(run(TAVREL_QUIT_APP, {"bytes"}).exited_with(0));
    ASSERT_TRUE(run(TAVREL_PULL_TOOL_PATH, {"-p", "22", "-d"}).exited_with(0));
    ASSERT_TRUE(run(TAVREL_PULL_TOOL_PATH, {"-p", "45", "-u"}).exited_with(0));
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    tavrel_gpio_set_val(40, 1);
    tavrel_gpio_deinit();
    drive(22, Drive::kRelease);  // now reads its pull-down
    ASSERT_TRUE(run(TAVREL_TOOL_PATH, {"-p", "13", "-f", "3"}).exited_with(0));

    Replay replay(start);
    JournalEntry batch[64];
    uint64_t lost = 0;
    while (unsigned n = live.read_journal(&next, batch, 64, &lost))
        for (unsigned i = 0; i < n; ++i) replay.apply(batch[i]);
    EXPECT_EQ(lost, 0u);
    PinSnapshot actual = board_snapshot(live);
    expect_same(replay.snapshot(), actual);
    // Not a comparison of two unchanged boards.
    EXPECT_EQ(actual.fsel[4], 1u);
    EXPECT_EQ(actual.fsel[13], 7u) << "alt3";
    EXPECT_EQ(actual.pull[22], kPullDown);
    EXPECT_EQ(actual.pull[45], kPullUp);
    EXPECT_FALSE(actual.level[22]);
    EXPECT_FALSE(actual.level[45]) << "still driven low over its pull-up";
    EXPECT_TRUE(actual.level[40]);

    // A reset, replayed, clears everything.
    live.clear();
    while (unsigned n = live.read_journal(&next, batch, 64, &lost))
        for (unsigned i = 0; i < n; ++i) replay.apply(batch[i]);
    expect_same(replay.snapshot(), board_snapshot(live));
}

TEST(Replay, a_reader_that_falls_behind_counts_what_it_lost)
{
    SimBoard board;
    Board live;
    ASSERT_TRUE(live.open(board.path().c_str())) << live.refusal();
    BoardState start;
    uint64_t next = live.snapshot(&start);
    uint32_t pin[2] = {1u << 4, 0};
    for (unsigned i = 0; i < kJournalEntries + 10; ++i)
        live.drive_pins(pin, i % 2 ? Drive::kHigh : Drive::kLow);
    JournalEntry batch[64];
    uint64_t lost = 0, read = 0;
    while (unsigned n = live.read_journal(&next, batch, 64, &lost)) read += n;
    EXPECT_EQ(lost, 10u);
    EXPECT_EQ(read, kJournalEntries);
}

}  // namespace
