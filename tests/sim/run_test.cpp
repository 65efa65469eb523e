// SPDX-License-Identifier: MIT
// A run under tavrel-sim harms nothing and hangs nothing: its waveforms
// are written safely, signals pass on, lost output fails the run, and a
// drive entry changes its pins at once.
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

// ---- waveforms -------------------------------------------------------
TEST_F(SimSafety, waveforms_are_written_exclusively_and_never_through_a_link)
{
    std::string board = dir + "/board", vcd = dir + "/run.vcd", victim = dir + "/victim";
    put(victim, "precious\n");
    ASSERT_EQ(symlink(victim.c_str(), (vcd + ".part").c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), vcd.c_str()), 0);
    Outcome o = sim_on(board, {"--vcd", vcd, "--", TAVREL_TOOL_PATH, "-p", "18", "-f", "5"});
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_EQ(slurp(victim), "precious\n");
    struct stat st;
    ASSERT_EQ(lstat(vcd.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "the dump replaced the link, not its target";
    EXPECT_TRUE(contains(slurp(vcd), "$enddefinitions"));
}

TEST_F(SimSafety, output_paths_that_cannot_work_are_refused_before_the_command_runs)
{
    std::string board = dir + "/board", vcd = dir + "/run.vcd";
    ASSERT_TRUE(sim_on(board, {"--reset", "--", "true"}).exited_with(0));
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--vcd", vcd, "--gtkw", vcd}, "--vcd and --gtkw name the same file"},
        {{"--vcd", vcd, "--gtkw", dir + "/./run.vcd"}, "--vcd and --gtkw name the same file"},
        {{"--vcd", dir}, "--vcd names a directory"},
        {{"--vcd", vcd, "--gtkw", tmp}, "--gtkw names a directory"},
        {{"--vcd", board}, "--vcd names the board file"},
        {{"--vcd", dir + "/../" + dir.substr(dir.rfind('/') + 1) + "/board"}, "--vcd names the board file"},
        {{"--vcd", vcd, "--svg", dir + "/./run.vcd"}, "--vcd and --svg name the same file"},
        {{"--svg", board}, "--svg names the board file"},
        {{"--svg", dir}, "--svg names a directory"},
        {{"--plain", "--svg", dir + "/run.svg"}, "--svg needs the device model"},
    };
    for (Case& c : cases) {
        c.args.insert(c.args.end(), {"--", TAVREL_TOOL_PATH, "-p", "18", "-f", "5"});
        Outcome o = sim_on(board, c.args);
        EXPECT_TRUE(o.exited_with(2)) << c.message;
        EXPECT_TRUE(contains(o.err, c.message)) << o.err;
        EXPECT_EQ(o.out, "") << c.message << ": the command did not run";
    }
    Outcome o = sim_on(board, {"--pins"});
    ASSERT_TRUE(o.exited_with(0)) << "the board is whole: " << o.err;
    EXPECT_TRUE(contains(o.out, " 18  input ")) << o.out;
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(SimSafety, a_waveform_path_with_a_quote_is_written_and_its_save_file_stays_well_formed)
{
    std::string board = dir + "/board", vcd = dir + "/my \"run\".vcd", gtkw = dir + "/run.gtkw";
    Outcome o = sim_on(board, {"--vcd", vcd, "--gtkw", gtkw, "--", TAVREL_TOOL_PATH, "-p", "18", "-f", "5"});
    if (contains(o.err, "cannot find GTKWave's filters")) GTEST_SKIP() << o.err;
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_TRUE(contains(slurp(vcd), "$enddefinitions"));
    std::string save = slurp(gtkw);
    EXPECT_FALSE(contains(save, "[dumpfile]")) << save;
    EXPECT_TRUE(contains(save, "gpio.gpio18")) << save;
}

TEST_F(SimSafety, changes_and_the_waveform_keep_no_trace_of_every_access)
{
    // What the command sees in TMPDIR while it runs.
    Outcome o =
        sim_on(dir + "/board", {"--changes", "--vcd", dir + "/run.vcd", "--", "sh", "-c", "ls \"$TMPDIR\""});
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_FALSE(contains(o.out, "tavrel-sim-trace")) << o.out;
    EXPECT_TRUE(contains(o.out, "tavrel-sim-waveform")) << "the dump's changes, as they come: " << o.out;
    o = sim_on(dir + "/board", {"--trace", "--", "sh", "-c", "ls \"$TMPDIR\""});
    EXPECT_TRUE(contains(o.out, "tavrel-sim-trace")) << "--trace keeps one: " << o.out;
    EXPECT_TRUE(leftovers().empty());
}

// ---- interruption ----------------------------------------------------
TEST_F(SimSafety, sigterm_reaches_the_command_and_the_outputs_are_still_written)
{
    std::string vcd = dir + "/run.vcd";
    Child sim_run(TAVREL_SIM_PATH,
                  {"--board", dir + "/board", "--reset", "--changes", "--vcd", vcd, "--", "/bin/sh", "-c",
                   "trap 'exit 3' TERM; " TAVREL_TOOL_PATH " -p 17 -o >/dev/null; echo ready; "
                   "while :; do sleep 0.01; done"});
    ASSERT_EQ(sim_run.line(), "ready\n");
    sim_run.signal(SIGTERM);
    std::string rest;
    for (std::string l; !(l = sim_run.line()).empty();) rest += l;
    int status = sim_run.wait();
    EXPECT_TRUE(exited_with(status, 3)) << describe(status) << "; the command's own status";
    EXPECT_EQ(rest, "pin 17: input -> output\n");
    EXPECT_TRUE(contains(slurp(vcd), "$enddefinitions"));
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(SimSafety, ctrl_c_in_a_terminal_reaches_the_command_once)
{
    // tavrel-sim and the command share the terminal's foreground group, as
    // in a shell: Ctrl-C reaches both, and must not be passed on again.
    std::string stop = dir + "/stop";
    int master;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        exec_program(TAVREL_SIM_PATH, {"--board", dir + "/board", "--", "/bin/sh", "-c",
                                       "n=0; trap 'n=$((n+1)); echo int $n' INT; echo ready; "
                                       "while [ ! -e " +
                                           stop + " ]; do sleep 0.01; done; exit $n"});
    }
    std::string seen;
    auto wait_for = [&](const std::string& what) {
        char buf[256];
        while (!contains(seen, what)) {
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0 && errno != EINTR) break;
            if (n > 0) seen.append(buf, static_cast<size_t>(n));
        }
        return contains(seen, what);
    };
    ASSERT_TRUE(wait_for("ready")) << seen;
    ASSERT_EQ(write(master, "\x03", 1), 1);
    EXPECT_TRUE(wait_for("int 1")) << seen;
    put(stop, "");
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    close(master);
    EXPECT_TRUE(exited_with(status, 1)) << describe(status) << ": the command counted its SIGINTs\n" << seen;
}

