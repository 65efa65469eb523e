// SPDX-License-Identifier: MIT
// Quit listener: a thread that ends the process on the quit pattern of
// pins 24 to 27, or on SIGTERM or SIGINT.
#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include "access.h"
#include "tavrel.h"

pthread_t tavrel_register_thread_id;

namespace tavrel {
namespace {

std::atomic<int> tavrel_quit_listener_started{0};
std::atomic<int> tavrel_shutdown_requested{0};

// Quit code of the previous sample. 55 is no code, so the first sample
// after load never completes the pattern.
uint8_t torav_prevquitstate = 55;

// The signal that asked for a quit, 0 for none. A signal handler may only
// record it: exit() is not async-signal-safe.
std::atomic<int> quit_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "signal handlers need a lock-free flag");
// Set when the listener, or a close carrying out a quit, has begun ending
// the process.
std::atomic<bool> quit_exiting{false};
// Set when the exit handler of tavrel_gpio_init runs.
std::atomic<bool> exit_handlers_running{false};

constexpr unsigned kQuitPinFirst = 24;
constexpr uint32_t kAllHigh = 15;

void exit_handler(int sig)
{
    quit_signal.store(sig);
}

struct sigaction previous_term, previous_int;

// Installs the recording handler, saving what was there when `save`.
void install_handlers(bool save)
{
    struct sigaction sa = {};
    sa.sa_handler = exit_handler;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, save ? &previous_term : nullptr);
    sigaction(SIGINT, &sa, save ? &previous_int : nullptr);
}

// Whether the recording handler is installed: a forked child of a process
// whose listener has been started.
std::atomic<bool> handlers_installed{false};
sigset_t mask_before_fork;

// Hands the two signals back to what the application had, delivering one
// that arrived in between.
void uninstall_handlers()
{
    sigaction(SIGTERM, &previous_term, nullptr);
    sigaction(SIGINT, &previous_int, nullptr);
    handlers_installed.store(false);
    if (int sig = quit_signal.exchange(0)) raise(sig);
}

// Creates the listener with the faults that the simulated board and
// debuggers rely on unblocked, whatever the caller's mask.
int create_listener()
{
    sigset_t mask, saved;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    static const int kFaults[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP};
    for (int sig : kFaults) sigdelset(&mask, sig);
    pthread_sigmask(SIG_SETMASK, &mask, &saved);
    int err = pthread_create(&tavrel_register_thread_id, nullptr, torav_pthread_loop, nullptr);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    return err;
}

}  // namespace

bool on_listener_thread()
{
    return pthread_equal(pthread_self(), tavrel_register_thread_id);
}

void stop_quit_listener()
{
    if (!tavrel_quit_listener_started.load()) return;
    tavrel_shutdown_requested.store(1);
    // On the listener itself the close runs inside its exit(): no join. A
    // listener that begins a quit instead of stopping never comes back
    // from its exit() to be joined: the wait ends when it does.
    if (!on_listener_thread()) {
        while (!quit_exiting.load() && pthread_tryjoin_np(tavrel_register_thread_id, nullptr) == EBUSY) {
            struct timespec pause = {0, 50000};
            nanosleep(&pause, nullptr);
        }
    }
    tavrel_quit_listener_started.store(0);
}

bool quit_pending()
{
    return quit_signal.load() != 0 || quit_exiting.load();
}

bool process_exiting()
{
    return quit_exiting.load() || exit_handlers_running.load();
}

void mark_process_exiting()
{
    exit_handlers_running.store(true);
}

void carry_out_quit()
{
    if (process_exiting()) return;
    quit_exiting.store(true);
    exit(0);
}

void reset_quit_signals()
{
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    handlers_installed.store(false);
    // A signal recorded between the caller's check and the reset would be
    // left behind, its quit never carried out.
    if (quit_signal.load()) {
        install_handlers(false);  // to absorb the rest of a burst
        handlers_installed.store(true);
        carry_out_quit();
    }
}

// Runs in the forking thread. With both signals blocked there, one sent to
// the child before its handler below has run stays pending until then;
// the parent's other threads, the listener among them, still take them.
void listener_before_fork()
{
    if (!handlers_installed.load()) return;
    sigset_t both;
    sigemptyset(&both);
    sigaddset(&both, SIGTERM);
    sigaddset(&both, SIGINT);
    pthread_sigmask(SIG_BLOCK, &both, &mask_before_fork);
}

void listener_after_fork_in_parent()
{
    if (handlers_installed.load()) pthread_sigmask(SIG_SETMASK, &mask_before_fork, nullptr);
}

// Only async-signal-safe calls: the child of a threaded process may run
// nothing else before exec.
void listener_after_fork_in_child()
{
    // The listener thread was not copied into the child.
    tavrel_quit_listener_started.store(0);
    quit_exiting.store(false);
    exit_handlers_running.store(false);
    if (!handlers_installed.load()) return;
    // A signal the parent recorded was for the parent, which acts on it.
    quit_signal.store(0);
    sigaction(SIGTERM, &previous_term, nullptr);
    sigaction(SIGINT, &previous_int, nullptr);
    handlers_installed.store(false);
    // Any signal sent to the child meanwhile is delivered now, under the
    // application's own disposition.
    pthread_sigmask(SIG_SETMASK, &mask_before_fork, nullptr);
}

}  // namespace tavrel

using namespace tavrel;

extern "C" {

int tavrel_gpio_start_quit_listener(void)
{
    if (!open_block()) return 1;
    if (tavrel_quit_listener_started.load()) return 0;

    install_handlers(true);
    handlers_installed.store(true);
    for (int32_t pin = kQuitPinFirst; pin < int32_t(kQuitPinFirst + 4); ++pin) tavrel_gpio_config_io(pin, 0);
    tavrel_shutdown_requested.store(0);

    int err = create_listener();
    if (err != 0) {
        printf("Failed to create ToRav thread (ERR: %d).\n", err);
        // Without a listener the handlers would swallow the signals.
        uninstall_handlers();
        return err;
    }
    pthread_setname_np(tavrel_register_thread_id, "tavrel-quit");  // for ps, top and debuggers
    tavrel_quit_listener_started.store(1);
    return 0;
}

int tavrel_gpio_should_quit(void)
{
    Block block = open_block();
    if (!block) return 1;
    uint32_t code;
    if (is_rp1(block)) {
        static_assert(kQuitPinFirst == 24, "the RP1's sample is of pins 24 to 27");
        code = rp1_quit_pins(untagged(block));
    } else {
        barrier();
        code = (reg_read(block, GPLEV0) >> kQuitPinFirst) & 15;
    }
    int quit = torav_prevquitstate == 0 && code == kAllHigh;
    torav_prevquitstate = static_cast<uint8_t>(code);
    return quit;
}

void* torav_pthread_loop(void*)
{
    // Cancelled, it would leave the handlers installed with no thread to
    // act on what they record.
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    while (!tavrel_shutdown_requested.load()) {
        if (quit_signal.load() || tavrel_gpio_should_quit()) {
            quit_exiting.store(true);
            exit(0);
        }
        usleep(100);
        sched_yield();
    }
    return nullptr;
}

}  // extern "C"
