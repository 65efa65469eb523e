// SPDX-License-Identifier: MIT
// tavrel-sim: runs a program that uses libtavrel against the simulated
// board, and reports what it did to the pins.
#include <errno.h>
#include <getopt.h>
#include <libgen.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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
    "Runs COMMAND against the simulated GPIO board and exits with its status.\n"
    "\n"
    "  --board FILE         the board file (default: /tmp/tavrel-sim-UID.board);\n"
    "                       it keeps its state from one run to the next\n"
    "  --reset              set every register, latch and driven level to 0 first\n"
    "  --drive MS:PINS=L    at MS milliseconds after the start, drive PINS (17,\n"
    "                       24-27 or 3,5,9) to level L (0 or 1), or let them go\n"
    "                       (z: inputs then read their pull); may be repeated\n"
    "  --trace              print every access to the GPIO block, in order\n"
    "  --vcd FILE           write the pins' levels and functions over time to FILE,\n"
    "                       a Value Change Dump for GTKWave or PulseView\n"
    "  --changes            print the pins whose function or level changed\n"
    "  --pins               print pins 0 to 53: function, level and pull\n"
    "  --plain              map the block as plain memory: no model, no trace\n"
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

struct PinState {
    unsigned fsel[kPins];
    bool level[kPins];
    unsigned pull[kPins];
};

