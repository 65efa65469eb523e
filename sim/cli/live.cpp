// SPDX-License-Identifier: MIT
// The live commands: drive, pins, watch and wait, on a board that a program
// may be running on.
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "cli/cli.h"

namespace tavrel_sim::cli {

void print_pins(const PinSnapshot& s, Board* board)
{
    printf("pin  function  level  pull\n");
    for (unsigned p = 0; p < pin_count(s.soc); ++p) {
        // A line of the character device that a request holds.
        LineDesc d = board ? board->line(p) : LineDesc{};
        bool held = d.pid && d.shown;
        printf(held ? "%3u  %-8s  %u      %-4s" : "%3u  %-8s  %u      %s", p, function_name(s.fsel[p]),
               s.level[p], pull_name(s.pull[p]));
        if (held) printf("  held by \"%s\", pid %u", d.label, d.pid);
        printf("\n");
    }
}

namespace {

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
        if (!pins_on_board(d, board.soc())) return 2;
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
Board* watched = nullptr;  // for the signal handler

// The lines for what changed of `pins` from `a` to `b`, at `t` seconds.
void print_watch(const bool* wanted, const PinSnapshot& a, const PinSnapshot& b, double t)
{
    for (unsigned p = 0; p < pin_count(b.soc); ++p) {
        if (!wanted[p]) continue;
        if (a.fsel[p] != b.fsel[p])
            printf("%.6f pin %u: %s -> %s\n", t, p, function_name(a.fsel[p]), function_name(b.fsel[p]));
        if (a.pull[p] != b.pull[p])
            printf("%.6f pin %u: pull %s -> %s\n", t, p, pull_name(a.pull[p]), pull_name(b.pull[p]));
        if (a.driving[p] != b.driving[p] || (b.driving[p] && a.driven[p] != b.driven[p]))
            printf("%.6f pin %u: %s\n", t, p,
                   b.driving[p] ? (b.driven[p] ? "driven 1" : "driven 0") : "released");
        if (a.level[p] != b.level[p]) printf("%.6f pin %u: level %d -> %d\n", t, p, a.level[p], b.level[p]);
    }
}

// tavrel-sim watch [PINS]: a line per change, in order, as the board's
// journal has them, until a signal ends it. Asleep while nothing changes.
int live_watch(Board& board, const std::string& path, int argc, char** argv)
{
    bool wanted[kMaxPins] = {};
    if (argc == 0) std::fill(std::begin(wanted), std::end(wanted), true);
    for (int i = 0; i < argc; ++i) {
        Scheduled d;
        if (!parse_drive(("0:" + std::string(argv[i]) + "=0").c_str(), &d)) {
            fprintf(stderr, "tavrel-sim: bad pins '%s': expected 17, 24-27 or 3,5,9\n", argv[i]);
            return 2;
        }
        if (!pins_on_board(d, board.soc())) return 2;
        for (unsigned pin : d.pins) wanted[pin] = true;
    }
    watched = &board;
    struct sigaction sa = {};
    sa.sa_handler = [](int) {
        stop_watching = 1;
        if (Board* b = watched) b->wake_journal();
    };
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
    BoardState start;
    uint64_t next = board.snapshot(&start);
    Replay replay(start);
    PinSnapshot last = replay.snapshot();
    printf("watching %s; a signal ends it\n", path.c_str());
    uint64_t t0 = monotonic_ns();
    JournalEntry batch[256];
    while (!stop_watching) {
        uint64_t lost = 0;
        unsigned n = board.read_journal(&next, batch, 256, &lost);
        if (lost) {
            // Too far behind: say so, and go on from the board as it is.
            printf("%.6f (%llu changes not shown)\n", (monotonic_ns() - t0) / 1e9,
                   static_cast<unsigned long long>(lost));
            next = board.snapshot(&start);
            replay = Replay(start);
            PinSnapshot now = replay.snapshot();
            print_watch(wanted, last, now, (monotonic_ns() - t0) / 1e9);
            last = now;
            continue;
        }
        for (unsigned i = 0; i < n; ++i) {
            replay.apply(batch[i]);
            PinSnapshot now = replay.snapshot();
            print_watch(wanted, last, now, batch[i].ns > t0 ? (batch[i].ns - t0) / 1e9 : 0.0);
            last = now;
        }
        if (fflush(stdout) != 0) {
            output_failed("the standard output");
            return 2;
        }
        if (n == 0) board.wait_journal(next, 1000000);
    }
    return 0;
}

// tavrel-sim wait PIN held|free|0|1 [--timeout MS]: 0 once the pin is so,
// 3 when the time ran out, 1 for a bad argument.
int live_wait(Board& board, int argc, char** argv)
{
    static const char kUsage[] = "tavrel-sim: wait needs PIN held|free|0|1 [--timeout MS]\n";
    const char* end;
    long pin, ms = -1;
    if ((argc != 2 && argc != 4) || (argc == 4 && (strcmp(argv[2], "--timeout") != 0 ||
                                                   !parse_number(argv[3], &end, INT32_MAX, &ms) || *end))) {
        fputs(kUsage, stderr);
        return 1;
    }
    if (!parse_number(argv[0], &end, INT32_MAX, &pin) || *end) {
        fprintf(stderr, "tavrel-sim: bad pin '%s': expected a number\n", argv[0]);
        return 1;
    }
    if (pin >= static_cast<long>(pin_count(board.soc()))) {
        fprintf(stderr, "tavrel-sim: pin %ld is not on a %s board (pins 0 to %u)\n", pin,
                soc_name(board.soc()), pin_count(board.soc()) - 1);
        return 1;
    }
    const std::string state = argv[1];
    if (state != "held" && state != "free" && state != "0" && state != "1") {
        fputs(kUsage, stderr);
        return 1;
    }
    auto reached = [&] {
        unsigned p = static_cast<unsigned>(pin);
        if (state == "held" || state == "free") return board.held(p) == (state == "held");
        return board.level(p) == (state == "1");
    };
    uint64_t deadline = ms < 0 ? 0 : monotonic_ns() + static_cast<uint64_t>(ms) * 1000000;
    while (!reached()) {
        if (ms >= 0 && monotonic_ns() >= deadline) return 3;
        timespec pause = {0, 1000000};
        nanosleep(&pause, nullptr);
    }
    return 0;
}

}  // namespace

int run_live(Board& board, const Options& o)
{
    int rc = 0;
    if (strcmp(o.live, "drive") == 0)
        rc = live_drive(board, o.rest_count, o.rest);
    else if (strcmp(o.live, "watch") == 0)
        rc = live_watch(board, o.board_path, o.rest_count, o.rest);
    else if (strcmp(o.live, "wait") == 0)
        rc = live_wait(board, o.rest_count, o.rest);
    else {
        // Lines whose every descriptor is closed are free, as on a Pi.
        board.reap(nullptr);
        print_pins(board_snapshot(board), &board);
    }
    if (fflush(stdout) != 0 || ferror(stdout)) {
        output_failed("the standard output");
        return 2;
    }
    return rc;
}

}  // namespace tavrel_sim::cli
