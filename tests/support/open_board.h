// SPDX-License-Identifier: MIT
// Fixtures shared by the test files: the library's access open on a fresh
// board, and tavrel-sim run on one.
#pragma once

#include <string>
#include <vector>

#include "support/process.h"
#include "support/sim_board.h"
#include "tavrel.h"

namespace tavrel_test {

// GPIO access open on a fresh board, its trace cleared.
class OpenBoard : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
        board.clear_trace();
    }
    void TearDown() override { tavrel_gpio_deinit(); }

    SimBoard board;
};
// The operations on many pins at once, and pulls.
class PinsAtOnce : public OpenBoard {};

// tavrel-sim with --board naming a fresh board. It starts host programs,
// so not in cross builds.
class SimOnBoard : public testing::Test {
protected:
    void SetUp() override
    {
#ifdef TAVREL_TEST_EMULATOR
        GTEST_SKIP() << "tavrel-sim starts host programs; it is not for cross builds";
#endif
    }
    Outcome sim(std::vector<std::string> args)
    {
        std::vector<std::string> all = {"--board", board.path()};
        all.insert(all.end(), args.begin(), args.end());
        return run(TAVREL_SIM_PATH, all);
    }
    SimBoard board;
};

}  // namespace tavrel_test
