// SPDX-License-Identifier: MIT
// Opening and closing GPIO access: mapping, snapshot, restore, exit handler.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <thread>

#include "support/process.h"
#include "support/sim_board.h"
#include "tavrel.h"

using namespace tavrel_test;

namespace {

class Access : public testing::Test {
protected:
    void TearDown() override { tavrel_gpio_deinit(); }
    SimBoard board;
};

void on_signal(int) {}

bool default_disposition(int sig)
{
    struct sigaction sa;
    sigaction(sig, nullptr, &sa);
    return sa.sa_handler == SIG_DFL;
}

TEST_F(Access, init_returns_0_and_opens_the_device_read_write_sync_cloexec)
{
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    int flags = last_open_flags("/dev/gpiomem");
    EXPECT_EQ(flags & O_ACCMODE, O_RDWR);
    EXPECT_EQ(flags & O_SYNC, O_SYNC);
    EXPECT_EQ(flags & O_CLOEXEC, O_CLOEXEC);
}

TEST_F(Access, operations_reach_the_board_once_open)
{
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    tavrel_gpio_config_io(2, 1);
    EXPECT_EQ(board.fsel(2), 1u);
}

TEST_F(Access, missing_device_prints_message_returns_1_and_stays_closed)
{
    board.unplug();
    Outcome o = in_child([] {
        int rc = tavrel_gpio_init_noatexit();
        tavrel_gpio_config_io(2, 1);
        exit(rc == 1 ? 0 : 10 + rc);
    });
    EXPECT_TRUE(o.exited_with(0)) << o.status;
    EXPECT_EQ(o.out, "gpio open failed\n");
    EXPECT_EQ(board.fsel(2), 0u);
}

TEST_F(Access, failed_mapping_prints_message_and_exits_with_1)
{
    board.unmappable();
    Outcome o = in_child([] {
        tavrel_gpio_init_noatexit();
        _exit(99);
    });
    EXPECT_TRUE(o.exited_with(1)) << o.status;
    EXPECT_EQ(o.out, "Failed to create GPIO MMAP.\n");
}

TEST_F(Access, failed_init_still_registers_close_which_resets_signals_at_exit)
{
    board.unplug();
    Outcome o = in_child([] {
        // Exit handlers run in reverse order: this one runs after the
        // library's close and reports what it left.
        atexit([] { _exit(default_disposition(SIGTERM) && default_disposition(SIGINT) ? 0 : 3); });
        signal(SIGTERM, on_signal);
        signal(SIGINT, on_signal);
        if (tavrel_gpio_init() != 1) _exit(4);
    });
    EXPECT_TRUE(o.exited_with(0)) << o.status;
}

TEST_F(Access, deinit_resets_sigterm_and_sigint_even_when_closed)
{
    signal(SIGTERM, on_signal);
    signal(SIGINT, on_signal);
    tavrel_gpio_deinit();
    EXPECT_TRUE(default_disposition(SIGTERM));
    EXPECT_TRUE(default_disposition(SIGINT));
}

TEST_F(Access, deinit_unmaps_and_may_be_called_again)
{
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    EXPECT_EQ(blocks_mapped(), 1);
    tavrel_gpio_deinit();
    tavrel_gpio_deinit();
    EXPECT_EQ(blocks_mapped(), 0);
    EXPECT_EQ(tavrel_gpio_get_val(0), 0);
}

TEST_F(Access, open_reads_function_select_words_0_to_2_then_the_level_word)
{
    REQUIRE_TRAPPING();
    board.set_word(0, 1);
    board.set_word(1, 2);
    board.set_word(2, 3);
    board.drive(24, true);
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    EXPECT_EQ(board.trace(), (Accesses{R(0, 1), R(1, 2), R(2, 3), R(GPLEV0, 1u << 24)}));
}

TEST_F(Access, init_while_open_keeps_the_mapping_and_first_snapshot)
{
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    tavrel_gpio_config_io(3, 1);
    board.clear_trace();
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    EXPECT_EQ(blocks_mapped(), 1);
    EXPECT_EQ(board.trace(), Accesses{}) << "no second snapshot";

    tavrel_gpio_deinit();
    EXPECT_EQ(board.fsel(3), 0u) << "close must restore the state from before the first init";
    EXPECT_EQ(blocks_mapped(), 0);
}

TEST_F(Access, close_restores_changed_fields_of_pins_0_to_29_only)
{
    board.set_word(0, 01234567012);  // octal: one field per digit
    board.set_word(1, 07654321076);
    board.set_word(2, 01111111111);
    board.set_word(3, 02222222222);
    Registers before = board.all();

    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    tavrel_gpio_config_io(3, 0);
    tavrel_gpio_set_alt(15, 2);
    tavrel_gpio_config_io(29, 1);
    tavrel_gpio_config_io(35, 1);
    tavrel_gpio_deinit();

    EXPECT_EQ(board.word(0), before[0]);
    EXPECT_EQ(board.word(1), before[1]);
    EXPECT_EQ(board.word(2), before[2]);
    EXPECT_EQ(board.fsel(35), 1u) << "pins 30 and above are not put back";
}

TEST_F(Access, close_leaves_fields_this_process_did_not_change)
{
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    tavrel_gpio_config_io(3, 1);
    // Another process changes pin 5 in the same word, and all of word 1.
    board.set_fsel(5, 4);
    board.set_word(1, 0x12345678);
    tavrel_gpio_deinit();

    EXPECT_EQ(board.fsel(3), 0u);
    EXPECT_EQ(board.fsel(5), 4u);
    EXPECT_EQ(board.word(1), 0x12345678u);
}

TEST_F(Access, close_reads_and_writes_only_words_holding_a_changed_pin)
{
    REQUIRE_TRAPPING();
    board.set_word(2, 07000000000);
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    tavrel_gpio_config_io(21, 1);
    tavrel_gpio_config_io(29, 1);
    board.clear_trace();
    tavrel_gpio_deinit();
    EXPECT_EQ(board.trace(), (Accesses{R(2, 01000000010), W(2, 07000000000)}))
        << "no level word write, no write of words 0 and 1";
}

TEST_F(Access, close_puts_words_back_in_ascending_order)
{
    REQUIRE_TRAPPING();
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    tavrel_gpio_config_io(25, 1);
    tavrel_gpio_config_io(3, 1);
    tavrel_gpio_config_io(14, 1);
    board.clear_trace();
    tavrel_gpio_deinit();
    EXPECT_EQ(board.trace(), (Accesses{R(0, 01000), W(0, 0), R(1, 010000), W(1, 0), R(2, 0100000), W(2, 0)}))
        << "words 0, 1, 2, whatever the order of the changes";
}

TEST_F(Access, exit_handler_from_init_restores_pins_at_exit)
{
    Outcome o = in_child([] {
        tavrel_gpio_init();
        tavrel_gpio_config_io(7, 1);
        tavrel_gpio_config_io(33, 1);
    });
    EXPECT_TRUE(o.exited_with(0));
    EXPECT_EQ(board.fsel(7), 0u);
    EXPECT_EQ(board.fsel(33), 1u);
}

TEST_F(Access, operations_racing_a_close_never_find_access_closed_half_way)
{
    // Closing while operations run breaks the contract, but an operation
    // that has passed its check must still use the block it checked, never
    // a null pointer read again later.
    REQUIRE_TRAPPING();
    board.allow_errors();  // late accesses to the closed block are reported
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop) {
            tavrel_gpio_set_val(40, 1);
            (void)tavrel_gpio_get_val(40);
            tavrel_gpio_config_io(41, 1);
            (void)tavrel_gpio_get_byte(40);
        }
    });
    for (int i = 0; i < 3000; ++i) {
        ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
        tavrel_gpio_deinit();
    }
    stop = true;
    worker.join();
    EXPECT_EQ(blocks_mapped(), 0);
}

