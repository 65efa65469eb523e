// SPDX-License-Identifier: MIT
#include <errno.h>
#include <getopt.h>
#include <stdlib.h>
#include <string.h>

#include "cli/cli.h"

namespace tavrel_sim::cli {

namespace {

constexpr long kNamedPins = 9999;

const char kHelp[] =
    "Usage: tavrel-sim [options] -- COMMAND [ARGS...]\n"
    "       tavrel-sim [--board FILE] drive PINS=L... | pins | watch [PINS...]\n"
    "       tavrel-sim [--board FILE] wait PIN held|free|0|1 [--timeout MS]\n"
    "Runs COMMAND against the simulated GPIO board and exits with its status;\n"
    "or, while a program runs on the board: drives pins now (all at once; L is\n"
    "0, 1 or z), prints the pin table (also --pins alone), prints every\n"
    "change of function, level, pull or drive as it happens, or waits until a\n"
    "request of the GPIO character device holds the pin's line (or none does),\n"
    "or the pin reads 0 or 1: status 0 then, 3 when MS milliseconds ran out.\n"
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
    "  --svg FILE           draw the pins the run touched to FILE, an SVG picture\n"
    "                       for a browser: levels over time, functions by name\n"
    "  --changes            print what the run did to each pin: its functions in\n"
    "                       order, its pulls, and how many level changes it had\n"
    "  --pins               print every pin: function, level and pull\n"
    "  --soc CHIP           make the board a bcm2835 (Pi Zero, 1, 2, 3: the\n"
    "                       default), a bcm2711 (Pi 4: its pull controls, 58\n"
    "                       pins) or a bcm2712 (Pi 5: the RP1's GPIO window at\n"
    "                       /dev/gpiomem0); a board of another chip is made anew\n"
    "  --device-tree DIR    what COMMAND finds at /proc/device-tree: DIR, or none\n"
    "                       (default: the Pi Zero's, Pi 4's or Pi 5's, for the chip)\n"
    "  --plain              map the block as plain memory: no model, so no --trace\n"
    "                       or --vcd; --drive sets the stored level words\n"
    "  --help               print this text\n"
    "  --version            print tavrel-sim's version\n";

}  // namespace

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

bool parse_drive(const char* text, Scheduled* d)
{
    const char* p = text;
    long v, hi;
    if (!parse_number(p, &p, 24L * 3600 * 1000, &d->ms) || *p++ != ':') return false;
    for (;;) {
        // Numbers past the board's pins are read, for pins_on_board to name.
        if (!parse_number(p, &p, kNamedPins, &v)) return false;
        hi = v;
        if (*p == '-' && (!parse_number(p + 1, &p, kNamedPins, &hi) || hi < v)) return false;
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

bool pins_on_board(const Scheduled& d, Soc soc)
{
    for (unsigned pin : d.pins)
        if (pin >= pin_count(soc)) {
            fprintf(stderr, "tavrel-sim: pin %u is not on a %s board (pins 0 to %u)\n", pin, soc_name(soc),
                    pin_count(soc) - 1);
            return false;
        }
    return true;
}

void pin_mask(const Scheduled& d, uint32_t mask[2])
{
    mask[0] = mask[1] = 0;
    for (unsigned pin : d.pins) mask[pin / 32] |= 1u << (pin % 32);
}

namespace {

enum {
    kBoard = 1,
    kReset,
    kDriveOpt,
    kTrace,
    kVcd,
    kGtkw,
    kChanges,
    kPinsOpt,
    kPlain,
    kHelpOpt,
    kSoc,
    kTree,
    kVersion,
    kSvg
};

const option kLongOptions[] = {
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
    {"soc", required_argument, nullptr, kSoc},
    {"device-tree", required_argument, nullptr, kTree},
    {"version", no_argument, nullptr, kVersion},
    {"svg", required_argument, nullptr, kSvg},
    {nullptr, 0, nullptr, 0},
};

// One option into `o`; -1 to go on, else the exit status.
int take_option(int opt, Options* o)
{
    switch (opt) {
    case kBoard: o->board_path = optarg; break;
    case kReset: o->reset = true; break;
    case kDriveOpt: {
        Scheduled d;
        if (!parse_drive(optarg, &d)) {
            fprintf(stderr, "tavrel-sim: bad --drive '%s': expected MS:PINS=LEVEL, as in 100:24-27=1\n",
                    optarg);
            return 2;
        }
        o->drives.push_back(d);
        break;
    }
    case kTrace: o->trace = true; break;
    case kVcd: o->vcd = optarg; break;
    case kGtkw: o->gtkw = optarg; break;
    case kSvg: o->svg = optarg; break;
    case kChanges: o->changes = true; break;
    case kPinsOpt: o->pins = true; break;
    case kPlain: o->plain = true; break;
    case kSoc:
        if (!soc_named(optarg, &o->soc)) {
            fprintf(stderr, "tavrel-sim: bad --soc '%s': expected bcm2835, bcm2711 or bcm2712\n", optarg);
            return 2;
        }
        o->set_soc = true;
        break;
    case kTree:
        if (!*optarg) {
            fprintf(stderr, "tavrel-sim: --device-tree needs a directory, or none\n");
            return 2;
        }
        o->device_tree = optarg;
        break;
    case kHelpOpt: fputs(kHelp, stdout); return fflush(stdout) == 0 ? 0 : 2;
    case kVersion: puts(TAVREL_SIM_VERSION_TEXT); return fflush(stdout) == 0 ? 0 : 2;
    default: fputs(kHelp, stderr); return 2;
    }
    return -1;
}

}  // namespace

int parse_options(int argc, char** argv, Options* o)
{
    int opt;
    // "+": the first non-option starts the command.
    while ((opt = getopt_long(argc, argv, "+", kLongOptions, nullptr)) != -1)
        if (int rc = take_option(opt, o); rc >= 0) return rc;
    // A subcommand acts on the board now; "--" runs a command of that name.
    bool dashdash = optind > 0 && strcmp(argv[optind - 1], "--") == 0;
    if (optind >= argc && o->pins)
        o->live = "pins";
    else if (optind < argc && !dashdash)
        for (const char* name : {"drive", "pins", "watch", "wait"})
            if (strcmp(argv[optind], name) == 0) o->live = name;
    if (!o->live && optind >= argc) {
        fprintf(stderr, "tavrel-sim: no command given\n%s", kHelp);
        return 2;
    }
    int skip = o->live && optind < argc ? 1 : 0;
    o->rest = argv + optind + skip;
    o->rest_count = argc - optind - skip;
    return -1;
}

int check_options(const Options& o)
{
    if (o.live && (o.trace || o.changes || o.plain || !o.vcd.empty() || !o.svg.empty() || !o.drives.empty() ||
                   !o.device_tree.empty())) {
        fprintf(
            stderr,
            "tavrel-sim: %s acts on the board now; --trace, --vcd, --svg, --changes, --drive, --device-tree "
            "and --plain are for running a command\n",
            o.live);
        return 2;
    }
    if (!o.gtkw.empty() && o.vcd.empty()) {
        fprintf(stderr, "tavrel-sim: --gtkw describes the dump of --vcd, which is missing\n");
        return 2;
    }
    if (o.plain && (o.trace || !o.vcd.empty() || !o.svg.empty())) {
        fprintf(stderr, "tavrel-sim: %s needs the device model; it cannot be used with --plain\n",
                o.trace          ? "--trace"
                : !o.vcd.empty() ? "--vcd"
                                 : "--svg");
        return 2;
    }
    return 0;
}

}  // namespace tavrel_sim::cli
