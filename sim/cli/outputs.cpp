// SPDX-License-Identifier: MIT
// What a run leaves: the trace printed, the history or changes of its
// pins, and its waveform files, written whole or not at all.
#include <errno.h>
#include <fcntl.h>
#include <libgen.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "cli/cli.h"
#include "report/trace_text.h"
#include "report/vcd.h"

namespace tavrel_sim::cli {

std::vector<char> scratch_template(const char* what)
{
    const char* tmp = getenv("TMPDIR");
    std::string tmpl = std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/tavrel-sim-" + what + "-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    return buf;
}

namespace {

void print_changes(const PinSnapshot& before, const PinSnapshot& after)
{
    bool any = false;
    for (unsigned p = 0; p < pin_count(after.soc); ++p) {
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
void print_history(const std::vector<PinHistory>& history, unsigned pins)
{
    bool any = false;
    for (unsigned p = 0; p < pins && p < history.size(); ++p) {
        const PinHistory& h = history[p];
        if (h.functions.size() > 1 || h.level_changes > 0) {
            std::string line = "pin " + std::to_string(p) + ": ";
            for (size_t i = 0; i < h.functions.size(); ++i)
                line += std::string(i ? " -> " : "") + function_name(h.functions[i]);
            if (h.more_functions) line += " (and " + std::to_string(h.more_functions) + " more)";
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
            if (h.more_pulls) line += " (and " + std::to_string(h.more_pulls) + " more)";
            printf("%s\n", line.c_str());
            any = true;
        }
    }
    if (!any) printf("no pin changed\n");
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

// A scratch file in $TMPDIR or /tmp, named for `what`; its descriptor, or
// -1 after a message.
int create_scratch(const char* what, std::string* path)
{
    std::vector<char> buf = scratch_template(what);
    int fd = mkostemp(buf.data(), O_CLOEXEC);
    if (fd < 0) {
        fprintf(stderr, "tavrel-sim: cannot create a %s file: %s\n", what, strerror(errno));
        return -1;
    }
    *path = buf.data();
    return fd;
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

// Where a path's directory entry is: its directory resolved, then its
// name. A rename over the path replaces that entry, whatever it is.
std::string entry_of(const std::string& path)
{
    std::string copy = path, copy2 = path;
    const char* base = basename(copy.data());
    char dir[PATH_MAX];
    if (!realpath(dirname(copy2.data()), dir)) return path;
    return std::string(dir) + "/" + base;
}

// Refuses output paths that cannot work, before anything runs: one file
// named twice, the board itself, a directory.
bool check_paths(const Options& o)
{
    std::string board = entry_of(o.board_path);
    const std::string* names[] = {&o.vcd, &o.gtkw, &o.svg};
    const char* options[] = {"--vcd", "--gtkw", "--svg"};
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = i + 1; j < 3; ++j)
            if (!names[i]->empty() && !names[j]->empty() && entry_of(*names[i]) == entry_of(*names[j])) {
                fprintf(stderr, "tavrel-sim: %s and %s name the same file, %s\n", options[i], options[j],
                        names[i]->c_str());
                return false;
            }
    for (const std::string* name : names) {
        if (name->empty()) continue;
        const char* option = options[name == &o.vcd ? 0 : name == &o.gtkw ? 1 : 2];
        struct stat st;
        if (entry_of(*name) == board) {
            fprintf(stderr, "tavrel-sim: %s names the board file, %s\n", option, name->c_str());
            return false;
        }
        if (lstat(name->c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            fprintf(stderr, "tavrel-sim: %s names a directory, %s\n", option, name->c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

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

void Outputs::remove()
{
    if (body) fclose(body);
    body = nullptr;
    if (svg) fclose(svg);
    svg = nullptr;
    for (std::string* f : {&trace, &vcd_part, &gtkw_part, &svg_part, &vcd_body}) {
        if (!f->empty()) unlink(f->c_str());
        f->clear();
    }
    tree.remove();
}

// Outputs are checked before the command runs, and their scratch files
// removed however the run ends.
bool Outputs::prepare(const Options& o)
{
    if (!check_paths(o)) return false;
    if (!o.gtkw.empty() && (filters = find_filters()).empty()) {
        fprintf(stderr,
                "tavrel-sim: cannot find GTKWave's filters in share/tavrel-sim beside this program\n");
        return false;
    }
    if (!o.gtkw.empty() && !(gtkw = create_part(o.gtkw, &gtkw_part))) {
        fprintf(stderr, "tavrel-sim: cannot write %s: %s\n", o.gtkw.c_str(), strerror(errno));
        return false;
    }
    if (!o.vcd.empty() && !(vcd = create_part(o.vcd, &vcd_part))) {
        fprintf(stderr, "tavrel-sim: cannot write %s: %s\n", o.vcd.c_str(), strerror(errno));
        return false;
    }
    if (!o.svg.empty() && !(svg = create_part(o.svg, &svg_part))) {
        fprintf(stderr, "tavrel-sim: cannot write %s: %s\n", o.svg.c_str(), strerror(errno));
        return false;
    }
    if (vcd || svg) {
        int fd = create_scratch("waveform", &vcd_body);
        if (fd < 0) return false;
        if (!(body = fdopen(fd, "w+"))) {
            close(fd);
            return !output_failed(vcd_body.c_str());
        }
    }
    if (!tracing(o)) return true;
    int fd = create_scratch("trace", &trace);
    if (fd >= 0) close(fd);
    return fd >= 0;
}

namespace {

// A written output renamed over its name, unless the run's record is
// incomplete; false when writing or renaming failed.
bool publish(const std::string& name, std::string* part, bool written, bool failed)
{
    if (!written) return !output_failed(name.c_str());
    if (failed) {
        fprintf(stderr, "tavrel-sim: %s is not written, as the run's record is incomplete\n", name.c_str());
        return true;
    }
    if (rename(part->c_str(), name.c_str()) != 0) return !output_failed(name.c_str());
    part->clear();
    return true;
}

// The dump, written and renamed over its name; false when it failed.
bool finish_vcd(const Options& o, Outputs& out, const RunResult& r, bool failed)
{
    time_t now = time(nullptr);
    char date[64];
    strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S %Z", localtime(&now));
    bool ok = r.recorder->write_vcd(out.vcd, date, TAVREL_SIM_VERSION_TEXT);
    ok = fflush(out.vcd) == 0 && ok;
    ok = fsync(fileno(out.vcd)) == 0 && ok;
    ok = fclose(out.vcd) == 0 && ok;
    out.vcd = nullptr;
    return publish(o.vcd, &out.vcd_part, ok, failed);
}

// The save file for the dump; false when it failed.
bool finish_gtkw(const Options& o, Outputs& out, const RunResult& r, bool failed)
{
    FILE* f = out.gtkw;
    out.gtkw = nullptr;
    if (failed || !out.vcd_part.empty()) {
        fclose(f);  // no dump to describe
        return true;
    }
    char where[PATH_MAX];
    bool ok = realpath(o.vcd.c_str(), where) &&
              write_gtkw(f, where, r.recorder->touched(), out.filters.c_str(), r.recorder->soc());
    ok = fclose(f) == 0 && ok;
    if (!ok || rename(out.gtkw_part.c_str(), o.gtkw.c_str()) != 0) return !output_failed(o.gtkw.c_str());
    out.gtkw_part.clear();
    return true;
}

// The picture, written and renamed over its name; false when it failed.
bool finish_svg(const Options& o, Outputs& out, const RunResult& r, bool failed)
{
    uint64_t now = monotonic_ns(), end_us = now > r.t0_ns ? (now - r.t0_ns) / 1000 : 0;
    bool ok = r.recorder->write_svg(out.svg, end_us);
    ok = fclose(out.svg) == 0 && ok;
    out.svg = nullptr;
    return publish(o.svg, &out.svg_part, ok, failed);
}

// Prints the trace record by record; false when it is cut short.
bool print_trace(const std::string& path, Soc soc)
{
    bool whole = true;
    for_each_record(path, &whole,
                    [soc](const TraceRecord& rec) { printf("%s\n", describe(rec, soc).c_str()); });
    if (!whole) fprintf(stderr, "tavrel-sim: the trace file %s is cut short\n", path.c_str());
    return whole;
}

}  // namespace

bool report_run(Board& board, const Options& o, Outputs& out, RunResult& r)
{
    bool failed = r.status < 0;
    // The run's own counts; the board's, less what it had, when no slot
    // was to be had.
    uint32_t errors = board.errors() - r.errors_before, lost = board.trace_lost() - r.lost_before;
    if (r.run_id) board.end_run(r.run_id, &errors, &lost);
    if (lost) {
        fprintf(stderr, "tavrel-sim: %u trace records could not be written; the trace is incomplete\n", lost);
        failed = true;
    }
    if (out.tracing(o) && !print_trace(out.trace, board.soc())) failed = true;
    if (r.journal_lost) {
        fprintf(stderr,
                "tavrel-sim: %llu pin changes went by before they could be recorded (the run outpaced "
                "tavrel-sim); the changes and the waveform would be wrong, and are not given\n",
                static_cast<unsigned long long>(r.journal_lost));
        failed = true;
    }
    if (out.body && ferror(out.body)) failed = output_failed(out.vcd_body.c_str());
    if (out.vcd && !finish_vcd(o, out, r, failed)) failed = true;
    if (out.gtkw && !finish_gtkw(o, out, r, failed)) failed = true;
    if (out.svg && !finish_svg(o, out, r, failed)) failed = true;
    PinSnapshot after = board_snapshot(board);
    if (o.changes && r.recorder && !r.journal_lost)
        print_history(r.recorder->histories(), pin_count(after.soc));
    else if (o.changes && !r.recorder)
        print_changes(r.before, after);
    if (o.pins) print_pins(after);
    if (fflush(stdout) != 0 || ferror(stdout)) failed = output_failed("the standard output");
    if (errors)
        fprintf(stderr, "tavrel-sim: %u malformed accesses to the GPIO block (see --trace)\n", errors);
    return !failed;
}

bool output_failed(const char* what)
{
    fprintf(stderr, "tavrel-sim: cannot write %s: %s\n", what, strerror(errno));
    return true;
}

}  // namespace tavrel_sim::cli