TEST_F(SimSafety, a_command_killed_by_a_signal_ends_tavrel_sim_by_the_same_signal)
{
    Child sim_run(TAVREL_SIM_PATH, {"--board", dir + "/board", "--trace", "--", "/bin/sh", "-c",
                                    "echo ready; while :; do sleep 0.01; done"});
    ASSERT_EQ(sim_run.line(), "ready\n");
    sim_run.signal(SIGINT);  // sent to tavrel-sim alone, as kill does
    int status = sim_run.wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << describe(status);
    EXPECT_TRUE(leftovers().empty()) << "the trace file is gone";
}

TEST_F(SimSafety, no_scratch_file_outlives_a_run_however_it_ends)
{
    std::string board = dir + "/board";
    sim_on(board, {"--trace", "--vcd", dir + "/a.vcd", "--", "true"});
    sim_on(board, {"--trace", "--vcd", dir + "/b.vcd", "--", "/nonexistent/program"});
    sim_on(board, {"--trace", "--vcd", dir + "/c.vcd", "--", "/bin/sh", "-c", "kill -KILL $$"});
    sim_on(board, {"--trace", "--vcd", dir + "/missing/d.vcd", "--", "true"});
    EXPECT_TRUE(leftovers().empty());
    DIR* d = opendir(dir.c_str());
    while (dirent* e = readdir(d)) EXPECT_FALSE(contains(e->d_name, ".part")) << e->d_name;
    closedir(d);
}

