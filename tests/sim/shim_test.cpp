// SPDX-License-Identifier: MIT
// The preloaded shim: the block maps as the device does, the trace stays
// out of the program's files, and the programs a real board runs run.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <pty.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <thread>

#include "support/sim_scratch.h"
#include "support/text.h"

using namespace tavrel_test;
using tavrel_sim::Board;

namespace {

// ---- the mapping is the device's -------------------------------------
TEST_F(SimSafety, the_block_maps_only_as_the_device_does)
{
    Outcome o = sim_on(dir + "/board", {"--", TAVREL_SIM_APP, "map"});
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_EQ(o.out,
              "offset 4096: Invalid argument\n"
              "length 8192: Invalid argument\n"
              "read-only, writable map: Permission denied\n"
              "read-only, read map: mapped\n"
              "one page: mapped\n");
}

// ---- the trace stays out of the program's files ----------------------
TEST_F(SimSafety, trace_never_lands_in_a_file_the_program_opened_after_closing_everything)
{
    std::string log = dir + "/app.log";
    Outcome o = sim_on(dir + "/board", {"--trace", "--", TAVREL_SIM_APP, "close-all", log});
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_EQ(slurp(log), "log\nlog\nlog\nlog\n") << "only the program's own lines";
    size_t sets = 0;
    for (size_t at = 0; (at = o.out.find("GPSET0", at)) != std::string::npos; ++at) ++sets;
    size_t clears = 0;
    for (size_t at = 0; (at = o.out.find("GPCLR0", at)) != std::string::npos; ++at) ++clears;
    EXPECT_EQ(sets, 2u) << "the accesses after the descriptors changed are traced:\n" << o.out;
    EXPECT_EQ(clears, 2u) << o.out;
}

// ---- what the real board runs, the simulator runs --------------------
TEST_F(SimSafety, a_program_that_blocks_every_signal_still_reaches_the_block)
{
    Outcome o = sim_on(dir + "/board", {"--", TAVREL_SIM_APP, "block-all"});
    EXPECT_TRUE(o.exited_with(0)) << describe(o.status) << o.err;
    EXPECT_EQ(o.out, "pin 17 1\n");
}

TEST_F(SimSafety, a_sigsegv_handler_set_after_opening_gets_only_its_own_faults)
{
    Outcome o = sim_on(dir + "/board", {"--", TAVREL_SIM_APP, "segv-handler"});
    EXPECT_TRUE(o.exited_with(3)) << describe(o.status) << o.err;
    EXPECT_EQ(o.out, "handler kept\npin 17 1\nown fault\n");
}

TEST_F(SimSafety, a_program_with_one_free_descriptor_opens)
{
    Outcome o = sim_on(dir + "/board", {"--", TAVREL_SIM_APP, "one-fd"});
    EXPECT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_EQ(o.out, "init 0\npin 17 1\n");
}

TEST_F(SimSafety, long_and_relative_board_paths_name_one_board)
{
    std::string deep = dir;
    while (deep.size() < 700) {
        deep += "/a-rather-long-directory-name";
        mkdir(deep.c_str(), 0700);
    }
    Outcome o = sim_on(deep + "/board", {"--changes", "--", TAVREL_TOOL_PATH, "-p", "18", "-f", "5"});
    EXPECT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_TRUE(contains(o.out, "pin 18: input -> alt5")) << o.out;

    // A relative --board, and a command that changes directory first.
    mkdir((dir + "/elsewhere").c_str(), 0700);
    o = in_child([&] {
        if (chdir(dir.c_str()) != 0) _exit(9);
        exec_program(TAVREL_SIM_PATH, {"--board", "rel.board", "--changes", "--", TAVREL_SIM_APP, "chdir",
                                       dir + "/elsewhere"});
    });
    EXPECT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_EQ(o.out, "pin 18 mode 2\npin 18: input -> alt5\n");
    EXPECT_NE(access((dir + "/elsewhere/rel.board").c_str(), F_OK), 0) << "no second board";
}

// ---- a program's own signal handlers, as on the device --------------------

TEST(ProgramHandlers, touch_the_block_whatever_path_the_signal_took)
{
    SimBoard board;
    Outcome o = run(TAVREL_SIM_APP, {"segv-touches"});
    EXPECT_TRUE(o.exited_with(3)) << "its fault handler ran, touched the block and left: "
                                  << describe(o.status) << o.err;
    EXPECT_EQ(board.latch(0) & (1u << 17), 0u) << "it turned the output off";

    o = run(TAVREL_SIM_APP, {"longjmp"});
    EXPECT_TRUE(o.exited_with(0)) << describe(o.status) << o.err;
    EXPECT_EQ(o.out, "pin 17 1\nSIGTERM open, SIGINT open\npin 17 0\n") << "longjmp left the mask it would";

    o = run(TAVREL_SIM_APP, {"sigsuspend"});
    EXPECT_TRUE(o.exited_with(0)) << describe(o.status) << o.err;
    EXPECT_EQ(o.out, "ticks 3, pin 17 0\n");

    o = run(TAVREL_SIM_APP, {"altstack"});
    EXPECT_TRUE(o.exited_with(0)) << "a 4 KiB alternate stack held: " << describe(o.status) << o.err;
    EXPECT_EQ(o.out, "own stack, pin 17 1\n") << "the program sees its own stack";
}

}  // namespace
