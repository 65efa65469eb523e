// SPDX-License-Identifier: MIT
// A small application of the library, driven by the quit-listener tests.
//   quit_app first-sample          print one should_quit() sample
//   quit_app listen [THREADS]      open, start the listener, make pin 5 an
//                                  output, run THREADS threads that drive
//                                  pins, print "ready", and wait for a quit
//   quit_app close-during-signal   open, start the listener, then close
//                                  with SIGTERM arriving as the listener
//                                  is joined
//   quit_app exit-during-signal    as close-during-signal, in the close of
//                                  exit(3)
//   quit_app fork-during-signal    as close-during-signal, forking right
//                                  after the signal; the child prints
//                                  "child went on" after its close
//   quit_app deinit-in-atexit      as listen, with an exit handler of its
//                                  own, registered first, that closes
//                                  access and then prints "close finished"
//   quit_app signal-before-reset   open, start the listener, then close
//                                  with SIGINT arriving just before the
//                                  close resets the signals
//   quit_app fork-listening        open, start the listener, fork; the
//                                  child prints "child PID" and waits, or
//                                  with "restart" starts its own listener
//                                  first
//   quit_app restart               listen as above after a close and a
//                                  second open and start
//   quit_app listen-check-handler  as listen; at exit, after the library's
//                                  own handler, reports SIGTERM's action
//   quit_app cycles N              N rounds of open, start, close; then
//                                  prints "done"
//   quit_app bytes                 make pins 4 to 11 outputs, then drive
//                                  them with 0xA5 and then 0x5A
#include <dirent.h>
#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>

#include "tavrel.h"

namespace {

// Under AddressSanitizer, returns once every other thread of this process
// has been seen asleep in the kernel. Its allocator is not fork-safe: a
// fork while a new thread is still in its start-up, which allocates,
// leaves the allocator's lock held in the child for good.
void wait_until_other_threads_sleep()
{
#if defined(__SANITIZE_ADDRESS__)
    long self = syscall(SYS_gettid);
    for (int round = 0; round < 5000; ++round) {
        bool all = true;
        DIR* tasks = opendir("/proc/self/task");
        if (!tasks) return;
        while (dirent* e = readdir(tasks)) {
            long tid = atol(e->d_name);
            if (tid <= 0 || tid == self) continue;
            char path[64];
            snprintf(path, sizeof path, "/proc/self/task/%ld/syscall", tid);
            FILE* f = fopen(path, "r");
            long nr = -1;
            if (f) {
                if (fscanf(f, "%ld", &nr) != 1) nr = -1;
                fclose(f);
            }
            bool asleep = nr == SYS_clock_nanosleep || nr == SYS_nanosleep;
#ifdef SYS_clock_nanosleep_time64
            asleep = asleep || nr == SYS_clock_nanosleep_time64;
#endif
            if (!asleep) all = false;
        }
        closedir(tasks);
        if (all) return;
        usleep(1000);
    }
#endif
}

bool signal_in_join = false;
bool fork_in_join = false;
bool signal_before_reset = false;

void* drive_pins(void* arg)
{
    // One function-select word per thread, as the library asks of callers.
    static const int32_t kPins[] = {6, 16, 36, 46};
    int32_t pin = kPins[reinterpret_cast<intptr_t>(arg) % 4];
    for (uint32_t i = 0;; ++i) {
        tavrel_gpio_config_io(pin, 1);
        tavrel_gpio_set_val(pin, i & 1);
        (void)tavrel_gpio_get_val(pin);
        tavrel_gpio_set_byte(40, static_cast<int32_t>(i));
        (void)tavrel_gpio_get_byte(40);
    }
    return nullptr;
}

}  // namespace

// The library joins the listener through one of these definitions; they
// can raise a signal right after the listener has ended, inside the close.
extern "C" int pthread_join(pthread_t thread, void** result)
{
    using Join = int (*)(pthread_t, void**);
    static Join real = reinterpret_cast<Join>(dlsym(RTLD_NEXT, "pthread_join"));
    int rc = real(thread, result);
    if (signal_in_join) raise(SIGTERM);
    return rc;
}

