// SPDX-License-Identifier: MIT
// tavrel-sim: runs a program that uses libtavrel against the simulated
// board, and reports what it did to the pins; or acts on a board now.
#include <limits.h>
#include <stdio.h>
#include <unistd.h>

#include <new>
#include <string>

#include "cli/cli.h"

using namespace tavrel_sim;
using namespace tavrel_sim::cli;

namespace {

std::string absolute(const std::string& path)
{
    if (path.empty() || path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return path;
    return std::string(cwd) + "/" + path;
}

// The board the options name, or the default one; false after a message.
bool open_board(Options* o, Board* board)
{
    if (o->board_path.empty()) {
        char path[PATH_MAX], why[kMessageBytes];
        if (!default_board_path(path, sizeof path, why, sizeof why)) {
            fprintf(stderr, "tavrel-sim: no safe place for the default board: %s; name one with --board\n",
                    why);
            return false;
        }
        o->board_path = path;
    }
    // The command may change directory; the shim must find the same board.
    o->board_path = absolute(o->board_path);
    if (board->open(o->board_path.c_str(), o->reset)) {
        if (o->set_soc) board->set_soc(o->soc);
        for (const Scheduled& d : o->drives)
            if (!pins_on_board(d, board->soc())) return false;
        return true;
    }
    // A board whose lock a stopped program holds is fine: the reason says
    // what to do.
    const char* advice = board->held_by_stopped() ? ""
                         : board->reset_cures()   ? "; run with --reset to make it anew"
                                                  : "; remove it, or name another with --board";
    fprintf(stderr, "tavrel-sim: cannot use the board %s: %s%s\n", o->board_path.c_str(), board->refusal(),
            advice);
    return false;
}

int run_main(int argc, char** argv)
{
    Options o;
    if (int rc = parse_options(argc, argv, &o); rc >= 0) return rc;
    if (int rc = check_options(o)) return rc;
    std::string shim = find_shim();
    if (shim.empty()) {
        fprintf(stderr,
                "tavrel-sim: cannot find libtavrel-sim.so beside this program or in ../" TAVREL_SIM_LIBDIR
                "/tavrel-sim\n");
        return 2;
    }
    Board board;
    if (!open_board(&o, &board)) return 2;
    if (o.live) return run_live(board, o);

    Outputs out;  // its scratch files go on every return
    RunResult run;
    if (!out.prepare(o)) return 2;
    if (o.device_tree.empty() && !out.tree.make(board.soc())) return 2;
    if (!o.device_tree.empty() && o.device_tree != "none") o.device_tree = absolute(o.device_tree);
    if (!run_command(board, o, out, shim, &run)) return 2;
    if (!report_run(board, o, out, run)) return 2;
    out.remove();
    end_as(run.status);
}

}  // namespace

int main(int argc, char** argv)
{
    // Out of memory is a failure like any other: said, and the scratch
    // files removed as the stack unwinds.
    try {
        return run_main(argc, argv);
    } catch (const std::bad_alloc&) {
        fprintf(stderr, "tavrel-sim: out of memory\n");
        return 2;
    }
}