TEST_F(Access, close_at_exit_leaves_the_block_mapped_for_threads_still_running)
{
    Outcome o = in_child([] {
        // Runs after the library's close, which was registered later.
        atexit([] { _exit(blocks_mapped() == 1 ? 0 : 5); });
        tavrel_gpio_init();
        tavrel_gpio_config_io(7, 1);
    });
    EXPECT_TRUE(o.exited_with(0)) << "the board was unmapped: " << o.status;
    EXPECT_EQ(board.fsel(7), 0u) << "the restore was still written";
}

TEST_F(Access, init_noatexit_leaves_pins_as_set_at_exit)
{
    Outcome o = in_child([] {
        tavrel_gpio_init_noatexit();
        tavrel_gpio_config_io(7, 1);
    });
    EXPECT_TRUE(o.exited_with(0));
    EXPECT_EQ(board.fsel(7), 1u);
}

TEST_F(Access, init_called_twice_closes_twice_at_exit_without_harm)
{
    board.set_fsel(7, 1);
    Outcome o = in_child([] {
        tavrel_gpio_init();
        tavrel_gpio_init();
        tavrel_gpio_config_io(7, 0);
    });
    EXPECT_TRUE(o.exited_with(0));
    EXPECT_EQ(board.fsel(7), 1u);
}