extern "C" int pthread_tryjoin_np(pthread_t thread, void** result)
{
    using Join = int (*)(pthread_t, void**);
    static Join real = reinterpret_cast<Join>(dlsym(RTLD_NEXT, "pthread_tryjoin_np"));
    int rc = real(thread, result);
    if (rc == 0 && signal_in_join) {
        raise(SIGTERM);
        // The parent has recorded the quit and not yet acted on it.
        if (fork_in_join) fork();
    }
    return rc;
}

// The library resets SIGTERM and then SIGINT through this definition.
extern "C" sighandler_t signal(int sig, sighandler_t handler)
{
    using Signal = sighandler_t (*)(int, sighandler_t);
    static Signal real = reinterpret_cast<Signal>(dlsym(RTLD_NEXT, "signal"));
    if (signal_before_reset && sig == SIGTERM && handler == SIG_DFL) {
        signal_before_reset = false;
        raise(SIGINT);
    }
    return real(sig, handler);
}

namespace {

// ---- the modes, one function each ----------------------------------------

int run_bytes(int, char**)
{
    if (tavrel_gpio_init_noatexit() != 0) return 2;
    for (int pin = 4; pin < 12; ++pin) tavrel_gpio_config_io(pin, 1);
    tavrel_gpio_set_byte(4, 0xA5);
    usleep(2000);
    tavrel_gpio_set_byte(4, 0x5A);
    return 0;
}

int run_first_sample(int, char**)
{
    if (tavrel_gpio_init_noatexit() != 0) return 2;
    printf("%d\n", tavrel_gpio_should_quit());
    return 0;
}

int run_fork_listening(int argc, char** argv)
{
    if (tavrel_gpio_init() != 0) return 2;
    if (tavrel_gpio_start_quit_listener() != 0) return 5;
    bool restart = argc > 2 && strcmp(argv[2], "restart") == 0;
    wait_until_other_threads_sleep();
    pid_t pid = fork();
    if (pid == 0) {
        alarm(20);  // a child that swallows SIGTERM ends by SIGALRM
        if (restart && tavrel_gpio_start_quit_listener() != 0) _exit(6);
        // Straight to the descriptor: the listener's exit flushes every
        // stdio stream without its lock, so a line that another thread
        // is still flushing (stdout, or dprintf's own) comes out twice.
        char line[32];
        int n = snprintf(line, sizeof line, "child %d\n", getpid());
        (void)!write(STDOUT_FILENO, line, static_cast<size_t>(n));
        for (;;) pause();
    }
    int status;
    while (waitpid(pid, &status, 0) < 0) {
    }
    printf("child %s %d\n", WIFEXITED(status) ? "exit" : "signal",
           WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
    return 0;
}

// A close that marked access closed before stopping the listener would let
// its sample see "closed", take it for a quit, and exit in the middle of
// the close.
int run_cycles(int argc, char** argv)
{
    long n = argc > 2 ? atol(argv[2]) : 0;
    for (long i = 0; i < n; ++i) {
        if (tavrel_gpio_init_noatexit() != 0) return 2;
        if (tavrel_gpio_start_quit_listener() != 0) return 5;
        tavrel_gpio_deinit();
    }
    (void)!write(STDOUT_FILENO, "done\n", 5);
    return 0;
}

// Access open, pin 5 an output and the listener started; 0, or the status
// to end with.
int start_listening()
{
    // Registered first, so it runs last: tells which thread ended the
    // process.
    atexit([] {
        const char* who = gettid() == getpid() ? "exit on main thread\n" : "exit on another thread\n";
        (void)!write(1, who, strlen(who));
    });
    if (tavrel_gpio_init() != 0) return 2;
    tavrel_gpio_config_io(5, 1);
    int rc = tavrel_gpio_start_quit_listener();
    return rc != 0 ? 10 + rc : 0;
}

// Listening, with as many threads driving pins as argv[2] says, until a
// signal ends the process.
int run_listen(int argc, char** argv)
{
    if (int rc = start_listening()) return rc;
    long threads = argc > 2 ? atol(argv[2]) : 0;
    for (long t = 0; t < threads; ++t) {
        pthread_t id;
        pthread_create(&id, nullptr, drive_pins, reinterpret_cast<void*>(t));
    }
    (void)!write(STDOUT_FILENO, "ready\n", 6);  // not stdio: see run_fork_listening
    for (;;) pause();
}

int run_deinit_in_atexit(int argc, char** argv)
{
    atexit([] {
        tavrel_gpio_deinit();
        (void)!write(1, "close finished\n", 15);
    });
    return run_listen(argc, argv);
}

// Runs after the library's exit handler: during a quit, the library's
// SIGTERM handler must still be in place there.
int run_listen_check_handler(int argc, char** argv)
{
    atexit([] {
        struct sigaction sa;
        sigaction(SIGTERM, nullptr, &sa);
        const char* what =
            sa.sa_handler == SIG_DFL ? "SIGTERM default at exit\n" : "SIGTERM handled at exit\n";
        (void)!write(1, what, strlen(what));
    });
    return run_listen(argc, argv);
}

// A close, and a second open and start: that listener must act.
int run_restart(int, char**)
{
    if (int rc = start_listening()) return rc;
    tavrel_gpio_deinit();
    if (tavrel_gpio_init() != 0) return 2;
    tavrel_gpio_config_io(5, 1);
    if (tavrel_gpio_start_quit_listener() != 0) return 5;
    (void)!write(STDOUT_FILENO, "ready\n", 6);
    for (;;) pause();
}

// The application's own slow exit handler, run by the listener's quit;
// meanwhile main calls exit(3) itself.
std::atomic<bool> listener_in_exit{false};

int run_exit_race(int, char**)
{
    if (int rc = start_listening()) return rc;
    tavrel_gpio_config_io(17, 1);
    atexit([] {
        listener_in_exit.store(true);
        usleep(20000);
    });
    (void)!write(STDOUT_FILENO, "ready\n", 6);
    while (!listener_in_exit.load()) usleep(100);
    exit(3);
}

int run_signal_before_reset(int, char**)
{
    if (int rc = start_listening()) return rc;
    signal_before_reset = true;
    tavrel_gpio_deinit();
    return 3;  // the signal was lost
}

int run_close_during_signal(int, char**)
{
    if (int rc = start_listening()) return rc;
    signal_in_join = true;
    tavrel_gpio_deinit();
    return 3;  // the signal was lost
}

// exit(3), with SIGTERM arriving as the exit's close joins the listener:
// the process is already ending, with the status it chose.
int run_exit_during_signal(int, char**)
{
    if (int rc = start_listening()) return rc;
    signal_in_join = true;
    exit(3);
}

// A close with SIGTERM arriving as the listener is joined, and a fork right
// after: the quit is the parent's, and the child's close returns.
int run_fork_during_signal(int, char**)
{
    if (int rc = start_listening()) return rc;
    pid_t parent = getpid();
    signal_in_join = fork_in_join = true;
    tavrel_gpio_deinit();
    if (getpid() != parent) {
        (void)!write(STDOUT_FILENO, "child went on\n", 14);
        _exit(5);
    }
    return 3;  // the parent's quit was lost
}

struct Mode {
    const char* name;
    int (*run)(int argc, char** argv);
};

const Mode kModes[] = {
    {"bytes", run_bytes},
    {"first-sample", run_first_sample},
    {"fork-listening", run_fork_listening},
    {"cycles", run_cycles},
    {"listen", run_listen},
    {"deinit-in-atexit", run_deinit_in_atexit},
    {"listen-check-handler", run_listen_check_handler},
    {"restart", run_restart},
    {"exit-race", run_exit_race},
    {"signal-before-reset", run_signal_before_reset},
    {"close-during-signal", run_close_during_signal},
    {"exit-during-signal", run_exit_during_signal},
    {"fork-during-signal", run_fork_during_signal},
};

}  // namespace

int main(int argc, char** argv)
{
    const char* mode = argc > 1 ? argv[1] : "";
    for (const Mode& m : kModes)
        if (strcmp(mode, m.name) == 0) return m.run(argc, argv);
    return 4;
}
