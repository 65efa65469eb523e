// SPDX-License-Identifier: MIT
// The quit listener: the pattern on pins 24 to 27, SIGTERM and SIGINT, and
// how starting and closing meet.
#include <dirent.h>
#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>

#include <atomic>
#include <cstdlib>
#include <fstream>

#include "support/process.h"
#include "support/sim_board.h"
#include "tavrel.h"

using namespace tavrel_test;

// pthread_create as the library sees it: it can be made to fail, and the
// listener's signal mask is recorded as the thread starts, before it runs
// any of the library's code.
static std::atomic<int> fail_thread_create{0};
static sigset_t listener_start_mask;
static std::atomic<bool> listener_mask_recorded{false};

static void* record_listener_mask(void* arg)
{
    pthread_sigmask(SIG_SETMASK, nullptr, &listener_start_mask);
    listener_mask_recorded = true;
    return torav_pthread_loop(arg);
}

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*fn)(void*), void* arg)
{
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static Create real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    if (int err = fail_thread_create.exchange(0)) return err;
    if (fn == torav_pthread_loop) fn = record_listener_mask;
    return real(thread, attr, fn, arg);
}

namespace {

constexpr uint32_t kQuitMask = 0xFu << 24;

// Quit-listener threads of this process, by the name the library gives
// them: sanitizers and emulators run threads of their own.
int thread_count()
{
    int n = 0;
    DIR* d = opendir("/proc/self/task");
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name == "tavrel-quit") ++n;
    }
    closedir(d);
    return n;
}

// clang names ThreadSanitizer this way, GCC with __SANITIZE_THREAD__.
#if defined(__has_feature)
#define TSAN_BUILD __has_feature(thread_sanitizer)
#else
#define TSAN_BUILD 0
#endif

// The count once it reaches `expected`. Natively a joined thread is gone
// when the join returns; under qemu-user the host thread behind it may
// linger a moment, and a new one takes a moment to be named.
int thread_count_settled([[maybe_unused]] int expected)
{
#ifdef TAVREL_TEST_EMULATOR
    for (int i = 0; i < 2000 && thread_count() != expected; ++i) usleep(1000);
#endif
    return thread_count();
}

sighandler_t disposition(int sig)
{
    struct sigaction sa;
    sigaction(sig, nullptr, &sa);
    return sa.sa_handler;
}

void on_signal(int) {}

class QuitSample : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
        sample(5);  // forget whatever an earlier sample left
    }
    void TearDown() override { tavrel_gpio_deinit(); }

    int sample(uint32_t code)
    {
        board.drive_bank(0, code << 24);
        return tavrel_gpio_should_quit();
    }
    std::vector<int> samples(std::initializer_list<uint32_t> codes)
    {
        std::vector<int> r;
        for (uint32_t c : codes) r.push_back(sample(c));
        return r;
    }

    SimBoard board;
};

using Results = std::vector<int>;

TEST_F(QuitSample, low_then_high_quits_at_the_second_sample)
{
    EXPECT_EQ(samples({0, 15}), (Results{0, 1}));
}

TEST_F(QuitSample, any_code_in_between_starts_the_pattern_over)
{
    EXPECT_EQ(samples({0, 3, 15}), (Results{0, 0, 0}));
    EXPECT_EQ(samples({15, 0, 15}), (Results{0, 0, 1}));
}

TEST_F(QuitSample, holding_all_high_quits_once_only)
{
    EXPECT_EQ(samples({0, 15, 15}), (Results{0, 1, 0}));
}

TEST_F(QuitSample, other_pins_do_not_matter)
{
    board.drive_bank(0, 0xF0FFFFFF);
    EXPECT_EQ(tavrel_gpio_should_quit(), 0);
    board.drive_bank(0, 0x0F000000);
    EXPECT_EQ(tavrel_gpio_should_quit(), 1);
}

TEST(QuitSampleClosed, reports_quit_while_access_is_closed)
{
    EXPECT_EQ(tavrel_gpio_should_quit(), 1);
}

TEST(QuitSampleFirst, first_sample_after_load_never_quits)
{
    SimBoard board;
    board.drive_bank(0, kQuitMask);
    Outcome o = run(TAVREL_QUIT_APP, {"first-sample"});
    EXPECT_TRUE(o.exited_with(0));
    EXPECT_EQ(o.out, "0\n");
}

class Listener : public testing::Test {
protected:
    void TearDown() override { tavrel_gpio_deinit(); }
    SimBoard board;
};

