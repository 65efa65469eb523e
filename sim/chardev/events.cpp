// SPDX-License-Identifier: MIT
#include "chardev/events.h"

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include "chardev/cdev.h"
#include "shim/shim.h"

namespace tavrel_sim::cdev {

namespace {

Board* watched_board;
pthread_once_t watcher_once = PTHREAD_ONCE_INIT;
uint64_t watch_next;     // the first journal entry the thread reads
BoardState watch_start;  // far too large for the thread's first stack page

void* watch(void*)
{
    sigset_t all;
    sigfillset(&all);
    shim::real_mask()(SIG_BLOCK, &all, nullptr);
    Board& board = *watched_board;
    uint64_t next = watch_next;
    bool told = false;
    for (;;) {
        JournalEntry entries[64];
        uint64_t lost = 0;
        unsigned n = board.read_journal(&next, entries, 64, &lost);
        if (lost && !told && watching()) {
            shim::say(
                "tavrel-sim: the board's journal went past %s's line watch: changes of line information "
                "may be missing\n",
                kPath);
            told = true;
        }
        for (unsigned k = 0; k < n; ++k)
            if (entries[k].kind == JournalEntry::kLine) watch_note(board, entries[k]);
        if (n) continue;
        // Debounce waits end here on time, whoever started them; the
        // events go to their requests' queues.
        uint64_t at = board.next_deadline(), now = monotonic_ns();
        uint64_t timeout_us = at > now ? (at - now) / 1000 + 1 : at ? 1 : 1000000;
        board.wait_journal(next, static_cast<uint32_t>(timeout_us < 1000000 ? timeout_us : 1000000));
    }
    return nullptr;
}

void start_watcher()
{
    watch_next = watched_board->snapshot(&watch_start);
    pthread_t t;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (pthread_create(&t, &attr, watch, nullptr) != 0)
        shim::say("tavrel-sim: cannot start %s's line watch and debouncing: no thread\n", kPath);
    pthread_attr_destroy(&attr);
}

}  // namespace

void watcher_start(Board& board)
{
    watched_board = &board;
    pthread_once(&watcher_once, start_watcher);
}

ssize_t events_read(Board& board, const Request& r, void* buf, size_t count)
{
    for (;;) {
        long got = board.read_events(r.id, r.fd, buf, count);
        if (got) return got;
        // The datagram that says events wait, taken as the kernel's read
        // sleeps: O_NONBLOCK gives EAGAIN, a signal EINTR or a restart.
        char b;
        if (recv(r.fd, &b, 1, 0) < 0) return -errno;
    }
}

}  // namespace tavrel_sim::cdev