// ---- lost output fails the run ---------------------------------------
TEST_F(SimSafety, a_trace_or_waveform_cut_short_by_a_full_disk_fails_and_leaves_no_dump)
{
    // A file size limit stands in for a full disk. The board, larger, is
    // made first.
    std::string vcd = dir + "/run.vcd";
    ASSERT_TRUE(sim_on(dir + "/board", {"--", "true"}).exited_with(0));
    auto limited = [&](rlim_t bytes, std::vector<std::string> options) {
        return in_child([&] {
            struct rlimit lim = {bytes, bytes};
            setrlimit(RLIMIT_FSIZE, &lim);
            signal(SIGXFSZ, SIG_IGN);
            setenv("TMPDIR", tmp.c_str(), 1);
            std::vector<std::string> args = {"--board", dir + "/board"};
            args.insert(args.end(), options.begin(), options.end());
            args.insert(args.end(), {"--", TAVREL_EXAMPLES_DIR "/tavrel-example-counter", "256"});
            exec_program(TAVREL_SIM_PATH, args);
        });
    };
    Outcome o = limited(16384, {"--trace", "--vcd", vcd});
    EXPECT_TRUE(o.exited_with(2)) << describe(o.status);
    EXPECT_TRUE(contains(o.err, "trace records could not be written")) << o.err;
    EXPECT_NE(access(vcd.c_str(), F_OK), 0) << "no partial dump under the final name";
    EXPECT_TRUE(leftovers().empty());

    o = limited(2048, {"--vcd", vcd});
    EXPECT_TRUE(o.exited_with(2)) << describe(o.status);
    EXPECT_TRUE(contains(o.err, "cannot write")) << o.err;
    EXPECT_NE(access(vcd.c_str(), F_OK), 0) << "no partial dump under the final name";
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(SimSafety, an_output_that_cannot_be_written_fails_the_run)
{
    Outcome o = in_child([&] {
        int full = open("/dev/full", O_WRONLY);
        dup2(full, 1);
        exec_program(TAVREL_SIM_PATH, {"--board", dir + "/board", "--trace", "--pins", "--", "true"});
    });
    EXPECT_TRUE(o.exited_with(2)) << describe(o.status);
    EXPECT_TRUE(contains(o.err, "cannot write the standard output")) << o.err;
}

// ---- one drive entry changes its pins at once ------------------------
TEST(SimDrive, an_entry_drives_all_its_pins_in_one_step)
{
    SimBoard sim_board;
    Board board;
    ASSERT_TRUE(board.open(sim_board.path().c_str())) << board.refusal();
    const uint32_t pattern[2] = {0xFu << 24, 0};
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        Board view;
        if (!view.open(sim_board.path().c_str())) return;
        while (!stop.load()) {
            uint32_t pins = view.read(tavrel_sim::GPLEV0) & pattern[0];
            if (pins != 0 && pins != pattern[0]) ++torn;
        }
    });
    for (int i = 0; i < 20000; ++i)
        board.drive_pins(pattern, i & 1 ? tavrel_sim::Drive::kHigh : tavrel_sim::Drive::kLow);
    stop.store(true);
    reader.join();
    EXPECT_EQ(torn.load(), 0) << "a reader saw some of pins 24 to 27 changed and others not";
}

}  // namespace
