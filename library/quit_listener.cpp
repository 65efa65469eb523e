// Quit listener: a thread that ends the process on the quit pattern of
// pins 24 to 27, or on SIGTERM or SIGINT.
#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
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
// Set when the listener has begun ending the process.
std::atomic<bool> quit_exiting{false};

constexpr unsigned kQuitPinFirst = 24;
constexpr uint32_t kAllHigh = 15;

void exit_handler(int sig)
{
    quit_signal.store(sig);
}

struct sigaction previous_term, previous_int;

void install_handlers()
{
    struct sigaction sa = {};
    sa.sa_handler = exit_handler;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, &previous_term);
    sigaction(SIGINT, &sa, &previous_int);
}

// Hands the two signals back to what the application had, delivering one
// that arrived in between.
void uninstall_handlers()
{
    sigaction(SIGTERM, &previous_term, nullptr);
    sigaction(SIGINT, &previous_int, nullptr);
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

void stop_quit_listener()
{
    if (!tavrel_quit_listener_started.load()) return;
    tavrel_shutdown_requested.store(1);
    // On the listener itself the close runs inside its exit(): no join.
    if (!pthread_equal(pthread_self(), tavrel_register_thread_id))
        pthread_join(tavrel_register_thread_id, nullptr);
    tavrel_quit_listener_started.store(0);
}

bool quit_pending()
{
    return quit_signal.load() != 0 || quit_exiting.load();
}

}  // namespace tavrel

using namespace tavrel;

extern "C" {

int tavrel_gpio_start_quit_listener(void)
{
    if (!open_block()) return 1;
    if (tavrel_quit_listener_started.load()) return 0;

    install_handlers();
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
    barrier();
    uint32_t code = (reg_read(block, GPLEV0) >> kQuitPinFirst) & 15;
    int quit = torav_prevquitstate == 0 && code == kAllHigh;
    torav_prevquitstate = static_cast<uint8_t>(code);
    return quit;
}

void* torav_pthread_loop(void*)
{
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
