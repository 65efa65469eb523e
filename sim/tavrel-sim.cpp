// tavrel-sim: runs a program that uses libtavrel against the simulated
// board, and reports what it did to the pins.
#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <libgen.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "board.h"

using namespace tavrel_sim;

namespace {

constexpr unsigned kShownPins = 54;

const char kHelp[] =
    "Usage: tavrel-sim [options] -- COMMAND [ARGS...]\n"
    "Runs COMMAND against the simulated GPIO board and exits with its status.\n"
    "\n"
    "  --board FILE   the board file (default: /tmp/tavrel-sim-UID.board)\n"
    "  --reset        start from a board with every register 0\n"
    "  --pins         print pins 0 to 53 after the command: function, level\n"
    "  --changes      print the pins whose function or level the command changed\n"
    "  --help         print this text\n";

struct Snapshot {
    uint32_t regs[kPageBytes / 4];
};

const char* function_name(unsigned code)
{
    static const char* const names[8] = {"input", "output", "alt5", "alt4",
                                         "alt0",  "alt1",   "alt2", "alt3"};
    return names[code & 7];
}

unsigned fsel(const Snapshot& s, unsigned pin)
{
    return (s.regs[pin / 10] >> (3 * (pin % 10))) & 7;
}

unsigned level(const Snapshot& s, unsigned pin)
{
    return (s.regs[13 + pin / 32] >> (pin % 32)) & 1;
}

// Opens (creating if needed) and maps the board file.
volatile uint32_t* map_board(const std::string& path, bool reset)
{
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        fprintf(stderr, "tavrel-sim: cannot open board file %s: %s\n", path.c_str(), strerror(errno));
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        fprintf(stderr, "tavrel-sim: board file %s is not a regular file\n", path.c_str());
        close(fd);
        return nullptr;
    }
    if ((reset && ftruncate(fd, 0) != 0) || ftruncate(fd, kBoardBytes) != 0) {
        fprintf(stderr, "tavrel-sim: cannot size board file %s: %s\n", path.c_str(), strerror(errno));
        close(fd);
        return nullptr;
    }
    void* map = mmap(nullptr, kBoardBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (map == MAP_FAILED) {
        fprintf(stderr, "tavrel-sim: cannot map board file %s: %s\n", path.c_str(), strerror(errno));
        return nullptr;
    }
    return static_cast<volatile uint32_t*>(map);
}

Snapshot snapshot(volatile uint32_t* regs)
{
    Snapshot s;
    for (unsigned w = 0; w < kPageBytes / 4; ++w) s.regs[w] = regs[w];
    return s;
}

void print_pins(const Snapshot& s)
{
    printf("pin  function  level\n");
    for (unsigned p = 0; p < kShownPins; ++p) printf("%3u  %-8s  %u\n", p, function_name(fsel(s, p)), level(s, p));
}

void print_changes(const Snapshot& before, const Snapshot& after)
{
    bool any = false;
    for (unsigned p = 0; p < kShownPins; ++p) {
        unsigned f0 = fsel(before, p), f1 = fsel(after, p);
        unsigned l0 = level(before, p), l1 = level(after, p);
        if (f0 != f1) printf("pin %u: %s -> %s\n", p, function_name(f0), function_name(f1));
        if (l0 != l1) printf("pin %u: level %u -> %u\n", p, l0, l1);
        any = any || f0 != f1 || l0 != l1;
    }
    if (!any) printf("no pin changed\n");
}

// The shim sits beside this program in the build tree, and in the library
// directory of an installed tree.
std::string find_shim()
{
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return {};
    exe[n] = '\0';
    std::string dir = dirname(exe);
    for (const char* rel : {"/libtavrel-sim.so", "/../" TAVREL_SIM_LIBDIR "/libtavrel-sim.so"}) {
        std::string candidate = dir + rel;
        if (access(candidate.c_str(), R_OK) == 0) return candidate;
    }
    return {};
}

}  // namespace

int main(int argc, char** argv)
{
    enum { kBoard = 1, kReset, kPins, kChanges, kHelpOpt };
    static const option longopts[] = {
        {"board", required_argument, nullptr, kBoard}, {"reset", no_argument, nullptr, kReset},
        {"pins", no_argument, nullptr, kPins},         {"changes", no_argument, nullptr, kChanges},
        {"help", no_argument, nullptr, kHelpOpt},      {nullptr, 0, nullptr, 0},
    };

    char default_board[256];
    default_board_path(default_board, sizeof default_board);
    std::string board = default_board;
    bool reset = false, pins = false, changes = false;

    int opt;
    // "+": stop at the first non-option, which starts the command.
    while ((opt = getopt_long(argc, argv, "+", longopts, nullptr)) != -1) {
        switch (opt) {
        case kBoard: board = optarg; break;
        case kReset: reset = true; break;
        case kPins: pins = true; break;
        case kChanges: changes = true; break;
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
        fprintf(stderr, "tavrel-sim: cannot find libtavrel-sim.so beside this program\n");
        return 2;
    }
    volatile uint32_t* regs = map_board(board, reset);
    if (!regs) return 2;
    Snapshot before = snapshot(regs);

    std::string preload = shim;
    if (const char* old = getenv("LD_PRELOAD"); old && *old) preload += std::string(":") + old;

    pid_t pid = fork();
    if (pid < 0) {
        fprintf(stderr, "tavrel-sim: fork: %s\n", strerror(errno));
        return 2;
    }
    if (pid == 0) {
        setenv(kBoardEnv, board.c_str(), 1);
        setenv("LD_PRELOAD", preload.c_str(), 1);
        execvp(argv[optind], argv + optind);
        fprintf(stderr, "tavrel-sim: cannot run %s: %s\n", argv[optind], strerror(errno));
        _exit(127);
    }
    int status;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return 2;
    fflush(stdout);

    Snapshot after = snapshot(regs);
    if (changes) print_changes(before, after);
    if (pins) print_pins(after);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