TEST_F(Listener, start_before_init_returns_1_and_installs_nothing)
{
    signal(SIGTERM, on_signal);
    int threads = thread_count();
    EXPECT_EQ(tavrel_gpio_start_quit_listener(), 1);
    EXPECT_EQ(disposition(SIGTERM), on_signal);
    EXPECT_EQ(disposition(SIGINT), SIG_DFL);
    EXPECT_EQ(thread_count(), threads);
}

TEST_F(Listener, start_makes_pins_24_to_27_inputs_and_installs_handlers)
{
    for (unsigned pin = 23; pin <= 28; ++pin) board.set_fsel(pin, 1);
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    ASSERT_EQ(tavrel_gpio_start_quit_listener(), 0);
    EXPECT_EQ(board.fsel(23), 1u);
    for (unsigned pin = 24; pin <= 27; ++pin) EXPECT_EQ(board.fsel(pin), 0u) << pin;
    EXPECT_EQ(board.fsel(28), 1u);
    EXPECT_NE(disposition(SIGTERM), SIG_DFL);
    EXPECT_NE(disposition(SIGINT), SIG_DFL);
}

TEST_F(Listener, second_start_returns_0_and_creates_no_second_thread)
{
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    int threads = thread_count();
    ASSERT_EQ(tavrel_gpio_start_quit_listener(), 0);
    EXPECT_EQ(thread_count(), threads + 1);
    EXPECT_EQ(tavrel_gpio_start_quit_listener(), 0);
    EXPECT_EQ(thread_count(), threads + 1);
}

TEST_F(Listener, close_returns_after_the_listener_has_ended_and_restores_defaults)
{
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    int threads = thread_count();
    ASSERT_EQ(tavrel_gpio_start_quit_listener(), 0);
    tavrel_gpio_deinit();
    EXPECT_EQ(thread_count_settled(threads), threads);
    EXPECT_EQ(disposition(SIGTERM), SIG_DFL);
    EXPECT_EQ(disposition(SIGINT), SIG_DFL);
}

TEST_F(Listener, start_close_and_start_again)
{
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    int threads = thread_count();
    ASSERT_EQ(tavrel_gpio_start_quit_listener(), 0);
    tavrel_gpio_deinit();
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    EXPECT_EQ(tavrel_gpio_start_quit_listener(), 0);
    EXPECT_EQ(thread_count_settled(threads + 1), threads + 1);
    EXPECT_NE(disposition(SIGTERM), SIG_DFL);
}

TEST_F(Listener, listener_thread_blocks_no_synchronous_signal)
{
    // Read from inside the thread: under an emulator the kernel's view of a
    // thread's mask is the emulator's, not the program's. SIGSEGV stays
    // unblocked here: the simulated block needs it on this thread too.
    sigset_t faults, saved;
    sigemptyset(&faults);
    for (int sig : {SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGUSR1}) sigaddset(&faults, sig);
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    pthread_sigmask(SIG_BLOCK, &faults, &saved);
    ASSERT_EQ(tavrel_gpio_start_quit_listener(), 0);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    tavrel_gpio_deinit();  // the join orders the thread's record before these reads

    ASSERT_TRUE(listener_mask_recorded);
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP})
        EXPECT_FALSE(sigismember(&listener_start_mask, sig)) << strsignal(sig);
    EXPECT_TRUE(sigismember(&listener_start_mask, SIGUSR1)) << "the rest of the mask is the caller's";
}

TEST_F(Listener, listener_ignores_cancellation)
{
    Outcome o = in_child([] {
        alarm(20);
        tavrel_gpio_init();
        if (tavrel_gpio_start_quit_listener() != 0) _exit(4);
        pthread_cancel(tavrel_register_thread_id);
        usleep(50000);
        raise(SIGTERM);
        for (;;) pause();  // a cancelled listener leaves SIGTERM swallowed
    });
    EXPECT_TRUE(o.exited_with(0)) << describe(o.status);
}

TEST_F(Listener, failed_thread_creation_reports_and_hands_the_signals_back)
{
    signal(SIGTERM, on_signal);
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    int threads = thread_count();
    fail_thread_create = EAGAIN;
    testing::internal::CaptureStdout();
    int rc = tavrel_gpio_start_quit_listener();
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed to create ToRav thread (ERR: 11).\n");
    EXPECT_EQ(rc, EAGAIN);
    EXPECT_EQ(thread_count(), threads);
    EXPECT_EQ(disposition(SIGTERM), on_signal);
    EXPECT_EQ(disposition(SIGINT), SIG_DFL);

    EXPECT_EQ(tavrel_gpio_start_quit_listener(), 0) << "a later start tries again";
    EXPECT_EQ(thread_count(), threads + 1);
}

}  // namespace
