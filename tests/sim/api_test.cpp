// SPDX-License-Identifier: MIT
// The simulated board's API for users' tests: its errors, time limits and
// reset, against the same board the library under test uses.
#include <errno.h>
#include <unistd.h>

#include "support/sim_board.h"
#include "tavrel.h"
#include "tavrel_simboard.h"

using namespace tavrel_test;

namespace {

class SimBoardApi : public testing::Test {
protected:
    void SetUp() override
    {
        api = tavrel_simboard_open(board.path().c_str(), why, sizeof why);
        ASSERT_NE(api, nullptr) << why;
    }
    void TearDown() override { tavrel_simboard_close(api); }

    SimBoard board;
    tavrel_simboard* api = nullptr;
    char why[512] = {};
};

TEST_F(SimBoardApi, sees_what_the_library_does_and_drives_what_it_reads)
{
    REQUIRE_TRAPPING();  // a plain block bypasses the model the API reads
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    tavrel_gpio_config_io(17, 1);
    tavrel_gpio_set_val(17, 1);
    tavrel_gpio_set_pull(4, TAVREL_PULL_UP);
    EXPECT_EQ(tavrel_simboard_function(api, 17), 1);
    EXPECT_EQ(tavrel_simboard_level(api, 17), 1);
    EXPECT_EQ(tavrel_simboard_pull(api, 4), 2);
    EXPECT_EQ(tavrel_simboard_drive(api, 4, 0), 0);
    EXPECT_EQ(tavrel_gpio_get_val(4), 0);
    EXPECT_EQ(tavrel_simboard_release(api, 4), 0);
    EXPECT_EQ(tavrel_gpio_get_val(4), 1) << "back to its pull-up";
    EXPECT_EQ(tavrel_simboard_wait_level(api, 17, 1, 0), 0) << "already there";
    tavrel_gpio_deinit();
    EXPECT_EQ(tavrel_simboard_reset(api), 0);
    EXPECT_EQ(tavrel_simboard_level(api, 17), 0);
    EXPECT_EQ(tavrel_simboard_pull(api, 4), 0);
}

TEST_F(SimBoardApi, waits_end_at_their_limit_and_bad_arguments_fail)
{
    errno = 0;
    EXPECT_EQ(tavrel_simboard_wait_level(api, 17, 1, 30), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_EQ(tavrel_simboard_wait_function(api, 17, 1, 30), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    for (int32_t pin : {-1, 54, 60}) {
        errno = 0;
        EXPECT_EQ(tavrel_simboard_level(api, pin), -1);
        EXPECT_EQ(tavrel_simboard_drive(api, pin, 1), -1);
        EXPECT_EQ(errno, EINVAL);
    }
    errno = 0;
    EXPECT_EQ(tavrel_simboard_drive(api, 4, 2), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(tavrel_simboard_wait_function(api, 4, 8, 0), -1);
    EXPECT_EQ(tavrel_simboard_wait_function(api, 4, -1, 0), -1);
    // Every code names a function, alt3 (7) and input (0) at the ends.
    for (int32_t code = 0; code < 8; ++code) {
        board.set_fsel(4, static_cast<unsigned>(code));
        EXPECT_EQ(tavrel_simboard_wait_function(api, 4, code, 0), 0) << code;
    }
    // Pins 54 to 57 are the BCM2711's.
    EXPECT_EQ(tavrel_simboard_soc(api), TAVREL_SIMBOARD_BCM2835);
    errno = 0;
    EXPECT_EQ(tavrel_simboard_set_soc(api, 2713), -1);
    EXPECT_EQ(errno, EINVAL);
    ASSERT_EQ(tavrel_simboard_set_soc(api, TAVREL_SIMBOARD_BCM2711), 0);
    EXPECT_EQ(tavrel_simboard_soc(api), TAVREL_SIMBOARD_BCM2711);
    EXPECT_EQ(tavrel_simboard_function(api, 4), 0) << "made anew";
    EXPECT_EQ(tavrel_simboard_drive(api, 57, 1), 0);
    EXPECT_EQ(tavrel_simboard_level(api, 57), 1);
    EXPECT_EQ(tavrel_simboard_level(api, 58), -1);
    // The Pi 5's RP1: 54 GPIOs, none with a function after reset.
    ASSERT_EQ(tavrel_simboard_set_soc(api, TAVREL_SIMBOARD_BCM2712), 0);
    EXPECT_EQ(tavrel_simboard_soc(api), TAVREL_SIMBOARD_BCM2712);
    EXPECT_EQ(tavrel_simboard_function(api, 4), TAVREL_SIMBOARD_NO_FUNCTION);
    EXPECT_EQ(tavrel_simboard_wait_function(api, 53, TAVREL_SIMBOARD_NO_FUNCTION, 0), 0);
    EXPECT_EQ(tavrel_simboard_drive(api, 53, 1), 0);
    EXPECT_EQ(tavrel_simboard_level(api, 53), 1);
    EXPECT_EQ(tavrel_simboard_level(api, 54), -1);
}

TEST(SimBoardApiOpen, refuses_what_tavrel_sim_refuses_and_says_why)
{
    SimBoard board;
    std::string link = board.path() + ".link";
    ASSERT_EQ(symlink(board.path().c_str(), link.c_str()), 0);
    char why[512] = {};
    EXPECT_EQ(tavrel_simboard_open(link.c_str(), why, sizeof why), nullptr);
    EXPECT_EQ(std::string(why), link + ": it is a symbolic link");
    unlink(link.c_str());
    tavrel_simboard_close(nullptr);
}

}  // namespace