// Forks from a process that opened access with the exit handler, runs
// `child` in the child, which then exits, and waits for it.
template <typename Fn>
void fork_and_exit(Fn child)
{
    pid_t pid = fork();
    if (pid == 0) {
        child();
        exit(0);
    }
    int status;
    waitpid(pid, &status, 0);
}

TEST_F(Access, forked_child_leaves_the_parents_pins_alone)
{
    Outcome o = in_child([this] {
        tavrel_gpio_init();
        tavrel_gpio_config_io(7, 1);
        fork_and_exit([] {});
        _exit(board.fsel(7) == 1 ? 0 : 3);
    });
    EXPECT_TRUE(o.exited_with(0)) << "the child's exit put pin 7 back: " << describe(o.status);
}

TEST_F(Access, forked_child_puts_back_only_its_own_changes_to_their_state_at_the_fork)
{
    Outcome o = in_child([this] {
        tavrel_gpio_init();
        tavrel_gpio_config_io(7, 1);
        tavrel_gpio_config_io(9, 1);
        fork_and_exit([] {
            tavrel_gpio_set_alt(9, 0);
            tavrel_gpio_config_io(8, 1);
        });
        bool ok = board.fsel(7) == 1 && board.fsel(8) == 0 && board.fsel(9) == 1;
        fork_and_exit([] {
            tavrel_gpio_config_io(8, 1);
            tavrel_gpio_deinit();  // an explicit close does the same
        });
        _exit(ok && board.fsel(8) == 0 && board.fsel(7) == 1 ? 0 : 3);
    });
    EXPECT_TRUE(o.exited_with(0)) << describe(o.status);
}

TEST_F(Access, parent_that_exits_after_forking_still_puts_back_its_changes)
{
    Outcome o = in_child([] {
        tavrel_gpio_init();
        tavrel_gpio_config_io(7, 1);
        if (fork() == 0) {
            tavrel_gpio_config_io(8, 1);
            _exit(0);  // leaves as daemon(3) does: nothing put back
        }
        wait(nullptr);
    });
    EXPECT_TRUE(o.exited_with(0));
    EXPECT_EQ(board.fsel(7), 0u);
    EXPECT_EQ(board.fsel(8), 1u);
}

TEST_F(Access, unloading_the_library_keeps_its_listener_and_mapping_working)
{
    Outcome o = run(TAVREL_UNLOAD_APP, {TAVREL_LIBRARY_PATH, "50"});
    EXPECT_TRUE(o.exited_with(0)) << describe(o.status) << o.err;
    EXPECT_EQ(o.out, "mapped 1\n") << "one mapping however often it was loaded";
    EXPECT_EQ(board.fsel(7), 0u) << "pins put back at exit";
}

}  // namespace