PinState pin_state(Board& board)
{
    PinState s;
    for (unsigned p = 0; p < kPins; ++p) {
        s.fsel[p] = board.fsel(p);
        s.level[p] = board.level(p);
        s.pull[p] = board.pull(p);
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

// The shim sits beside this program in the build tree, and in a private
// directory under the library directory of an installed tree.
std::string find_shim()
{
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return {};
    exe[n] = '\0';
    std::string dir = dirname(exe);
    for (const char* rel : {"/libtavrel-sim.so", "/../" TAVREL_SIM_LIBDIR "/tavrel-sim/libtavrel-sim.so"}) {
        std::string candidate = dir + rel;
        if (access(candidate.c_str(), R_OK) == 0) return candidate;
    }
    return {};
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
        while (next < drives.size() && monotonic_ns() - t0_ns >= uint64_t(drives[next].ms) * 1000000) {
            for (unsigned pin : drives[next].pins) {
                apply(board, pin, drives[next].drive);
                applied->push_back({monotonic_ns(), pin, drives[next].drive});
            }
            ++next;
        }
        if (next < drives.size()) usleep(200);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    enum { kBoard = 1, kReset, kDriveOpt, kTrace, kVcd, kChanges, kPinsOpt, kPlain, kHelpOpt };
    static const option longopts[] = {
        {"board", required_argument, nullptr, kBoard},    {"reset", no_argument, nullptr, kReset},
        {"drive", required_argument, nullptr, kDriveOpt}, {"trace", no_argument, nullptr, kTrace},
        {"vcd", required_argument, nullptr, kVcd},        {"changes", no_argument, nullptr, kChanges},
        {"pins", no_argument, nullptr, kPinsOpt},         {"plain", no_argument, nullptr, kPlain},
        {"help", no_argument, nullptr, kHelpOpt},         {nullptr, 0, nullptr, 0},
    };

    char default_board[256];
    default_board_path(default_board, sizeof default_board);
    std::string board_path = default_board;
    bool reset = false, trace = false, changes = false, pins = false, plain = false;
    std::string vcd;
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
        case kChanges: changes = true; break;
        case kPinsOpt: pins = true; break;
        case kPlain: plain = true; break;
        case kHelpOpt: fputs(kHelp, stdout); return 0;
        default: fputs(kHelp, stderr); return 2;
        }
    }
    if (optind >= argc) {
        fprintf(stderr, "tavrel-sim: no command given\n%s", kHelp);
        return 2;
    }
    std::string shim = find_shim();
    if (shim.empty()) {
        fprintf(stderr,
                "tavrel-sim: cannot find libtavrel-sim.so beside this program or in ../" TAVREL_SIM_LIBDIR
                "/tavrel-sim\n");
        return 2;
    }
    Board board;
    if (!board.open(board_path.c_str())) {
        fprintf(stderr, "tavrel-sim: cannot open board file %s: %s\n", board_path.c_str(), strerror(errno));
        return 2;
    }
    if (reset) board.reset();
    if (!vcd.empty() && plain) {
        fprintf(stderr, "tavrel-sim: --vcd needs the device model; it cannot be used with --plain\n");
        return 2;
    }

    // The dump is written beside its final name and renamed when whole, so
    // that no partial file ever stands under that name. Checked before the
    // command runs.
    std::string vcd_part = vcd + ".part";
    FILE* vcd_out = nullptr;
    if (!vcd.empty() && !(vcd_out = fopen(vcd_part.c_str(), "we"))) {
        fprintf(stderr, "tavrel-sim: cannot write %s: %s\n", vcd.c_str(), strerror(errno));
        return 2;
    }

    char trace_path[] = "/tmp/tavrel-sim-trace-XXXXXX";
    bool tracing = trace || vcd_out;
    if (tracing) {
        int fd = mkstemp(trace_path);
        if (fd < 0) {
            fprintf(stderr, "tavrel-sim: cannot create a trace file: %s\n", strerror(errno));
            return 2;
        }
        close(fd);
    }

    PinState before = pin_state(board);
    uint32_t errors_before = board.errors();
    // After what is preloaded already: a sanitizer's runtime must stay first.
    std::string preload = shim;
    if (const char* old = getenv("LD_PRELOAD"); old && *old) preload = std::string(old) + ":" + shim;

    BoardStart start = board_start(board);
    fflush(nullptr);
    uint64_t t0 = monotonic_ns();
    // Levels due at 0 ms are in place before the command can read them.
    std::vector<DriveEvent> applied;
    std::vector<Scheduled> later;
    for (const Scheduled& d : drives) {
        if (d.ms > 0) {
            later.push_back(d);
            continue;
        }
        for (unsigned pin : d.pins) {
            apply(board, pin, d.drive);
            applied.push_back({t0, pin, d.drive});
        }
    }
    pid_t pid = fork();
    if (pid < 0) {
        fprintf(stderr, "tavrel-sim: fork: %s\n", strerror(errno));
        return 2;
    }
    if (pid == 0) {
        setenv(kBoardEnv, board_path.c_str(), 1);
        setenv("LD_PRELOAD", preload.c_str(), 1);
        if (tracing) setenv(kTraceEnv, trace_path, 1);
        if (plain) setenv(kModeEnv, "plain", 1);
        execvp(argv[optind], argv + optind);
        fprintf(stderr, "tavrel-sim: cannot run %s: %s\n", argv[optind], strerror(errno));
        _exit(127);
    }
    int status = run(pid, t0, board, later, &applied);

    bool vcd_failed = false;
    if (tracing) {
        std::vector<TraceRecord> records = read_trace(trace_path);
        unlink(trace_path);
        if (trace)
            for (const TraceRecord& r : records) printf("%s\n", describe(r).c_str());
        if (vcd_out) {
            time_t now = time(nullptr);
            char date[64];
            strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S %Z", localtime(&now));
            bool ok = write_vcd(vcd_out, start, t0, records, applied, date, TAVREL_SIM_VERSION_TEXT);
            ok = fflush(vcd_out) == 0 && ok;
            ok = fclose(vcd_out) == 0 && ok;
            if (!ok || rename(vcd_part.c_str(), vcd.c_str()) != 0) {
                fprintf(stderr, "tavrel-sim: cannot write %s: %s\n", vcd.c_str(), strerror(errno));
                unlink(vcd_part.c_str());
                vcd_failed = true;
            }
        }
    }
    PinState after = pin_state(board);
    if (changes) print_changes(before, after);
    if (pins) print_pins(after);
    if (uint32_t errors = board.errors() - errors_before)
        fprintf(stderr, "tavrel-sim: %u malformed accesses to the GPIO block (see --trace)\n", errors);
    if (status < 0 || vcd_failed) return 2;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
