// SPDX-License-Identifier: MIT
#include "chardev/events.h"

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <new>

#include "chardev/cdev.h"
#include "model/replay.h"
#include "shim/shim.h"

namespace tavrel_sim::cdev {

namespace {

constexpr unsigned kSlots = 64;  // as the request table
std::atomic<Events*> pool[kSlots];
std::atomic<bool> active[kSlots];
Board* watched_board;
pthread_once_t watcher_once = PTHREAD_ONCE_INIT;

unsigned round_up_power_of_two(unsigned n)
{
    unsigned p = 1;
    while (p < n) p <<= 1;
    return p;
}

uint64_t clock_ns(clockid_t id)
{
    timespec t;
    clock_gettime(id, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

// An event, the oldest dropped when the buffer is full.
void push(Events* e, unsigned i, bool rising, uint64_t ns)
{
    gpio_v2_line_event ev;
    memset(&ev, 0, sizeof ev);
    ev.timestamp_ns = ns;
    if (e->flags[i] & GPIO_V2_LINE_FLAG_EVENT_CLOCK_REALTIME)
        ev.timestamp_ns = ns + (clock_ns(CLOCK_REALTIME) - clock_ns(CLOCK_MONOTONIC));
    ev.id = rising ? GPIO_V2_LINE_EVENT_RISING_EDGE : GPIO_V2_LINE_EVENT_FALLING_EDGE;
    ev.offset = e->offsets[i];
    ev.line_seqno = ++e->line_seqno[i];
    ev.seqno = e->n == 1 ? ev.line_seqno : ++e->seqno;
    bool was_empty = e->count == 0;
    if (e->count == e->capacity) {
        e->head = (e->head + 1) % e->capacity;
        --e->count;
    }
    e->ring[(e->head + e->count) % e->capacity] = ev;
    ++e->count;
    if (was_empty) signal_waiting(e->fd);
}

void edge(Events* e, unsigned i, bool level, uint64_t ns)
{
    uint64_t f = e->flags[i];
    bool logical = level != ((f & GPIO_V2_LINE_FLAG_ACTIVE_LOW) != 0);
    if (f & (logical ? GPIO_V2_LINE_FLAG_EDGE_RISING : GPIO_V2_LINE_FLAG_EDGE_FALLING))
        push(e, i, logical, ns);
}

// What one step of the journal did to the request's lines.
void detect(Events* e, const Pins& pins, const JournalEntry& entry)
{
    Held held(&e->lock);
    for (unsigned i = 0; i < e->n; ++i) {
        if (entry.seq < e->since[i]) continue;
        bool level = level_of(pins, e->offsets[i]);
        if (level == e->level[i]) continue;
        e->level[i] = level;
        if (e->debounce_us[i])
            e->deadline[i] = entry.ns + uint64_t{e->debounce_us[i]} * 1000;
        else
            edge(e, i, level, entry.ns);
    }
}

// The earliest debounce wait of every request, or 0.
uint64_t earliest_deadline()
{
    uint64_t first = 0;
    for (unsigned s = 0; s < kSlots; ++s) {
        if (!active[s].load()) continue;
        Events* e = pool[s].load();
        Held held(&e->lock);
        for (unsigned i = 0; i < e->n; ++i)
            if (e->deadline[i] && (!first || e->deadline[i] < first)) first = e->deadline[i];
    }
    return first;
}

// Ends, in time order, every debounce wait that ends by `upto`, the
// levels as `pins` has them.
void end_waits(const Pins& pins, uint64_t upto)
{
    for (uint64_t at = earliest_deadline(); at && at <= upto; at = earliest_deadline())
        for (unsigned s = 0; s < kSlots; ++s) {
            if (!active[s].load()) continue;
            Events* e = pool[s].load();
            Held held(&e->lock);
            for (unsigned i = 0; i < e->n; ++i) {
                if (e->deadline[i] != at) continue;
                e->deadline[i] = 0;
                bool level = level_of(pins, e->offsets[i]);
                if (level == e->debounced[i]) continue;
                e->debounced[i] = level;
                edge(e, i, level, at);
            }
        }
}

// The watcher's own copy of the board, replayed: far too large for its
// stack's first page, and made without the C++ runtime the shim lacks.
BoardState watch_start;
alignas(Replay) unsigned char replay_storage[sizeof(Replay)];

uint64_t watch_next;  // the first entry the watcher reads: taken before any request's levels

void* watch(void*)
{
    sigset_t all;
    sigfillset(&all);
    shim::real_mask()(SIG_BLOCK, &all, nullptr);
    Board& board = *watched_board;
    BoardState& start = watch_start;
    uint64_t next = watch_next;
    Replay& replay = *new (replay_storage) Replay(start);
    bool told = false;
    for (;;) {
        JournalEntry entries[64];
        uint64_t lost = 0;
        unsigned n = board.read_journal(&next, entries, 64, &lost);
        if (lost) {
            if (!told)
                shim::say("tavrel-sim: %llu pin changes went by before %s's edge detection could see them\n",
                          static_cast<unsigned long long>(lost), kPath);
            told = true;
            next = board.snapshot(&start);
            new (replay_storage) Replay(start);
        }
        for (unsigned k = 0; k < n; ++k) {
            end_waits(replay.pins(), entries[k].ns - 1);
            if (entries[k].kind == JournalEntry::kLine) watch_note(board, entries[k]);
            replay.apply(entries[k]);
            for (unsigned s = 0; s < kSlots; ++s)
                if (active[s].load()) detect(pool[s].load(), replay.pins(), entries[k]);
        }
        if (n) continue;
        // A wait ends once no step of the board can still come before it:
        // a step's time is taken under the board's lock, a moment before
        // it reaches the journal, so the end is taken a margin late.
        constexpr uint64_t kMargin = 1000000;
        uint64_t at = earliest_deadline(), now = clock_ns(CLOCK_MONOTONIC);
        if (at && now >= at + kMargin)
            end_waits(replay.pins(), now - kMargin);
        else
            board.wait_journal(next, at ? static_cast<uint32_t>((at + kMargin - now) / 1000 + 1) : 1000000);
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
        shim::say("tavrel-sim: cannot start %s's edge detection: no thread\n", kPath);
    pthread_attr_destroy(&attr);
}

// The levels of the request's lines now, and where in the journal "now" is.
void take_levels(Board& board, Events* e)
{
    BoardState now;
    uint64_t head = board.snapshot(&now);
    Pins pins = pins_of(now);
    for (unsigned i = 0; i < e->n; ++i) {
        e->level[i] = e->debounced[i] = level_of(pins, e->offsets[i]);
        e->deadline[i] = 0;
        e->since[i] = head;
    }
}

}  // namespace

void watcher_start(Board& board)
{
    watched_board = &board;
    pthread_once(&watcher_once, start_watcher);
}

Events* events_start(Board& board, unsigned slot, int fd, const Request& r, const uint64_t* flags,
                     const uint32_t* debounce_us, unsigned buffer, bool v1)
{
    if (slot >= kSlots) return nullptr;
    Events* e = pool[slot].load();
    if (!e) {
        void* map = mmap(nullptr, sizeof(Events), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED) return nullptr;
        e = static_cast<Events*>(map);
        pthread_mutex_init(&e->lock, nullptr);
        pool[slot].store(e);
    }
    watcher_start(board);
    {
        Held held(&e->lock);
        e->fd = fd;
        e->capacity = round_up_power_of_two(buffer);
        e->head = e->count = 0;
        e->seqno = 0;
        e->v1 = v1;
        e->n = r.n;
        memcpy(e->offsets, r.offsets, sizeof e->offsets);
        for (unsigned i = 0; i < kMaxLines; ++i) {
            e->flags[i] = i < r.n ? flags[i] : 0;
            e->debounce_us[i] = i < r.n && debounce_us ? debounce_us[i] : 0;
            e->line_seqno[i] = 0;
        }
        take_levels(board, e);
    }
    active[slot].store(true);
    return e;
}

void events_reconfigure(Board& board, Events* e, const uint64_t* flags, const uint32_t* debounce_us)
{
    Held held(&e->lock);
    BoardState now;
    uint64_t head = board.snapshot(&now);
    Pins pins = pins_of(now);
    for (unsigned i = 0; i < e->n; ++i) {
        if (e->flags[i] == flags[i] && e->debounce_us[i] == debounce_us[i]) continue;
        e->flags[i] = flags[i];
        e->debounce_us[i] = debounce_us[i];
        e->level[i] = e->debounced[i] = level_of(pins, e->offsets[i]);
        e->deadline[i] = 0;
        e->since[i] = head;
    }
}

bool events_debounced(Events* e, unsigned i, bool* value)
{
    Held held(&e->lock);
    if (i >= e->n || !e->debounce_us[i]) return false;
    *value = e->debounced[i] != ((e->flags[i] & GPIO_V2_LINE_FLAG_ACTIVE_LOW) != 0);
    return true;
}

void events_stop(Events* e)
{
    for (unsigned s = 0; s < kSlots; ++s)
        if (pool[s].load() == e) active[s].store(false);
}

ssize_t events_read(Events* e, void* buf, size_t count)
{
    size_t size = e->v1 ? sizeof(gpioevent_data) : sizeof(gpio_v2_line_event);
    if (count < size) return -EINVAL;
    for (;;) {
        {
            Held held(&e->lock);
            if (e->count) {
                size_t bytes = 0;
                while (e->count && count - bytes >= size) {
                    const gpio_v2_line_event& ev = e->ring[e->head];
                    if (e->v1) {
                        gpioevent_data d;
                        memset(&d, 0, sizeof d);
                        d.timestamp = ev.timestamp_ns;
                        d.id = ev.id == GPIO_V2_LINE_EVENT_RISING_EDGE ? GPIOEVENT_EVENT_RISING_EDGE
                                                                       : GPIOEVENT_EVENT_FALLING_EDGE;
                        memcpy(static_cast<char*>(buf) + bytes, &d, sizeof d);
                    } else {
                        memcpy(static_cast<char*>(buf) + bytes, &ev, sizeof ev);
                    }
                    e->head = (e->head + 1) % e->capacity;
                    --e->count;
                    bytes += size;
                }
                if (!e->count) clear_waiting(e->fd);
                return static_cast<ssize_t>(bytes);
            }
        }
        if (long err = wait_signalled(e->fd)) return err;
        Held held(&e->lock);
        if (e->count) signal_waiting(e->fd);
    }
}

}  // namespace tavrel_sim::cdev
