// SPDX-License-Identifier: MIT
// The simulated board harms nothing and hangs nothing: it refuses unsafe
// and corrupt boards, never writes where it should not, passes signals on,
// reports lost output, and runs the programs a real board runs.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <pty.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/process.h"
#include "support/sim_board.h"

using namespace tavrel_test;
using tavrel_sim::Board;

namespace {

std::string slurp(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void put(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
}

bool contains(const std::string& s, const std::string& part)
{
    return s.find(part) != std::string::npos;
}

// A scratch directory, and tavrel-sim run with it as TMPDIR and without a
// runtime directory unless a test gives one.
class SimSafety : public testing::Test {
protected:
    void SetUp() override
    {
#ifdef TAVREL_TEST_EMULATOR
        GTEST_SKIP() << "tavrel-sim starts host programs; it is not for cross builds";
#endif
        char tmpl[] = "/tmp/tavrel-safety-XXXXXX";
        dir = mkdtemp(tmpl);
        tmp = dir + "/tmp";
        mkdir(tmp.c_str(), 0700);
    }
    void TearDown() override
    {
        if (!dir.empty()) (void)!system(("rm -rf '" + dir + "'").c_str());
    }

    Outcome sim(std::vector<std::string> args, const std::string& runtime = "")
    {
        return in_child([&] {
            setenv("TMPDIR", tmp.c_str(), 1);
            if (runtime.empty())
                unsetenv("XDG_RUNTIME_DIR");
            else
                setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
            unsetenv(tavrel_sim::kTraceEnv);
            exec_program(TAVREL_SIM_PATH, args);
        });
    }
    Outcome sim_on(const std::string& board, std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--board", board});
        return sim(args);
    }
    // What is left in the scratch TMPDIR but the default board's directory.
    std::vector<std::string> leftovers()
    {
        std::vector<std::string> names;
        DIR* d = opendir(tmp.c_str());
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != ".." && n != "tavrel-sim-" + uid) names.push_back(n);
        }
        closedir(d);
        return names;
    }

    std::string dir, tmp;
    const std::string uid = std::to_string(geteuid());
};

// ---- where boards live, and which files are refused ---------------------

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
    chmod(board.c_str(), 0666);
    Outcome o = sim_on(board, {"--", "true"});
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

// ---- corrupt boards ---------------------------------------------------

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
    expect_refused_then_cured("it is a board of another layout (version 1, not 2)");
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

// ---- the mapping is the device's ----------------------------------------

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

// ---- the trace stays out of the program's files -------------------------

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

// ---- interruption -------------------------------------------------------

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

// ---- lost output fails the run ------------------------------------------

TEST_F(SimSafety, a_trace_cut_short_by_a_full_disk_fails_and_leaves_no_dump)
{
    // A file size limit stands in for a full disk: writes past 16 KiB fail.
    std::string vcd = dir + "/run.vcd";
    Outcome o = in_child([&] {
        struct rlimit lim = {16384, 16384};
        setrlimit(RLIMIT_FSIZE, &lim);
        signal(SIGXFSZ, SIG_IGN);
        setenv("TMPDIR", tmp.c_str(), 1);
        exec_program(TAVREL_SIM_PATH, {"--board", dir + "/board", "--vcd", vcd, "--",
                                       TAVREL_EXAMPLES_DIR "/tavrel-example-counter", "256"});
    });
    EXPECT_TRUE(o.exited_with(2)) << describe(o.status);
    EXPECT_TRUE(contains(o.err, "trace records could not be written")) << o.err;
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

// ---- what the real board runs, the simulator runs -----------------------

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

// ---- one drive entry changes its pins at once ----------------------------

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
