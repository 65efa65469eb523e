// SPDX-License-Identifier: MIT
// The board file: where boards live, which files are refused, and what a
// corrupt board gets.
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

// ---- where boards live, and which files are refused ------------------
TEST_F(SimSafety, default_board_lives_in_a_private_directory)
{
    Outcome o = sim({"--", TAVREL_TOOL_PATH, "-p", "18", "-f", "5"});
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    struct stat st;
    ASSERT_EQ(lstat((tmp + "/tavrel-sim-" + uid).c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((tmp + "/tavrel-sim-" + uid + "/board").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    std::string runtime = dir + "/run";
    mkdir(runtime.c_str(), 0700);
    o = sim({"--", TAVREL_TOOL_PATH, "-p", "18", "-f", "5"}, runtime);
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_EQ(stat((runtime + "/tavrel-sim.board").c_str(), &st), 0) << "the runtime directory serves first";
}

TEST_F(SimSafety, an_unsafe_default_directory_is_refused_with_its_name)
{
    std::string place = tmp + "/tavrel-sim-" + uid;
    std::string elsewhere = dir + "/elsewhere";
    mkdir(elsewhere.c_str(), 0700);
    ASSERT_EQ(symlink(elsewhere.c_str(), place.c_str()), 0);
    Outcome o = sim({"--", "true"});
    EXPECT_TRUE(o.exited_with(2));
    EXPECT_TRUE(contains(o.err, place + " is not a directory")) << o.err;
    EXPECT_TRUE(contains(o.err, "--board")) << o.err;

    unlink(place.c_str());
    mkdir(place.c_str(), 0777);
    chmod(place.c_str(), 0777);
    o = sim({"--", "true"});
    EXPECT_TRUE(o.exited_with(2));
    EXPECT_TRUE(contains(o.err, place + " is open to group or others")) << o.err;
    rmdir(place.c_str());

    put(place, "");  // a file where the directory should be
    o = sim({"--", "true"});
    EXPECT_TRUE(o.exited_with(2));
    EXPECT_TRUE(contains(o.err, "no safe place for the default board")) << o.err;
}

TEST_F(SimSafety, a_planted_link_is_refused_and_its_target_untouched)
{
    std::string victim = dir + "/victim", board = dir + "/board";
    put(victim, "precious\n");
    ASSERT_EQ(symlink(victim.c_str(), board.c_str()), 0);
    Outcome o = sim_on(board, {"--", "true"});
    EXPECT_TRUE(o.exited_with(2));
    EXPECT_TRUE(contains(o.err, "cannot use the board " + board + ": it is a symbolic link")) << o.err;
    o = sim_on(board, {"--reset", "--", "true"});
    EXPECT_TRUE(o.exited_with(2)) << "--reset does not follow it either";
    EXPECT_EQ(slurp(victim), "precious\n");
}

TEST_F(SimSafety, boards_others_may_write_or_that_are_not_files_are_refused)
{
    std::string board = dir + "/board";
    ASSERT_TRUE(sim_on(board, {"--", "true"}).exited_with(0));
    chmod(board.c_str(), 0620);  // the group alone
    Outcome o = sim_on(board, {"--", "true"});
    EXPECT_TRUE(o.exited_with(2));
    EXPECT_TRUE(contains(o.err, "group or others may write it (mode 0620)")) << o.err;
    chmod(board.c_str(), 0666);
    o = sim_on(board, {"--", "true"});
    EXPECT_TRUE(o.exited_with(2));
    EXPECT_TRUE(contains(o.err, "group or others may write it (mode 0666)")) << o.err;
    EXPECT_TRUE(contains(o.err, "remove it, or name another with --board")) << o.err;

    // The shim refuses it too, for a program run with the board by hand.
    o = in_child([&] {
        setenv(tavrel_sim::kBoardEnv, board.c_str(), 1);
        exec_program(TAVREL_TOOL_PATH, {"-p", "18", "-f", "5"});
    });
    EXPECT_TRUE(o.exited_with(1));
    EXPECT_TRUE(contains(o.err, "tavrel-sim: cannot use the board " + board)) << o.err;

    std::string sub = dir + "/a-directory";
    mkdir(sub.c_str(), 0700);
    o = sim_on(sub, {"--", "true"});
    EXPECT_TRUE(o.exited_with(2));
    EXPECT_TRUE(contains(o.err, sub)) << o.err;
}

TEST_F(SimSafety, another_users_board_is_refused)
{
    if (geteuid() != 0) GTEST_SKIP() << "giving a file to another user takes root";
    std::string board = dir + "/board";
    ASSERT_TRUE(sim_on(board, {"--", "true"}).exited_with(0));
    ASSERT_EQ(chown(board.c_str(), 65534, 65534), 0);
    Outcome o = sim_on(board, {"--", "true"});
    EXPECT_TRUE(o.exited_with(2));
    EXPECT_TRUE(contains(o.err, "it belongs to another user (uid 65534)")) << o.err;
}

// ---- corrupt boards --------------------------------------------------
class SimCorrupt : public SimSafety {
protected:
    void SetUp() override
    {
        SimSafety::SetUp();
        if (IsSkipped()) return;
        board = dir + "/board";
        ASSERT_TRUE(sim_on(board, {"--", TAVREL_TOOL_PATH, "-p", "18", "-f", "5"}).exited_with(0));
    }
    // Overwrites bytes of the board file at `offset`.
    void scribble(off_t offset, const void* bytes, size_t n)
    {
        int fd = open(board.c_str(), O_WRONLY);
        ASSERT_EQ(pwrite(fd, bytes, n, offset), static_cast<ssize_t>(n));
        close(fd);
    }
    void expect_refused_then_cured(const std::string& why)
    {
        Outcome o = sim_on(board, {"--", "true"});
        EXPECT_TRUE(o.exited_with(2)) << describe(o.status);
        EXPECT_TRUE(contains(o.err, why)) << o.err;
        EXPECT_TRUE(contains(o.err, "run with --reset")) << o.err;
        o = sim_on(board, {"--reset", "--changes", "--", TAVREL_TOOL_PATH, "-p", "18", "-f", "5"});
        EXPECT_TRUE(o.exited_with(0)) << o.err;
        EXPECT_TRUE(contains(o.out, "pin 18: input -> alt5")) << "the board was made anew: " << o.out;
    }
    std::string board;
};

TEST_F(SimCorrupt, unknown_magic_is_refused_at_once_and_reset_cures_it)
{
    const uint32_t garbage = 0xDEADBEEF;
    scribble(tavrel_sim::kPageBytes, &garbage, sizeof garbage);
    expect_refused_then_cured("it is not a board of this tavrel-sim (magic 0xdeadbeef)");
}

TEST_F(SimCorrupt, another_layout_version_is_refused)
{
    const uint32_t version = 1;
    scribble(tavrel_sim::kPageBytes + 4, &version, sizeof version);
    expect_refused_then_cured("it is a board of another layout (version 1, not 5)");
}

TEST_F(SimCorrupt, a_board_of_the_wrong_size_is_refused)
{
    ASSERT_EQ(truncate(board.c_str(), 3 * tavrel_sim::kPageBytes), 0);
    expect_refused_then_cured("it is not a board: 12288 bytes");
}

TEST_F(SimCorrupt, a_board_copied_while_its_lock_was_held_is_refused_in_bounded_time)
{
    // Copy the board while this thread holds its lock: the copy's lock has
    // an owner that will never release it.
    int fd = open(board.c_str(), O_RDWR);
    void* map = mmap(nullptr, tavrel_sim::kBoardBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    ASSERT_NE(map, MAP_FAILED);
    auto* state = reinterpret_cast<tavrel_sim::ModelState*>(static_cast<char*>(map) + tavrel_sim::kPageBytes);
    ASSERT_EQ(pthread_mutex_lock(&state->lock), 0);
    std::string copy = dir + "/copy";
    {
        std::ifstream in(board, std::ios::binary);
        std::ofstream out(copy, std::ios::binary);
        out << in.rdbuf();
    }
    chmod(copy.c_str(), 0600);
    pthread_mutex_unlock(&state->lock);
    munmap(map, tavrel_sim::kBoardBytes);
    board = copy;
    expect_refused_then_cured("its lock was not released within 5 s");
}

}  // namespace
