// SPDX-License-Identifier: MIT
// Quitting under load: bursts of signals, and threads driving pins while
// the process quits; each round bounded, every process gone with status 0
// and the pins put back. Not for ThreadSanitizer, under which the bursts
// run out of time.
#include <signal.h>
#include <unistd.h>

#include "support/process.h"
#include "support/sim_board.h"
#include "tavrel.h"

using namespace tavrel_test;

namespace {

class StressQuit : public testing::Test {
protected:
    void SetUp() override
    {
        plain_board_for_exits_under_threads();
        board.set_fsel(5, 0);
        for (unsigned pin = 24; pin <= 27; ++pin) board.set_fsel(pin, 1);
        board.drive_bank(0, 0);
    }
    void TearDown() override { plain_board_end(); }
    void expect_pins_put_back()
    {
        EXPECT_EQ(board.fsel(5), 0u);
        for (unsigned pin = 24; pin <= 27; ++pin) EXPECT_EQ(board.fsel(pin), 1u) << "pin " << pin;
    }
    SimBoard board;
};

TEST_F(StressQuit, two_hundred_bursts_of_mixed_signals_end_with_status_0)
{
    int signals = 0;
    for (int round = 0; round < 200; ++round) {
        Child child(TAVREL_QUIT_APP, {"listen", "1"});
        ASSERT_EQ(child.line(), "ready\n");
        for (int i = 0; i < 10; ++i, ++signals) child.signal((i + round) % 3 ? SIGTERM : SIGINT);
        int status = child.wait();
        ASSERT_TRUE(exited_with(status, 0)) << "round " << round << ": " << describe(status);
    }
    expect_pins_put_back();
    RecordProperty("signals", signals);
}

TEST_F(StressQuit, quits_while_four_threads_drive_pins_end_with_status_0)
{
    for (int round = 0; round < 60; ++round) {
        board.drive_bank(0, 0);
        Child child(TAVREL_QUIT_APP, {"listen", "4"});
        ASSERT_EQ(child.line(), "ready\n");
        usleep(1000);
        int status = -1;
        if (round % 3 == 0) {
            // The pattern, shown until the listener has taken both samples.
            for (int i = 0; i < 500 && status == -1; ++i) {
                board.drive_bank(0, 0);
                usleep(2000);
                board.drive_bank(0, 0xFu << 24);
                usleep(2000);
                status = child.wait(0);
            }
            if (status == -1) status = child.wait();
        } else {
            child.signal(round % 3 == 1 ? SIGTERM : SIGINT);
            status = child.wait();
        }
        ASSERT_TRUE(exited_with(status, 0)) << "round " << round << ": " << describe(status);
        expect_pins_put_back();
    }
}

}  // namespace
