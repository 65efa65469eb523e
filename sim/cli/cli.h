// SPDX-License-Identifier: MIT
// tavrel-sim, the front end: its options (options.cpp), the live commands
// on a board (live.cpp), the run of a command with its drives and signals
// (run.cpp), and the reports and files it leaves (outputs.cpp).
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "model/board.h"
#include "report/recorder.h"

namespace tavrel_sim::cli {

// A --drive entry: at `ms`, `pins` change all at once.
struct Scheduled {
    long ms = 0;
    std::vector<unsigned> pins;
    Drive drive = Drive::kRelease;
};

// MS:PINS=LEVEL, PINS being a comma list of pins and ranges.
bool parse_drive(const char* text, Scheduled* d);
// The decimal number at `s`, at most `max`; *end: where its digits stop.
bool parse_number(const char* s, const char** end, long max, long* out);
// The entry's pins are all on a board of that chip; false after a message.
bool pins_on_board(const Scheduled& d, Soc soc);
// The entry's pins, a bit per pin in banks 0 and 1.
void pin_mask(const Scheduled& d, uint32_t mask[2]);

struct Options {
    std::string board_path, vcd, gtkw, svg;
    // --soc: the chip to make the board; --device-tree: the tree the
    // command sees, "none" for no tree, "" for one made for the chip.
    bool set_soc = false;
    Soc soc = Soc::kBcm2835;
    std::string device_tree;
    bool reset = false, trace = false, changes = false, pins = false, plain = false;
    std::vector<Scheduled> drives;
    const char* live = nullptr;  // "drive", "pins", "watch" or "wait": acts on the board now
    char** rest = nullptr;       // the command, or the live command's arguments
    int rest_count = 0;
};

// Reads the command line into `o`; -1 to go on, else the exit status
// (--help, or a usage error already reported).
int parse_options(int argc, char** argv, Options* o);
// Refuses combinations that cannot work, with a message; the exit status.
int check_options(const Options& o);

// The pin table: function, level and pull of every pin of the chip.
// With `board`, the lines of the character device that requests hold, by whom.
void print_pins(const PinSnapshot& s, Board* board = nullptr);

// drive, pins and watch, on a board a program may be running on.
int run_live(Board& board, const Options& o);

// The shim beside this program (build tree) or in the library directory
// (installed); "" when missing.
std::string find_shim();
// GTKWave's translate filters, in share/tavrel-sim beside bin/; "".
std::string find_filters();

// The name template of a scratch file or directory in $TMPDIR or /tmp,
// named for `what`, for mkostemp or mkdtemp.
std::vector<char> scratch_template(const char* what);

// The device tree made for a run, in a scratch directory removed however
// the run ends.
struct DeviceTree {
    std::string dir;
    ~DeviceTree() { remove(); }
    // False after a message.
    bool make(Soc soc);
    void remove();

private:
    bool failed();
};

// What a run leaves: its scratch files, removed however it ends, and its
// waveform files, written beside their names and renamed when complete.
struct Outputs {
    std::string trace, vcd_part, gtkw_part, svg_part, vcd_body;  // scratch
    FILE* vcd = nullptr;
    FILE* gtkw = nullptr;
    FILE* svg = nullptr;
    FILE* body = nullptr;  // the dump's value changes, as the run goes
    std::string filters;
    DeviceTree tree;
    ~Outputs() { remove(); }
    void remove();
    // Creates the scratch and waveform files the options ask for; false
    // after a message.
    bool prepare(const Options& o);
    // A full trace is kept for --trace alone; --changes and the waveform
    // follow the board's journal, where the model is.
    bool tracing(const Options& o) const { return o.trace; }
    bool recording(const Options& o) const { return !o.plain && (o.changes || vcd || svg); }
};

// What the run of the command gave.
struct RunResult {
    int status = -1;  // waitpid's, or -1 when waiting failed
    uint64_t t0_ns = 0;
    PinSnapshot before;
    uint32_t errors_before = 0, lost_before = 0;
    uint32_t run_id = 0;  // the board's slot for this run's own counts, or 0
    // The journal followed from the run's start: where, and how many of its
    // entries were overwritten before they could be read.
    uint64_t journal_next = 0, journal_lost = 0;
    std::unique_ptr<Recorder> recorder;  // when recording
};

// Runs the command on the board with the drives, passing signals on; -1
// in result.status when it could not be started or waited for.
bool run_command(Board& board, const Options& o, const Outputs& out, const std::string& shim, RunResult* r);

// Prints and writes what the options ask of the run; false when any of it
// failed (reported).
bool report_run(Board& board, const Options& o, Outputs& out, RunResult& r);

// Ends this process as the command ended: with its status, or killed by
// the same signal (without a core of our own).
[[noreturn]] void end_as(int status);

bool output_failed(const char* what);

}  // namespace tavrel_sim::cli
