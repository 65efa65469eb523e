// SPDX-License-Identifier: MIT
// tavrel-sim: runs a program that uses libtavrel against the simulated
// board, and reports what it did to the pins.
#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <libgen.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "board.h"
#include "vcd.h"

using namespace tavrel_sim;

namespace {

const char kHelp[] =
    "Usage: tavrel-sim [options] -- COMMAND [ARGS...]\n"
    "       tavrel-sim [--board FILE] drive PINS=L... | pins | watch [PINS...]\n"
    "Runs COMMAND against the simulated GPIO board and exits with its status;\n"
    "or, while a program runs on the board: drives pins now (all at once; L is\n"
    "0, 1 or z), prints the pin table (also --pins alone), or prints every\n"
    "change of function, level, pull or drive as it happens.\n"
    "\n"
    "  --board FILE         the board file (default: tavrel-sim.board in\n"
    "                       $XDG_RUNTIME_DIR, else /tmp/tavrel-sim-UID/board);\n"
    "                       it keeps its state from one run to the next\n"
    "  --reset              make the board anew first: every register, latch,\n"
    "                       driven level and pull 0\n"
    "  --drive MS:PINS=L    at MS milliseconds after the start, drive PINS (17,\n"
    "                       24-27 or 3,5,9) to level L (0 or 1), or let them go\n"
    "                       (z: inputs then read their pull); may be repeated\n"
    "  --trace              print every access to the GPIO block, in order\n"
    "  --vcd FILE           write the pins' levels and functions over time to FILE,\n"
    "                       a Value Change Dump for GTKWave or PulseView\n"
    "  --gtkw FILE          with --vcd: write a GTKWave save file to FILE that\n"
    "                       shows the functions and pulls by name\n"
    "  --changes            print what the run did to each pin: its functions in\n"
    "                       order, its pulls, and how many level changes it had\n"
    "  --pins               print pins 0 to 53: function, level and pull\n"
    "  --plain              map the block as plain memory: no model, so no --trace\n"
    "                       or --vcd; --drive sets the stored level words\n"
    "  --help               print this text\n";

struct Scheduled {
    long ms;
    std::vector<unsigned> pins;
    Drive drive;
};

bool parse_number(const char* s, const char** end, long max, long* out)
{
    if (*s < '0' || *s > '9') return false;
    errno = 0;
    char* e;
    long v = strtol(s, &e, 10);
    if (errno || v > max) return false;
    *out = v;
    *end = e;
    return true;
}

// MS:PINS=LEVEL, PINS being a comma list of pins and ranges.
bool parse_drive(const char* text, Scheduled* d)
{
    const char* p = text;
    long v, hi;
    if (!parse_number(p, &p, 24L * 3600 * 1000, &d->ms) || *p++ != ':') return false;
    for (;;) {
        if (!parse_number(p, &p, kPins - 1, &v)) return false;
        hi = v;
        if (*p == '-' && (!parse_number(p + 1, &p, kPins - 1, &hi) || hi < v)) return false;
        for (long pin = v; pin <= hi; ++pin) d->pins.push_back(static_cast<unsigned>(pin));
        if (*p != ',') break;
        ++p;
    }
    if (*p++ != '=' || p[0] == '\0' || p[1] != '\0') return false;
    switch (*p) {
    case '0': d->drive = Drive::kLow; return true;
    case '1': d->drive = Drive::kHigh; return true;
    case 'z': d->drive = Drive::kRelease; return true;
    default: return false;
    }
}

// The pins as the board has them now, with one level read per bank.
struct PinState {
    unsigned fsel[kPins];
    bool level[kPins];
    unsigned pull[kPins];
    bool driving[kPins], driven[kPins];
};

PinState pin_state(Board& board)
{
    PinState s;
    uint32_t lev[2] = {board.read(GPLEV0), board.read(GPLEV1)};
    uint32_t driving[2] = {board.driving(0), board.driving(1)},
             driven[2] = {board.driven(0), board.driven(1)};
    for (unsigned p = 0; p < kPins; ++p) {
        uint32_t bit = 1u << (p % 32);
        s.fsel[p] = board.fsel(p);
        s.level[p] = lev[p / 32] & bit;
        s.pull[p] = board.pull(p);
        s.driving[p] = driving[p / 32] & bit;
        s.driven[p] = driven[p / 32] & bit;
    }
    return s;
}

void print_pins(const PinState& s)
{
    printf("pin  function  level  pull\n");
    for (unsigned p = 0; p < kPins; ++p)
        printf("%3u  %-8s  %u      %s\n", p, function_name(s.fsel[p]), s.level[p], pull_name(s.pull[p]));
}

void print_changes(const PinState& before, const PinState& after)
{
    bool any = false;
    for (unsigned p = 0; p < kPins; ++p) {
        if (before.fsel[p] != after.fsel[p])
            printf("pin %u: %s -> %s\n", p, function_name(before.fsel[p]), function_name(after.fsel[p]));
        if (before.pull[p] != after.pull[p])
            printf("pin %u: pull %s -> %s\n", p, pull_name(before.pull[p]), pull_name(after.pull[p]));
        if (before.level[p] != after.level[p])
            printf("pin %u: level %d -> %d\n", p, before.level[p], after.level[p]);
        any = any || before.fsel[p] != after.fsel[p] || before.pull[p] != after.pull[p] ||
              before.level[p] != after.level[p];
    }
    if (!any) printf("no pin changed\n");
}

// What happened during the run, pin by pin: every function it had, in
// order, every pull, and how many times its level changed.
void print_history(const std::vector<PinHistory>& history)
{
    bool any = false;
    for (unsigned p = 0; p < kPins; ++p) {
        const PinHistory& h = history[p];
        if (h.functions.size() > 1 || h.level_changes > 0) {
            std::string line = "pin " + std::to_string(p) + ": ";
            for (size_t i = 0; i < h.functions.size(); ++i)
                line += std::string(i ? " -> " : "") + function_name(h.functions[i]);
            if (h.level_changes > 0)
                line += ", " + std::to_string(h.level_changes) +
                        (h.level_changes == 1 ? " level change" : " level changes");
            printf("%s\n", line.c_str());
            any = true;
        }
        if (h.pulls.size() > 1) {
            std::string line = "pin " + std::to_string(p) + ": pull ";
            for (size_t i = 0; i < h.pulls.size(); ++i)
                line += std::string(i ? " -> " : "") + pull_name(h.pulls[i]);
            printf("%s\n", line.c_str());
            any = true;
        }
    }
    if (!any) printf("no pin changed\n");
}

// The shim sits beside this program in the build tree, and in a private
// directory under the library directory of an installed tree.
// The directory holding this program, or "".
std::string program_dir()
{
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return {};
    exe[n] = '\0';
    return dirname(exe);
}

std::string find_shim()
{
    std::string dir = program_dir();
    if (dir.empty()) return {};
    for (const char* rel : {"/libtavrel-sim.so", "/../" TAVREL_SIM_LIBDIR "/tavrel-sim/libtavrel-sim.so"}) {
        std::string candidate = dir + rel;
        if (access(candidate.c_str(), R_OK) == 0) return candidate;
    }
    return {};
}

// GTKWave's translate filters, in share/tavrel-sim beside bin/ (installed)
// or beside sim/ (the build tree).
std::string find_filters()
{
    char dir[PATH_MAX];
    if (!realpath((program_dir() + "/../share/tavrel-sim").c_str(), dir)) return {};
    return access((std::string(dir) + "/function.txt").c_str(), R_OK) == 0 ? dir : std::string();
}

// The scheduled entry's pins, a bit per pin in banks 0 and 1.
void pin_mask(const Scheduled& d, uint32_t mask[2])
{
    mask[0] = mask[1] = 0;
    for (unsigned pin : d.pins) mask[pin / 32] |= 1u << (pin % 32);
}

bool plain_block = false;

// Applies one entry: all its pins change at once. A plain block has no
// model between the program and the level words: the drive goes there.
void apply(Board& board, const Scheduled& d, std::vector<DriveEvent>* applied)
{
    uint32_t mask[2];
    pin_mask(d, mask);
    board.drive_pins(mask, d.drive);
    if (plain_block && d.drive != Drive::kRelease) board.drive_plain_levels(mask, d.drive == Drive::kHigh);
    uint64_t now = monotonic_ns();
    for (unsigned pin : d.pins) applied->push_back({now, pin, d.drive});
}

bool output_failed(const char* what);

// ---- live control of a board that a program may be running on ----------

volatile sig_atomic_t stop_watching = 0;

// tavrel-sim drive PINS=L ...: every pin of every argument at once.
int live_drive(Board& board, int argc, char** argv)
{
    uint32_t masks[3][2] = {};  // by Drive: low, high, released
    if (argc == 0) {
        fprintf(stderr, "tavrel-sim: drive needs PINS=LEVEL, as in 4=0 or 24-27=1\n");
        return 2;
    }
    for (int i = 0; i < argc; ++i) {
        Scheduled d;
        if (!parse_drive(("0:" + std::string(argv[i])).c_str(), &d)) {
            fprintf(stderr, "tavrel-sim: bad drive '%s': expected PINS=LEVEL, LEVEL 0, 1 or z\n", argv[i]);
            return 2;
        }
        uint32_t mask[2];
        pin_mask(d, mask);
        for (unsigned b = 0; b < 2; ++b) {
            for (auto& m : masks) m[b] &= ~mask[b];  // the last word for a pin counts
            masks[static_cast<unsigned>(d.drive)][b] |= mask[b];
        }
    }
    board.drive_all(masks[0], masks[1], masks[2]);
    return 0;
}

// tavrel-sim watch [PINS]: a line per change, as it happens, until a
// signal ends it.
int live_watch(Board& board, const std::string& path, int argc, char** argv)
{
    bool wanted[kPins] = {};
    if (argc == 0) std::fill(std::begin(wanted), std::end(wanted), true);
    for (int i = 0; i < argc; ++i) {
        Scheduled d;
        if (!parse_drive(("0:" + std::string(argv[i]) + "=0").c_str(), &d)) {
            fprintf(stderr, "tavrel-sim: bad pins '%s': expected 17, 24-27 or 3,5,9\n", argv[i]);
            return 2;
        }
        for (unsigned pin : d.pins) wanted[pin] = true;
    }
    struct sigaction sa = {};
    sa.sa_handler = [](int) { stop_watching = 1; };
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
    PinState last = pin_state(board);
    printf("watching %s; a signal ends it\n", path.c_str());
    fflush(stdout);
    uint64_t t0 = monotonic_ns();
    while (!stop_watching) {
        usleep(1000);
        PinState now = pin_state(board);
        double t = (monotonic_ns() - t0) / 1e9;
        for (unsigned p = 0; p < kPins; ++p) {
            if (!wanted[p]) continue;
            const PinState &a = last, &b = now;
            if (a.fsel[p] != b.fsel[p])
                printf("%.6f pin %u: %s -> %s\n", t, p, function_name(a.fsel[p]), function_name(b.fsel[p]));
            if (a.pull[p] != b.pull[p])
                printf("%.6f pin %u: pull %s -> %s\n", t, p, pull_name(a.pull[p]), pull_name(b.pull[p]));
            if (a.driving[p] != b.driving[p] || (b.driving[p] && a.driven[p] != b.driven[p]))
                printf("%.6f pin %u: %s\n", t, p,
                       b.driving[p] ? (b.driven[p] ? "driven 1" : "driven 0") : "released");
            if (a.level[p] != b.level[p])
                printf("%.6f pin %u: level %d -> %d\n", t, p, a.level[p], b.level[p]);
        }
        last = now;
        if (fflush(stdout) != 0) {
            output_failed("the standard output");
            return 2;
        }
    }
    return 0;
}

// ---- signals: forwarded to the command, whose end we wait for -----------

constexpr int kForwarded[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
volatile sig_atomic_t command_pid = 0;
volatile sig_atomic_t pending_signal = 0;  // arrived before the command ran

void forward(int sig, siginfo_t* info, void*)
{
    // The terminal sends Ctrl-C, Ctrl-\ and a hangup to the whole
    // foreground group, the command included: only what was sent to us
    // alone is passed on.
    if (info && info->si_code == SI_KERNEL) return;
    pid_t pid = command_pid;
    if (pid > 0)
        kill(pid, sig);
    else
        pending_signal = sig;
}

void take_signals()
{
    struct sigaction sa = {};
    sa.sa_sigaction = forward;
    sa.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (int sig : kForwarded) sigaction(sig, &sa, nullptr);
}

void default_signals()
{
    for (int sig : kForwarded) signal(sig, SIG_DFL);
}

// Ends this process as the command ended: with its status, or killed by
// the same signal (without a core of our own).
[[noreturn]] void end_as(int status)
{
    fflush(nullptr);
    if (WIFSIGNALED(status)) {
        int sig = WTERMSIG(status);
        struct rlimit none = {0, 0};
        setrlimit(RLIMIT_CORE, &none);
        signal(sig, SIG_DFL);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, sig);
        sigprocmask(SIG_UNBLOCK, &set, nullptr);
        raise(sig);
        _exit(128 + sig);
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 2);
}

// Waits for the command, applying the drives as their times come, and
// noting when each was applied.
int run(pid_t pid, uint64_t t0_ns, Board& board, std::vector<Scheduled> drives,
        std::vector<DriveEvent>* applied)
{
    std::stable_sort(drives.begin(), drives.end(),
                     [](const Scheduled& a, const Scheduled& b) { return a.ms < b.ms; });
    size_t next = 0;
    for (;;) {
        int status;
        pid_t r = waitpid(pid, &status, next < drives.size() ? WNOHANG : 0);
        if (r == pid) return status;
        if (r < 0 && errno != EINTR) return -1;
        while (next < drives.size() && monotonic_ns() - t0_ns >= uint64_t(drives[next].ms) * 1000000)
            apply(board, drives[next++], applied);
        if (next < drives.size()) usleep(200);
    }
}

// Files of the run that must not outlive it.
struct Scratch {
    std::string trace, vcd_part, gtkw_part;
    ~Scratch() { remove(); }
    void remove()
    {
        if (!trace.empty()) unlink(trace.c_str());
        if (!vcd_part.empty()) unlink(vcd_part.c_str());
        if (!gtkw_part.empty()) unlink(gtkw_part.c_str());
        trace.clear();
        vcd_part.clear();
        gtkw_part.clear();
    }
};

std::string absolute(const std::string& path)
{
    if (path.empty() || path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return path;
    return std::string(cwd) + "/" + path;
}

// Creates FILE's stand-in beside it, exclusively and without following
// links: FILE.XXXXXX.part, renamed over FILE when complete.
FILE* create_part(const std::string& file, std::string* part)
{
    std::string tmpl = file + ".XXXXXX.part";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    int fd = mkostemps(buf.data(), 5, O_CLOEXEC);
    if (fd < 0) return nullptr;
    *part = buf.data();
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    FILE* f = fdopen(fd, "w");
    if (!f) close(fd);
    return f;
}

bool output_failed(const char* what)
{
    fprintf(stderr, "tavrel-sim: cannot write %s: %s\n", what, strerror(errno));
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    enum { kBoard = 1, kReset, kDriveOpt, kTrace, kVcd, kGtkw, kChanges, kPinsOpt, kPlain, kHelpOpt };
    static const option longopts[] = {
        {"board", required_argument, nullptr, kBoard},
        {"reset", no_argument, nullptr, kReset},
        {"drive", required_argument, nullptr, kDriveOpt},
        {"trace", no_argument, nullptr, kTrace},
        {"vcd", required_argument, nullptr, kVcd},
        {"changes", no_argument, nullptr, kChanges},
        {"pins", no_argument, nullptr, kPinsOpt},
        {"plain", no_argument, nullptr, kPlain},
        {"help", no_argument, nullptr, kHelpOpt},
        {"gtkw", required_argument, nullptr, kGtkw},
        {nullptr, 0, nullptr, 0},
    };

    std::string board_path;
    bool reset = false, trace = false, changes = false, pins = false, plain = false;
    std::string vcd, gtkw;
    std::vector<Scheduled> drives;

    int opt;
    // "+": the first non-option starts the command.
    while ((opt = getopt_long(argc, argv, "+", longopts, nullptr)) != -1) {
        switch (opt) {
        case kBoard: board_path = optarg; break;
        case kReset: reset = true; break;
        case kDriveOpt: {
            Scheduled d;
            if (!parse_drive(optarg, &d)) {
                fprintf(stderr, "tavrel-sim: bad --drive '%s': expected MS:PINS=LEVEL, as in 100:24-27=1\n",
                        optarg);
                return 2;
            }
            drives.push_back(d);
            break;
        }
        case kTrace: trace = true; break;
        case kVcd: vcd = optarg; break;
        case kGtkw: gtkw = optarg; break;
        case kChanges: changes = true; break;
        case kPinsOpt: pins = true; break;
        case kPlain: plain = true; break;
        case kHelpOpt: fputs(kHelp, stdout); return fflush(stdout) == 0 ? 0 : 2;
        default: fputs(kHelp, stderr); return 2;
        }
    }
    // A subcommand acts on the board now; "--" runs a command of that name.
    bool dashdash = optind > 0 && strcmp(argv[optind - 1], "--") == 0;
    const char* live = nullptr;
    if (optind >= argc && pins)
        live = "pins";
    else if (optind < argc && !dashdash)
        for (const char* name : {"drive", "pins", "watch"})
            if (strcmp(argv[optind], name) == 0) live = name;
    if (!live && optind >= argc) {
        fprintf(stderr, "tavrel-sim: no command given\n%s", kHelp);
        return 2;
    }
    if (live && (trace || changes || plain || !vcd.empty() || !drives.empty())) {
        fprintf(stderr,
                "tavrel-sim: %s acts on the board now; --trace, --vcd, --changes, --drive and --plain are "
                "for running a command\n",
                live);
        return 2;
    }
    if (!gtkw.empty() && vcd.empty()) {
        fprintf(stderr, "tavrel-sim: --gtkw describes the dump of --vcd, which is missing\n");
        return 2;
    }
    if (plain && (trace || !vcd.empty())) {
        fprintf(stderr, "tavrel-sim: %s needs the device model; it cannot be used with --plain\n",
                trace ? "--trace" : "--vcd");
        return 2;
    }
    std::string shim = find_shim();
    if (shim.empty()) {
        fprintf(stderr,
                "tavrel-sim: cannot find libtavrel-sim.so beside this program or in ../" TAVREL_SIM_LIBDIR
                "/tavrel-sim\n");
        return 2;
    }
    if (board_path.empty()) {
        char path[PATH_MAX], why[kMessageBytes];
        if (!default_board_path(path, sizeof path, why, sizeof why)) {
            fprintf(stderr, "tavrel-sim: no safe place for the default board: %s; name one with --board\n",
                    why);
            return 2;
        }
        board_path = path;
    }
    // The command may change directory; the shim must find the same board.
    board_path = absolute(board_path);
    plain_block = plain;
    Board board;
    if (!board.open(board_path.c_str(), reset)) {
        fprintf(stderr, "tavrel-sim: cannot use the board %s: %s; %s\n", board_path.c_str(), board.refusal(),
                board.reset_cures() ? "run with --reset to make it anew"
                                    : "remove it, or name another with --board");
        return 2;
    }
    if (live) {
        int args = argc - optind - (optind < argc ? 1 : 0);
        char** rest = argv + optind + (optind < argc ? 1 : 0);
        int rc = 0;
        if (strcmp(live, "drive") == 0)
            rc = live_drive(board, args, rest);
        else if (strcmp(live, "watch") == 0)
            rc = live_watch(board, board_path, args, rest);
        else
            print_pins(pin_state(board));
        if (fflush(stdout) != 0 || ferror(stdout)) {
            output_failed("the standard output");
            return 2;
        }
        return rc;
    }

    // Outputs are checked before the command runs, and their scratch
    // files removed however the run ends.
    Scratch scratch;
    FILE* vcd_out = nullptr;
    FILE* gtkw_out = nullptr;
    std::string filters = gtkw.empty() ? std::string() : find_filters();
    if (!gtkw.empty() && filters.empty()) {
        fprintf(stderr,
                "tavrel-sim: cannot find GTKWave's filters in share/tavrel-sim beside this program\n");
        return 2;
    }
    if (!gtkw.empty() && !(gtkw_out = create_part(gtkw, &scratch.gtkw_part))) {
        fprintf(stderr, "tavrel-sim: cannot write %s: %s\n", gtkw.c_str(), strerror(errno));
        return 2;
    }
    if (!vcd.empty() && !(vcd_out = create_part(vcd, &scratch.vcd_part))) {
        fprintf(stderr, "tavrel-sim: cannot write %s: %s\n", vcd.c_str(), strerror(errno));
        return 2;
    }
    // --changes tells the whole run when the model is there to trace it.
    bool tracing = trace || vcd_out || (changes && !plain);
    if (tracing) {
        const char* tmp = getenv("TMPDIR");
        std::string tmpl = std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/tavrel-sim-trace-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        int fd = mkostemp(buf.data(), O_CLOEXEC);
        if (fd < 0) {
            fprintf(stderr, "tavrel-sim: cannot create a trace file: %s\n", strerror(errno));
            return 2;
        }
        close(fd);
        scratch.trace = buf.data();
    }

    PinState before = pin_state(board);
    uint32_t errors_before = board.errors(), lost_before = board.trace_lost();
    // After what is preloaded already: a sanitizer's runtime must stay first.
    std::string preload = shim;
    if (const char* old = getenv("LD_PRELOAD"); old && *old) preload = std::string(old) + ":" + shim;

    BoardStart start = board_start(board);
    fflush(nullptr);
    take_signals();
    uint64_t t0 = monotonic_ns();
    // Levels due at 0 ms are in place before the command can read them.
    std::vector<DriveEvent> applied;
    std::vector<Scheduled> later;
    for (const Scheduled& d : drives) {
        if (d.ms > 0)
            later.push_back(d);
        else
            apply(board, d, &applied);
    }
    pid_t pid = fork();
    if (pid < 0) {
        fprintf(stderr, "tavrel-sim: fork: %s\n", strerror(errno));
        return 2;
    }
    if (pid == 0) {
        default_signals();
        setenv(kBoardEnv, board_path.c_str(), 1);
        setenv("LD_PRELOAD", preload.c_str(), 1);
        if (tracing) setenv(kTraceEnv, scratch.trace.c_str(), 1);
        if (plain) setenv(kModeEnv, "plain", 1);
        execvp(argv[optind], argv + optind);
        fprintf(stderr, "tavrel-sim: cannot run %s: %s\n", argv[optind], strerror(errno));
        _exit(127);
    }
    command_pid = pid;
    if (int sig = pending_signal) kill(pid, sig);
    int status = run(pid, t0, board, later, &applied);

    bool failed = status < 0;
    std::vector<PinHistory> history;
    if (uint32_t lost = board.trace_lost() - lost_before) {
        fprintf(stderr, "tavrel-sim: %u trace records could not be written; the trace is incomplete\n", lost);
        failed = true;
    }
    if (tracing) {
        bool whole = true;
        std::vector<TraceRecord> records = read_trace(scratch.trace, &whole);
        if (!whole) {
            fprintf(stderr, "tavrel-sim: the trace file %s is cut short\n", scratch.trace.c_str());
            failed = true;
        }
        if (trace)
            for (const TraceRecord& r : records) printf("%s\n", describe(r).c_str());
        if (changes) history = pin_histories(start, records, applied);
        if (vcd_out) {
            time_t now = time(nullptr);
            char date[64];
            strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S %Z", localtime(&now));
            bool ok = write_vcd(vcd_out, start, t0, records, applied, date, TAVREL_SIM_VERSION_TEXT);
            ok = fflush(vcd_out) == 0 && ok;
            ok = fsync(fileno(vcd_out)) == 0 && ok;
            ok = fclose(vcd_out) == 0 && ok;
            if (!ok) {
                failed = output_failed(vcd.c_str());
            } else if (failed) {
                fprintf(stderr, "tavrel-sim: %s is not written, as the trace is incomplete\n", vcd.c_str());
            } else if (rename(scratch.vcd_part.c_str(), vcd.c_str()) != 0) {
                failed = output_failed(vcd.c_str());
            } else {
                scratch.vcd_part.clear();
            }
        }
        if (gtkw_out && failed) {
            fclose(gtkw_out);  // no dump to describe
        } else if (gtkw_out) {
            char where[PATH_MAX];
            bool ok = realpath(vcd.c_str(), where) &&
                      write_gtkw(gtkw_out, where, touched_pins(start, records, applied), filters.c_str());
            ok = fclose(gtkw_out) == 0 && ok;
            if (!ok || rename(scratch.gtkw_part.c_str(), gtkw.c_str()) != 0)
                failed = output_failed(gtkw.c_str());
            else
                scratch.gtkw_part.clear();
        }
    }
    PinState after = pin_state(board);
    if (changes && tracing)
        print_history(history);
    else if (changes)
        print_changes(before, after);
    if (pins) print_pins(after);
    if (fflush(stdout) != 0 || ferror(stdout)) failed = output_failed("the standard output");
    if (uint32_t errors = board.errors() - errors_before)
        fprintf(stderr, "tavrel-sim: %u malformed accesses to the GPIO block (see --trace)\n", errors);
    if (failed) return 2;
    scratch.remove();
    end_as(status);
}
