// SPDX-License-Identifier: MIT
// GPIO access state: open, snapshot, close and restore.
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include "access.h"
#include "rp1.h"
#include "tavrel.h"

namespace tavrel {

std::atomic<Block> gpio_mmap{nullptr};
std::atomic<uint32_t> fsel_changed{0};
std::atomic<uint8_t> fsel_busy[kFselWords];

namespace {

uint32_t gpio_original_io[kFselWordsSaved];
// Level sample taken at open. GPLEV0 ignores writes, so close does not
// write it back.
uint32_t gpio_original_val;

constexpr const char kDevice[] = "/dev/gpiomem";
constexpr const char kRp1Device[] = "/dev/gpiomem0";  // the Pi 5's

void close_access(bool at_exit);

// exit() in two threads at once (the listener's quit, and the
// application's own) runs the exit handlers in both, each taking the next
// one (glibc 2.36). The last of them, the library's first registered,
// waits for a put-back under way in the other thread, so that neither
// thread's exit ends the process before the pins are back.
std::atomic<int> closing_at_exit{0};
// Another thread's exit() ran the close while the listener was quitting:
// that exit's status stands.
std::atomic<bool> other_thread_exiting{false};

void close_at_exit()
{
    closing_at_exit.fetch_add(1);
    if (quit_pending() && !on_listener_thread()) other_thread_exiting.store(true);
    mark_process_exiting();
    close_access(true);
    closing_at_exit.fetch_sub(1);
}

void finish_exit()
{
    while (closing_at_exit.load()) sched_yield();
    // The listener gives way to the application's exit, which ends the
    // process with its own status once its handlers are done.
    if (on_listener_thread() && other_thread_exiting.load())
        for (;;) pause();
}

void take_snapshot(Block block)
{
    fsel_changed.store(0, std::memory_order_relaxed);
    if (is_rp1(block)) return rp1_take_snapshot(untagged(block));
    barrier();
    for (unsigned w = 0; w < kFselWordsSaved; ++w) gpio_original_io[w] = reg_read(block, GPFSEL0 + w);
    gpio_original_val = reg_read(block, GPLEV0);
}

// A child shares the parent's pins but owns none of its changes: its close
// puts back only what the child itself changed, to the state at the fork.
// Register reads and plain stores only, as a child's fork handler must.
void after_fork_in_child()
{
    listener_after_fork_in_child();
    // Only the forking thread exists in the child; no update is under way.
    for (auto& busy : fsel_busy) busy.store(0, std::memory_order_relaxed);
    if (Block block = open_block()) take_snapshot(block);
}

__attribute__((constructor)) void register_fork_handlers()
{
    pthread_atfork(listener_before_fork, listener_after_fork_in_parent, after_fork_in_child);
}

int tavrel_gpio_init_impl(int register_exit_handler)
{
    // Registered before the open and on every call, so that each
    // successful or failed init is paired with one close at exit; and
    // after the one that runs last.
    static std::atomic<bool> finish_registered{false};
    if (register_exit_handler && !finish_registered.exchange(true)) atexit(finish_exit);
    if (register_exit_handler) atexit(close_at_exit);

    // A second open keeps the first mapping and its snapshot, which still
    // describes the pins as they were before this process changed them.
    if (open_block()) return 0;

    // A block of another design is never driven with this one's offsets.
    Chip found = chip_from_device_tree();
    if (found == Chip::kForeign) {
        puts("gpio open failed");
        return 1;
    }
    chip.store(found, std::memory_order_relaxed);
    bool rp1 = found == Chip::kRp1;
    int fd = open(rp1 ? kRp1Device : kDevice, O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0) {
        puts("gpio open failed");
        return 1;
    }
    void* map =
        mmap(nullptr, rp1 ? rp1::kWindowBytes : kBlockBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (map == MAP_FAILED) {
        puts("Failed to create GPIO MMAP.");
        exit(1);
    }

    Block block = rp1 ? tagged_rp1(static_cast<Block>(map)) : static_cast<Block>(map);
    take_snapshot(block);
    gpio_mmap.store(block, std::memory_order_release);
    return 0;
}

uint32_t field_mask(uint32_t pins_of_word)
{
    uint32_t mask = 0;
    for (unsigned p = 0; p < 10; ++p)
        if (pins_of_word & (1u << p)) mask |= 7u << (3 * p);
    return mask;
}

// Puts back the changed fields of pins 0..29, leaving every other field as
// it is now: another process or a driver may have set it meanwhile.
void restore_changed_fields(Block block, uint32_t changed)
{
    if (is_rp1(block)) return rp1_restore(untagged(block), changed);
    barrier();
    for (unsigned w = 0; w < kFselWordsSaved; ++w) {
        uint32_t mask = field_mask((changed >> (10 * w)) & 0x3FF);
        if (!mask) continue;
        uint32_t now = reg_read(block, GPFSEL0 + w);
        reg_write(block, GPFSEL0 + w, (now & ~mask) | (gpio_original_io[w] & mask));
    }
}

// Waits for function-select updates that began before access was closed:
// at exit, application threads may still be in one, and a word it read
// before the restore must not be written over it. Bounded, in case the
// exit was started from a signal handler inside an update on this thread.
void wait_for_updates_under_way()
{
    for (unsigned w = 0; w < kFselWordsSaved; ++w)
        for (int i = 0; i < 200 && fsel_busy[w].load(std::memory_order_acquire); ++i) usleep(1000);
}

// At exit the process may be ending from the listener or a signal while
// application threads are still in pin operations: the block is put back
// and marked closed, but stays mapped until the process is gone.
void close_access(bool at_exit)
{
    stop_quit_listener();
    // Taken out of the state first, so that any operation that starts from
    // here on is a no-op rather than a write after the restore.
    Block block = gpio_mmap.exchange(nullptr, std::memory_order_seq_cst);
    if (block) {
        wait_for_updates_under_way();
        restore_changed_fields(block, fsel_changed.exchange(0, std::memory_order_relaxed));
        if (!at_exit)
            munmap(const_cast<uint32_t*>(untagged(block)), is_rp1(block) ? rp1::kWindowBytes : kBlockBytes);
    }
    if (quit_pending()) {
        // A quit is under way, or a signal asked for one while the listener
        // was being stopped. The handlers stay to absorb further signals,
        // and a quit asked for outside exit is carried out here.
        carry_out_quit();
        return;
    }
    reset_quit_signals();
}

}  // namespace
}  // namespace tavrel

using namespace tavrel;

extern "C" {

int tavrel_gpio_init(void)
{
    return tavrel_gpio_init_impl(1);
}

int tavrel_gpio_init_noatexit(void)
{
    return tavrel_gpio_init_impl(0);
}

void tavrel_gpio_deinit(void)
{
    close_access(false);
}

}  // extern "C"
