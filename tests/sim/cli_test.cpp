// SPDX-License-Identifier: MIT
// tavrel-sim as a black box: it runs a command against the board file,
// drives inputs on a schedule, and reports the trace and the pins.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>

#include "support/open_board.h"

using namespace tavrel_test;

namespace {

class Sim : public SimOnBoard {};

TEST_F(Sim, passes_the_command_status_through)
{
    EXPECT_TRUE(sim({"--", "/bin/sh", "-c", "exit 7"}).exited_with(7));
    Outcome killed = sim({"--", "/bin/sh", "-c", "kill -TERM $$"});
    EXPECT_TRUE(WIFSIGNALED(killed.status) && WTERMSIG(killed.status) == SIGTERM)
        << "ends as the command did";
    Outcome o = sim({"--", "/nonexistent/program"});
    EXPECT_TRUE(o.exited_with(127));
    EXPECT_NE(o.err.find("cannot run /nonexistent/program"), std::string::npos) << o.err;
}

TEST_F(Sim, trace_and_changes_show_what_the_tool_did)
{
    REQUIRE_TRAPPING();
    Outcome o = sim({"--trace", "--changes", "--", TAVREL_TOOL_PATH, "-p", "18", "-f", "5"});
    EXPECT_TRUE(o.exited_with(0)) << o.err;
    std::string expected_tail =
        "read  GPFSEL0   0x00000000\n"
        "read  GPFSEL1   0x00000000\n"
        "read  GPFSEL2   0x00000000\n"
        "read  GPLEV0    0x00000000\n"
        "read  GPFSEL1   0x00000000\n"
        "write GPFSEL1   0x02000000\n"
        "pin 18: input -> alt5\n";
    std::string out = o.out;
    // Drop the pid/tid column of each trace line.
    std::string stripped;
    for (size_t pos = 0; pos < out.size();) {
        size_t end = out.find('\n', pos);
        std::string line = out.substr(pos, end - pos);
        size_t space = line.find(' ');
        stripped += (line.find('/') < space ? line.substr(space + 1) : line) + "\n";
        pos = end + 1;
    }
    EXPECT_EQ(stripped, "Set pin 18 to alternative-function 5\n" + expected_tail);
}

TEST_F(Sim, board_keeps_its_state_between_runs_until_reset)
{
    ASSERT_TRUE(sim({"--", TAVREL_TOOL_PATH, "-p", "17", "-o"}).exited_with(0));
    Outcome o = sim({"--changes", "--", TAVREL_TOOL_PATH, "-p", "17", "-i"});
    EXPECT_NE(o.out.find("pin 17: output -> input\n"), std::string::npos) << o.out;
    ASSERT_TRUE(sim({"--", TAVREL_TOOL_PATH, "-p", "17", "-o"}).exited_with(0));
    o = sim({"--reset", "--changes", "--", "true"});
    EXPECT_NE(o.out.find("no pin changed"), std::string::npos) << o.out;
    EXPECT_EQ(board.fsel(17), 0u);
}

TEST_F(Sim, pin_table_lists_pins_0_to_53)
{
    board.set_fsel(4, 4);
    board.drive(5, true);
    board.write(GPPUD, 1);
    board.write(GPPUDCLK1, 1u << 21);
    Outcome o = sim({"--pins", "--", "true"});
    EXPECT_NE(o.out.find("pin  function  level  pull\n"), std::string::npos);
    EXPECT_NE(o.out.find("\n  4  alt0      0      off\n"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("\n  5  input     1      off\n"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("\n 53  input     0      down\n"), std::string::npos) << o.out;
    EXPECT_EQ(o.out.find("\n 54 "), std::string::npos);
}

// The BCM2711 board: 58 pins in the table, its pulls in the changes, and
// the Pi 4's device tree shown to the command, or none.
TEST_F(Sim, a_bcm2711_board_shows_its_58_pins_its_pulls_and_the_pi_4s_device_tree)
{
    REQUIRE_TRAPPING();
    Outcome o =
        sim({"--soc", "bcm2711", "--changes", "--pins", "--", TAVREL_PULL_TOOL_PATH, "-p", "56", "-d"});
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_NE(o.out.find("Set pin 56 pull-down\npin 56: pull off -> down\n"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("\n 56  input     0      down\n 57  input     0      off\n"), std::string::npos)
        << o.out;
    o = sim({"--", "sh", "-c",
             "tr '\\0' ' ' </proc/device-tree/model; tr '\\0' ' ' "
             "</proc/device-tree/soc/gpio@7e200000/compatible"});
    EXPECT_EQ(o.out, "Raspberry Pi 4 Model B brcm,bcm2711-gpio ") << "the board keeps its chip";
    o = sim({"--", TAVREL_WAIT_TOOL_PATH, "-p", "57", "-t", "0"});
    EXPECT_TRUE(o.exited_with(3)) << "pin 57 watched, no edge: " << o.err;
    o = sim({"--", TAVREL_WAIT_TOOL_PATH, "-p", "58", "-t", "0"});
    EXPECT_TRUE(o.exited_with(1));
    EXPECT_NE(o.err.find("bad pin '58': expected a number from 0 to 57"), std::string::npos) << o.err;
    o = sim({"--", "od", "-An", "-tx1", "/proc/device-tree/system/linux,revision"});
    EXPECT_EQ(o.out, " 00 c0 31 11\n") << "a Pi 4 B's revision code, as gpiozero reads it";
    o = sim({"--soc", "bcm2835", "--", "sh", "-c",
             "tr '\\0' ' ' </proc/device-tree/model; od -An -tx1 /proc/device-tree/system/linux,revision"});
    EXPECT_EQ(o.out, "Raspberry Pi Zero  00 90 00 93\n");
    EXPECT_EQ(board.pull(56), tavrel_sim::kPullOff) << "a change of chip makes the board anew";
    o = sim({"--device-tree", "none", "--", "sh", "-c", "cat /proc/device-tree/model"});
    EXPECT_TRUE(o.exited_with(1));
    EXPECT_NE(o.err.find("No such file"), std::string::npos) << o.err;
    o = sim({"--device-tree", "none", "--trace", "--", TAVREL_PULL_TOOL_PATH, "-p", "4", "-u"});
    EXPECT_NE(o.out.find("read  word 60   0x6770696f"), std::string::npos) << "told by the block: " << o.out;
    o = sim({"pins"});
    EXPECT_EQ(o.out.find("\n 54 "), std::string::npos) << "54 pins on the BCM2835";
}

TEST_F(Sim, a_bcm2712_board_traps_the_rp1s_whole_window_and_shows_the_pi_5s_device_tree)
{
    REQUIRE_TRAPPING();
    Outcome o = sim({"--soc", "bcm2712", "--trace", "--changes", "--", TAVREL_SIM_APP, "rp1-window"});
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_NE(o.out.find("0x31000 bytes: Invalid argument\npad 48, stored 234, out 80000\n"),
              std::string::npos)
        << o.out;
    for (const char* line :
         {"write GPIO53_PAD 0x00000048", "write 0x2cffc   0x00001234", "write 0x2cffc.CLR 0x00001000",
          "write SYS_RIO2_OUT.SET 0x00080000", "read  SYS_RIO2_OUT 0x00080000"})
        EXPECT_NE(o.out.find(line), std::string::npos) << line << " in " << o.out;
    EXPECT_NE(o.out.find("pin 53: pull off -> up"), std::string::npos) << o.out;
    EXPECT_EQ(board.errors(), 0u);
    o = sim(
        {"--", "sh", "-c",
         "tr '\\0' ' ' </proc/device-tree/model; tr '\\0' ' ' </proc/device-tree/compatible; "
         "tr '\\0' ' ' <\"/proc/device-tree$(tr -d '\\0' </proc/device-tree/__symbols__/gpio)/compatible\"; "
         "od -An -tx1 /proc/device-tree/system/linux,revision"});
    EXPECT_EQ(o.out,
              "Raspberry Pi 5 Model B Rev 1.0 raspberrypi,5-model-b brcm,bcm2712 raspberrypi,rp1-gpio "
              " 00 c0 41 70\n");
    o = sim({"--", "sh", "-c", "exec 3</dev/gpiomem"});
    EXPECT_FALSE(o.exited_with(0)) << "a Pi 5 has no /dev/gpiomem";
    EXPECT_NE(o.err.find("No such file"), std::string::npos) << o.err;
    o = sim({"pins"});
    EXPECT_NE(o.out.find("\n 53  none      1      up\n"), std::string::npos) << o.out;
    EXPECT_EQ(o.out.find("\n 54 "), std::string::npos);
}

TEST_F(Sim, released_pins_float_to_their_pull_and_changes_show_the_pull)
{
    REQUIRE_TRAPPING();
    board.drive(4, false);
    board.drive(5, true);
    Outcome o = sim({"--drive", "0:4-5=z", "--changes", "--", TAVREL_PULL_TOOL_PATH, "-p", "4", "-u"});
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_EQ(o.out,
              "Set pin 4 pull-up\npin 4: input, 1 level change\npin 4: pull off -> up\npin 5: input, 1 level "
              "change\n");
    o = sim({"--drive", "0:4=0", "--pins", "--", "true"});
    EXPECT_NE(o.out.find("\n  4  input     0      up\n"), std::string::npos) << "a drive overrides the pull";
    o = sim({"--drive", "0:4=x", "--", "true"});
    EXPECT_TRUE(o.exited_with(2));
}

// Follows the trace as a running program appends to it.
class TraceFollower {
public:
    explicit TraceFollower(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~TraceFollower() { close(fd_); }
    // Waits for a write of `word` with `bits` set, traced after `since_ns`.
    // False if none comes within a minute, far beyond any loaded machine.
    bool wait_for_write(unsigned word, uint32_t bits, uint64_t since_ns,
                        tavrel_sim::TraceRecord* found = nullptr)
    {
        for (int i = 0; i < 60000; ++i) {
            tavrel_sim::TraceRecord r;
            while (pread(fd_, &r, sizeof r, offset_) == sizeof r) {
                offset_ += sizeof r;
                if (r.kind == tavrel_sim::TraceRecord::kWrite && r.word == word && (r.value & bits) == bits &&
                    r.ns > since_ns) {
                    if (found) *found = r;
                    return true;
                }
            }
            usleep(1000);
        }
        return false;
    }

private:
    int fd_;
    off_t offset_ = 0;
};

TEST_F(Sim, button_example_lights_pin_17_while_the_button_pulls_pin_4_low)
{
    REQUIRE_TRAPPING();
    Child button(TAVREL_SIM_PATH,
                 {"--board", board.path(), "--", TAVREL_EXAMPLES_DIR "/tavrel-example-button"});
    ASSERT_EQ(button.line(), "press the button on pin 4; quit with Ctrl-C\n");
    TraceFollower trace(board.trace_path());
    const uint32_t led = 1u << 17;
    tavrel_sim::TraceRecord r;
    ASSERT_TRUE(trace.wait_for_write(GPCLR0, led, 0, &r)) << "dark while nothing drives pin 4";
    EXPECT_EQ(board.pull(4), tavrel_sim::kPullUp);
    uint64_t pressed = tavrel_sim::monotonic_ns();
    board.drive(4, false);
    ASSERT_TRUE(trace.wait_for_write(GPSET0, led, pressed)) << "lit while pressed";
    uint64_t released = tavrel_sim::monotonic_ns();
    board.release(4);
    ASSERT_TRUE(trace.wait_for_write(GPCLR0, led, released)) << "dark again once released";
    kill(static_cast<pid_t>(r.pid), SIGTERM);
    int status = button.wait(60);
    EXPECT_TRUE(exited_with(status, 0)) << describe(status);
    EXPECT_EQ(board.pull(4), tavrel_sim::kPullUp) << "the pull stays";
    EXPECT_EQ(board.fsel(17), 0u) << "functions put back";
}

TEST_F(Sim, drive_schedule_ends_a_listening_program_with_the_quit_pattern)
{
    for (unsigned pin = 24; pin <= 27; ++pin) board.set_fsel(pin, 1);
    std::vector<std::string> args = quit_pattern_schedule();
    args[1] = "100:24,25,26,27=0";  // the list form of the same pins
    for (const char* a : {"--", TAVREL_QUIT_APP, "listen", "0"}) args.push_back(a);
    Outcome o = sim(args);
    EXPECT_TRUE(o.exited_with(0)) << describe(o.status);
    EXPECT_EQ(o.out, "ready\nexit on another thread\n");
    for (unsigned pin = 24; pin <= 27; ++pin) EXPECT_EQ(board.fsel(pin), 1u) << "pin " << pin;
}

TEST_F(Sim, bad_options_and_schedules_are_refused)
{
    for (std::vector<std::string> args : {
             std::vector<std::string>{"--drive", "x:3=1", "--", "true"},
             {"--drive", "10:3=2", "--", "true"},
             {"--drive", "10:99999=1", "--", "true"},
             {"--drive", "10:9-3=1", "--", "true"},
             {"--drive", "10:3=1x", "--", "true"},
             {"--drive", "10:=1", "--", "true"},
         }) {
        Outcome o = sim(args);
        EXPECT_TRUE(o.exited_with(2)) << args[1];
        EXPECT_NE(o.err.find("bad --drive '" + args[1] + "'"), std::string::npos) << o.err;
    }
    // Pins 54 to 57 are the BCM2711's alone.
    Outcome o = sim({"--drive", "10:54=1", "--", "true"});
    EXPECT_TRUE(o.exited_with(2));
    EXPECT_NE(o.err.find("pin 54 is not on a bcm2835 board (pins 0 to 53)"), std::string::npos) << o.err;
    o = sim({"drive", "50-55=1"});
    EXPECT_NE(o.err.find("pin 54 is not on a bcm2835 board"), std::string::npos) << o.err;
    EXPECT_FALSE(board.level(50)) << "nothing driven";
    o = sim({"drive", "99=1"});
    EXPECT_NE(o.err.find("pin 99 is not on a bcm2835 board (pins 0 to 53)"), std::string::npos) << o.err;
    // wait: 1 for a bad argument, 3 when the time runs out.
    for (std::vector<std::string> args : {std::vector<std::string>{"wait", "54", "held"},
                                          {"wait", "4"},
                                          {"wait", "4", "busy"},
                                          {"wait", "x", "held"},
                                          {"wait", "4", "held", "--timeout", "-1"},
                                          {"wait", "4", "held", "--limit", "5"}}) {
        o = sim(args);
        EXPECT_TRUE(o.exited_with(1)) << testing::PrintToString(args) << describe(o.status);
        EXPECT_NE(o.err.find("tavrel-sim: "), std::string::npos) << o.err;
    }
    EXPECT_TRUE(sim({"wait", "4", "held", "--timeout", "20"}).exited_with(3)) << "no request holds it";
    EXPECT_TRUE(sim({"wait", "4", "free", "--timeout", "0"}).exited_with(0));
    EXPECT_TRUE(sim({"wait", "4", "0", "--timeout", "0"}).exited_with(0));
    o = sim({"--soc", "bcm2711", "--drive", "0:54-57=1", "--", "true"});
    EXPECT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_TRUE(board.level(57));
    o = sim({"--soc", "bcm2713", "--", "true"});
    EXPECT_TRUE(o.exited_with(2));
    EXPECT_NE(o.err.find("bad --soc 'bcm2713': expected bcm2835, bcm2711 or bcm2712"), std::string::npos)
        << o.err;
    o = sim({"--bogus", "--", "true"});
    EXPECT_TRUE(o.exited_with(2));
    EXPECT_NE(o.err.find("Usage: tavrel-sim"), std::string::npos);
    o = sim({});
    EXPECT_TRUE(o.exited_with(2));
    EXPECT_NE(o.err.find("no command given"), std::string::npos);
    o = run(TAVREL_SIM_PATH, {"--board", "/nonexistent/dir/board", "--", "true"});
    EXPECT_TRUE(o.exited_with(2));
    EXPECT_NE(o.err.find("cannot use the board /nonexistent/dir/board: it cannot be opened"),
              std::string::npos)
        << o.err;
}

TEST_F(Sim, examples_run_under_tavrel_sim)
{
    const std::string dir = TAVREL_EXAMPLES_DIR "/tavrel-example-";
    Outcome o = sim({"--changes", "--", dir + "blink", "17", "2", "10"});
    EXPECT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_EQ(o.out, "blinked pin 17 2 times\npin 17: input -> output -> input, 4 level changes\n")
        << "what happened during the run, though blink puts pin 17 back at exit";

    o = sim({"--drive", "0:4,6,9,11=1", "--", dir + "read_byte"});
    EXPECT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_EQ(o.out, "pins 4 to 11: 0xa5\n");

    std::vector<std::string> args = quit_pattern_schedule();
    args.push_back("--");
    args.push_back(dir + "wait_quit");
    o = sim(args);
    EXPECT_TRUE(o.exited_with(0)) << describe(o.status);
    EXPECT_EQ(board.fsel(17), 0u) << "pin 17 put back";

    o = sim({"--", dir + "counter", "16"});
    EXPECT_TRUE(o.exited_with(0));
    EXPECT_EQ(board.latch(0) & 0xFF0, 15u << 4) << "the last count, 15, stays on pins 4 to 11";
}

TEST_F(Sim, drive_sets_pins_now_all_at_once_and_pins_prints_the_table)
{
    board.drive(5, true);
    Outcome o = sim({"drive", "4=1", "24-27=1", "5=z", "26=0"});
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_EQ(board.word(GPLEV0) & (1u << 4 | 1u << 5 | 0xFu << 24), 1u << 4 | 0xBu << 24)
        << "pin 5 let go, and the last word for pin 26 counts";
    o = sim({"pins"});
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_NE(o.out.find("\n  4  input     1      off\n"), std::string::npos) << o.out;
    EXPECT_EQ(sim({"--pins"}).out, o.out) << "--pins with no command is the same";
    for (std::vector<std::string> bad : {std::vector<std::string>{"drive"},
                                         {"drive", "4=2"},
                                         {"drive", "60=1"},
                                         {"watch", "x"},
                                         {"--trace", "pins"},
                                         {"--drive", "0:4=1", "drive", "4=1"}}) {
        o = sim(bad);
        EXPECT_TRUE(o.exited_with(2)) << bad[0] << " " << bad[1 % bad.size()];
        EXPECT_FALSE(o.err.empty());
    }
    EXPECT_TRUE(sim({"--", "pins"}).exited_with(127)) << "after --, pins is a command's name";
}

TEST_F(Sim, watch_prints_each_change_as_it_happens)
{
    board.drive(4, true);
    Child watch(TAVREL_SIM_PATH, {"--board", board.path(), "watch", "4", "17"});
    EXPECT_EQ(watch.line(), "watching " + board.path() + "; a signal ends it\n");
    ASSERT_TRUE(sim({"drive", "4=0"}).exited_with(0));
    std::string l = watch.line();
    EXPECT_NE(l.find(" pin 4: driven 0\n"), std::string::npos) << l;
    l = watch.line();
    EXPECT_NE(l.find(" pin 4: level 1 -> 0\n"), std::string::npos) << l;
    ASSERT_TRUE(sim({"--", TAVREL_TOOL_PATH, "-p", "17", "-o"}).exited_with(0));
    l = watch.line();
    EXPECT_NE(l.find(" pin 17: input -> output\n"), std::string::npos) << l;
    ASSERT_TRUE(sim({"--", TAVREL_TOOL_PATH, "-p", "18", "-o"}).exited_with(0));
    watch.signal(SIGTERM);
    EXPECT_TRUE(exited_with(watch.wait(), 0));
    EXPECT_EQ(watch.line(), "") << "pin 18 is not watched";
}

TEST_F(Sim, watch_prints_every_change_in_order_or_says_how_many_it_could_not_show)
{
    REQUIRE_TRAPPING();
    tavrel_sim::Board live;
    ASSERT_TRUE(live.open(board.path().c_str())) << live.refusal();
    Child watch(TAVREL_SIM_PATH, {"--board", board.path(), "watch", "4"});
    ASSERT_EQ(watch.line(), "watching " + board.path() + "; a signal ends it\n");
    // 2,000 toggles as fast as the board takes them.
    const uint32_t pin4[2] = {1u << 4, 0};
    for (int i = 0; i < 2000; ++i)
        live.drive_pins(pin4, i % 2 ? tavrel_sim::Drive::kLow : tavrel_sim::Drive::kHigh);
    live.drive_pins(pin4, tavrel_sim::Drive::kRelease);
    // The release's line comes last: all before it have been printed.
    unsigned levels = 0, not_shown = 0;
    int expected = 1;
    double last_t = 0;
    for (std::string l = watch.line(); !l.empty(); l = watch.line()) {
        double t = std::stod(l);
        EXPECT_GE(t, last_t) << l;
        last_t = t;
        unsigned long long n;
        if (sscanf(l.c_str(), "%*f (%llu changes not shown)", &n) == 1) {
            not_shown += static_cast<unsigned>(n);
            expected = -1;  // resumed from the board as it is
        } else if (l.find(" pin 4: level ") != std::string::npos) {
            ++levels;
            if (expected >= 0) {
                EXPECT_NE(l.find(expected ? "level 0 -> 1" : "level 1 -> 0"), std::string::npos) << l;
            }
            expected = l.find("-> 1") != std::string::npos ? 0 : 1;
        }
        if (l.find(" pin 4: released") != std::string::npos) break;
    }
    // Every toggle changed the level; the release of a low pin does not.
    EXPECT_EQ(levels + not_shown, 2000u) << levels << " shown, " << not_shown << " not shown";
    watch.signal(SIGTERM);
    EXPECT_TRUE(exited_with(watch.wait(), 0));
}

TEST_F(Sim, changes_and_the_waveform_hold_pins_driven_live_during_the_run)
{
    REQUIRE_TRAPPING();
    std::string fifo = board.path() + ".go", vcd = board.path() + ".vcd";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Child run(TAVREL_SIM_PATH, {"--board", board.path(), "--changes", "--vcd", vcd, "--", "sh", "-c",
                                "echo waiting; cat \"$0\" >/dev/null", fifo});
    ASSERT_EQ(run.line(), "waiting\n");
    // A button pressed and released twice, from outside the run.
    for (const char* level : {"4=1", "4=z", "4=1", "4=z"}) ASSERT_TRUE(sim({"drive", level}).exited_with(0));
    {
        std::ofstream(fifo) << "go\n";
    }
    std::string out;
    for (std::string l = run.line(); !l.empty(); l = run.line()) out += l;
    EXPECT_TRUE(exited_with(run.wait(), 0));
    EXPECT_EQ(out, "pin 4: input, 4 level changes\n");
    std::ifstream dump(vcd);
    std::string line, id;
    unsigned changes = 0;
    bool body = false;
    while (std::getline(dump, line)) {
        if (line.rfind("$var wire 1 ", 0) == 0 && line.find(" gpio4 $end") != std::string::npos)
            id = line.substr(12, 1);
        if (line == "$end") body = true;
        if (body && !id.empty() && line.size() == 2 && line.substr(1) == id) ++changes;
    }
    EXPECT_EQ(changes, 4u) << "the level changes of gpio4 in the dump";
    unlink(fifo.c_str());
    unlink(vcd.c_str());
}

TEST_F(Sim, plain_mode_refuses_what_needs_the_model_and_does_the_rest)
{
    for (const char* option : {"--trace", "--vcd=x.vcd"}) {
        Outcome o = sim({"--plain", option, "--", "true"});
        EXPECT_TRUE(o.exited_with(2)) << option;
        EXPECT_NE(o.err.find("needs the device model"), std::string::npos) << o.err;
    }
    Outcome o = sim({"--plain", "--changes", "--", TAVREL_TOOL_PATH, "-p", "18", "-f", "5"});
    EXPECT_TRUE(o.exited_with(0));
    EXPECT_EQ(o.out, "Set pin 18 to alternative-function 5\npin 18: input -> alt5\n")
        << "the start against the end";
    // A drive reaches a plain block's level word, which is what it reads.
    o = sim({"--plain", "--drive", "0:4,6,9,11=1", "--", TAVREL_EXAMPLES_DIR "/tavrel-example-read_byte"});
    EXPECT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_EQ(o.out, "pins 4 to 11: 0xa5\n");
    // A level alone is a change, told the right way round, in bank 1 too.
    o = sim({"--plain", "--changes", "--drive", "0:5,41=1", "--", "true"});
    EXPECT_TRUE(o.exited_with(0)) << o.err;
    EXPECT_EQ(o.out, "pin 5: level 0 -> 1\npin 41: level 0 -> 1\n");
    o = sim({"pins"});
    EXPECT_NE(o.out.find(" 41  input     1 "), std::string::npos) << o.out;
}

TEST_F(Sim, reset_clears_the_board_in_place_while_a_program_runs_on_it)
{
    // Two threads and the listener reach the block all the while.
    Child child(TAVREL_QUIT_APP, {"listen", "2"});
    ASSERT_EQ(child.line(), "ready\n");
    for (int i = 0; i < 30; ++i) {
        Outcome o = sim({"--reset", "pins"});
        ASSERT_TRUE(o.exited_with(0)) << o.err;
    }
    EXPECT_EQ(board.fsel(5), 0u) << "reset";
    child.signal(SIGTERM);
    int status = child.wait();
    EXPECT_TRUE(exited_with(status, 0)) << describe(status);
}

TEST_F(Sim, a_board_cut_short_under_a_program_ends_it_with_a_message)
{
    Child child(TAVREL_QUIT_APP, {"listen", "1"}, true);
    ASSERT_EQ(child.line(), "ready\n");
    ASSERT_EQ(truncate(board.path().c_str(), 0), 0);
    int status = child.wait();
    ASSERT_EQ(truncate(board.path().c_str(), tavrel_sim::kBoardBytes), 0);  // for this test's own view
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS) << describe(status);
    std::string err = child.err();
    EXPECT_NE(err.find("tavrel-sim: the board file " + board.path() + " was cut short"), std::string::npos)
        << err;
    board.allow_errors();
}

TEST_F(Sim, a_stopped_holder_of_the_lock_is_waited_for_and_named_not_taken_for_a_broken_board)
{
    Child program(TAVREL_QUIT_APP, {"listen", "1"}, true);
    ASSERT_EQ(program.line(), "ready\n");
    // Another process takes the board's lock as an access does, and is
    // stopped (as by Ctrl-Z or a debugger) while it holds it.
    int fd = open(board.path().c_str(), O_RDWR);
    void* map = mmap(nullptr, tavrel_sim::kBoardBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    ASSERT_NE(map, MAP_FAILED);
    auto* state = reinterpret_cast<tavrel_sim::ModelState*>(static_cast<char*>(map) + tavrel_sim::kPageBytes);
    pid_t holder = fork();
    if (holder == 0) {
        pthread_mutex_lock(&state->lock);
        state->holder = static_cast<uint32_t>(getpid());
        raise(SIGSTOP);
        state->holder = 0;
        pthread_mutex_unlock(&state->lock);
        _exit(0);
    }
    int status;
    ASSERT_EQ(waitpid(holder, &status, WUNTRACED), holder);
    ASSERT_TRUE(WIFSTOPPED(status));

    Outcome o = sim({"pins"});
    EXPECT_TRUE(o.exited_with(2)) << describe(o.status);
    std::string stopped = "held by thread " + std::to_string(holder) + ", which is stopped";
    EXPECT_NE(o.err.find(stopped), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find("--reset"), std::string::npos) << "no advice to wipe the board: " << o.err;

    kill(holder, SIGCONT);
    ASSERT_EQ(waitpid(holder, &status, 0), holder);
    EXPECT_TRUE(exited_with(status, 0)) << describe(status);

    // Only the time the holder runs counts: one stopped for most of five
    // seconds, continued and holding on a while longer, is no broken board.
    holder = fork();
    if (holder == 0) {
        pthread_mutex_lock(&state->lock);
        state->holder = static_cast<uint32_t>(getpid());
        usleep(300000);
        raise(SIGSTOP);
        usleep(500000);
        state->holder = 0;
        pthread_mutex_unlock(&state->lock);
        _exit(0);
    }
    ASSERT_EQ(waitpid(holder, &status, WUNTRACED), holder);
    ASSERT_TRUE(WIFSTOPPED(status));
    usleep(4500000);
    kill(holder, SIGCONT);
    ASSERT_EQ(waitpid(holder, &status, 0), holder);
    EXPECT_TRUE(exited_with(status, 0)) << describe(status);
    munmap(map, tavrel_sim::kBoardBytes);
    program.signal(SIGTERM);
    status = program.wait();
    EXPECT_TRUE(exited_with(status, 0)) << "the program waited, then went on: " << describe(status);
    EXPECT_NE(program.err().find("waiting until it goes on"), std::string::npos);
    EXPECT_TRUE(sim({"pins"}).exited_with(0));
}

TEST_F(Sim, each_run_reports_only_its_own_malformed_accesses)
{
    REQUIRE_TRAPPING();
    // Run A waits on the board, on a FIFO, while run B makes five malformed
    // accesses to the same board.
    std::string fifo = board.path() + ".fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Child a(TAVREL_SIM_PATH, {"--board", board.path(), "--", "sh", "-c", "echo waiting; cat \"$0\"", fifo},
            true);
    ASSERT_EQ(a.line(), "waiting\n");
    Outcome b = sim({"--", TAVREL_SIM_APP, "malformed", "5"});
    EXPECT_TRUE(b.exited_with(0)) << b.err;
    EXPECT_NE(b.err.find("tavrel-sim: 5 malformed accesses"), std::string::npos) << b.err;
    {
        std::ofstream(fifo) << "done\n";
    }
    int status = a.wait();
    EXPECT_TRUE(exited_with(status, 0)) << describe(status);
    std::string a_err = a.err();
    EXPECT_EQ(a_err.find("malformed"), std::string::npos) << "B's accesses blamed on A: " << a_err;
    unlink(fifo.c_str());
    board.allow_errors();
}

}  // namespace
