// SPDX-License-Identifier: MIT
// The run of a command on the board: started with the shim preloaded,
// driven on schedule, and sent the signals tavrel-sim is sent.
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "cli/cli.h"

namespace tavrel_sim::cli {

namespace {

// Applies one entry: all its pins change at once. A plain block has no
// model between the program and the level words: the drive goes there.
void apply(Board& board, bool plain, const Scheduled& d)
{
    uint32_t mask[2];
    pin_mask(d, mask);
    board.drive_pins(mask, d.drive);
    if (plain && d.drive != Drive::kRelease) board.drive_plain_levels(mask, d.drive == Drive::kHigh);
}

Board* run_board = nullptr;  // for the SIGCHLD handler

// The kernel's part when a process ends: its descriptors close, and a line
// request whose last copy that was is released. No process of the run
// says so when it is killed, so a thread looks, while lines are held,
// often enough that a dead holder's lines are free well within a second.
class Reaper {
public:
    explicit Reaper(Board& board) : board_(board)
    {
        if (pthread_create(&thread_, nullptr, loop, this) != 0) {
            fprintf(stderr, "tavrel-sim: no thread to free the lines of processes that end: %s\n",
                    strerror(errno));
            started_ = false;
        }
    }
    ~Reaper()
    {
        if (started_) {
            stop_.store(true);
            board_.wake_journal();
            pthread_join(thread_, nullptr);
        }
        board_.reap(nullptr);
    }
    Reaper(const Reaper&) = delete;
    Reaper& operator=(const Reaper&) = delete;

private:
    static void* loop(void* self)
    {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
        auto* r = static_cast<Reaper*>(self);
        BoardState state;
        while (!r->stop_.load()) {
            if (r->board_.holding()) {
                r->board_.reap(nullptr);
                usleep(kPeriodUs);
            } else {
                // A request is journaled: it ends this wait.
                r->board_.wait_journal(r->board_.snapshot(&state), 1000000);
            }
        }
        return nullptr;
    }

    static constexpr unsigned kPeriodUs = 20000;
    Board& board_;
    pthread_t thread_;
    bool started_ = true;
    std::atomic<bool> stop_{false};
};

// The command's end wakes the wait on the journal.
void on_child(int)
{
    if (Board* b = run_board) b->wake_journal();
}

// Takes what the journal holds, for the recorder.
void drain(Board& board, RunResult* r)
{
    JournalEntry batch[256];
    while (unsigned n = board.read_journal(&r->journal_next, batch, 256, &r->journal_lost))
        for (unsigned i = 0; i < n; ++i) r->recorder->take(batch[i]);
}

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
    struct sigaction child = {};
    child.sa_handler = on_child;
    child.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigaction(SIGCHLD, &child, nullptr);
}

void default_signals()
{
    for (int sig : kForwarded) signal(sig, SIG_DFL);
    signal(SIGCHLD, SIG_DFL);
}

// Waits for the command, applying the drives as their times come, and
// noting when each was applied.
// Waits for the command, applying the drives as their times come and,
// when recording, following the journal as it goes: asleep on it between
// entries, until the next drive is due or the command ends.
int wait_for(pid_t pid, Board& board, bool plain, std::vector<Scheduled> drives, RunResult* run)
{
    std::stable_sort(drives.begin(), drives.end(),
                     [](const Scheduled& a, const Scheduled& b) { return a.ms < b.ms; });
    size_t next = 0;
    for (;;) {
        bool waiting = next < drives.size() || run->recorder;
        int status;
        pid_t r = waitpid(pid, &status, waiting ? WNOHANG : 0);
        if (r == pid) {
            if (run->recorder) drain(board, run);
            return status;
        }
        if (r < 0 && errno != EINTR) return -1;
        uint64_t elapsed = monotonic_ns() - run->t0_ns;
        while (next < drives.size() && elapsed >= uint64_t(drives[next].ms) * 1000000)
            apply(board, plain, drives[next++]);
        if (run->recorder) drain(board, run);
        uint64_t due_us =
            next < drives.size() ? (uint64_t(drives[next].ms) * 1000000 - elapsed) / 1000 : 100000;
        if (run->recorder)
            board.wait_journal(run->journal_next, static_cast<uint32_t>(due_us < 100000 ? due_us : 100000));
        else if (next < drives.size())
            usleep(200);
    }
}

// The command, in the child: the board, the shim and the trace in its
// environment.
[[noreturn]] void exec_command(const Options& o, const Outputs& out, const std::string& shim,
                               const RunResult& r)
{
    default_signals();
    // After what is preloaded already: a sanitizer's runtime must stay first.
    std::string preload = shim;
    if (const char* old = getenv("LD_PRELOAD"); old && *old) preload = std::string(old) + ":" + shim;
    setenv(kBoardEnv, o.board_path.c_str(), 1);
    setenv("LD_PRELOAD", preload.c_str(), 1);
    if (out.tracing(o)) setenv(kTraceEnv, out.trace.c_str(), 1);
    if (o.plain) setenv(kModeEnv, "plain", 1);
    // Always set: the machine's own tree, if it has one, is not the board's.
    setenv(kDeviceTreeEnv,
           o.device_tree == "none" ? ""
           : o.device_tree.empty() ? out.tree.dir.c_str()
                                   : o.device_tree.c_str(),
           1);
    if (r.run_id) setenv(kRunEnv, std::to_string(r.run_id).c_str(), 1);
    execvp(o.rest[0], o.rest);
    fprintf(stderr, "tavrel-sim: cannot run %s: %s\n", o.rest[0], strerror(errno));
    _exit(127);
}

}  // namespace

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

bool run_command(Board& board, const Options& o, const Outputs& out, const std::string& shim, RunResult* r)
{
    r->before = board_snapshot(board);
    r->errors_before = board.errors();
    r->lost_before = board.trace_lost();
    r->run_id = board.begin_run();
    BoardState start;
    r->journal_next = board.snapshot(&start);
    r->t0_ns = monotonic_ns();
    if (out.recording(o)) r->recorder = std::make_unique<Recorder>(start, r->t0_ns, out.body);
    fflush(nullptr);
    take_signals();
    // Levels due at 0 ms are in place before the command can read them.
    std::vector<Scheduled> later;
    for (const Scheduled& d : o.drives) {
        if (d.ms > 0)
            later.push_back(d);
        else
            apply(board, o.plain, d);
    }
    pid_t pid = fork();
    if (pid < 0) {
        fprintf(stderr, "tavrel-sim: fork: %s\n", strerror(errno));
        return false;
    }
    if (pid == 0) exec_command(o, out, shim, *r);
    command_pid = pid;
    if (int sig = pending_signal) kill(pid, sig);
    run_board = &board;
    {
        Reaper reaper(board);
        r->status = wait_for(pid, board, o.plain, later, r);
    }
    if (r->recorder) drain(board, r);
    run_board = nullptr;
    return true;
}

}  // namespace tavrel_sim::cli
