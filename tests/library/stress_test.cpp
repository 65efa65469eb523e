// SPDX-License-Identifier: MIT
// Stress: each test is bounded in count and time, stops by itself, and
// ends with every process gone with status 0 and the pins put back.
#include <signal.h>
#include <sys/time.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

#include "support/process.h"
#include "support/sim_board.h"
#include "tavrel.h"

using namespace tavrel_test;

namespace {

int mapping_count()
{
    std::ifstream maps("/proc/self/maps");
    int n = 0;
    for (std::string line; std::getline(maps, line);) ++n;
    return n;
}

TEST(Stress, ten_thousand_open_close_cycles_keep_the_mappings_stable)
{
    SimBoard board;
    board.set_fsel(3, 4);
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);  // a first cycle settles the shim
    tavrel_gpio_deinit();
    int before = mapping_count();
    for (int i = 0; i < 10000; ++i) {
        ASSERT_EQ(tavrel_gpio_init_noatexit(), 0) << "cycle " << i;
        tavrel_gpio_config_io(3, i & 1);
        tavrel_gpio_deinit();
    }
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizer's allocator maps memory of its own now and then; a
    // mapping left by each cycle would still show as thousands.
    EXPECT_LT(mapping_count() - before, 16);
#else
    EXPECT_EQ(mapping_count(), before);
#endif
    EXPECT_EQ(blocks_mapped(), 0);
    EXPECT_EQ(board.fsel(3), 4u) << "every close put pin 3 back";
}

std::atomic<long> storm_signals{0};
void count_signal(int)
{
    ++storm_signals;
}

TEST(Stress, descriptor_io_survives_a_storm_of_interrupting_signals)
{
    // Transfers of 1 MiB each, with a timer signal every 50 us and no
    // SA_RESTART, until 2000 signals have landed (at most 500 transfers).
    std::vector<char> data(1 << 20);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + (i >> 16));
    struct sigaction sa = {};
    sa.sa_handler = count_signal;
    sigaction(SIGALRM, &sa, nullptr);
    itimerval storm = {{0, 50}, {0, 50}};
    setitimer(ITIMER_REAL, &storm, nullptr);

    int transfers = 0;
    for (; transfers < 500 && storm_signals.load() < 2000; ++transfers) {
        int fds[2];
        ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
        std::thread writer([&] { EXPECT_EQ(tavrel_write_exact(fds[1], data.data(), data.size()), 0); });
        std::vector<char> got(data.size());
        for (size_t at = 0; at < got.size();) {
            size_t chunk = std::min<size_t>(16384, got.size() - at);
            int n = tavrel_read_with_timeout(fds[0], got.data() + at, chunk, 10000);
            ASSERT_EQ(n, static_cast<int>(chunk)) << "at " << at << ": " << strerror(errno);
            at += chunk;
        }
        writer.join();
        close(fds[0]);
        close(fds[1]);
        ASSERT_TRUE(got == data) << "transfer " << transfers;
    }
    itimerval off = {};
    setitimer(ITIMER_REAL, &off, nullptr);
    EXPECT_GE(storm_signals.load(), 2000) << "after " << transfers << " transfers";
    RecordProperty("signals", static_cast<int>(storm_signals.load()));
    RecordProperty("transfers", transfers);
}

}  // namespace
