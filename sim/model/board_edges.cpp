// SPDX-License-Identifier: MIT
// Edge detection and the requests' event queues, in the board file, under
// the board's lock; and the requests' sockets, by which any process makes
// a request's descriptor readable or finds it closed.
#include <errno.h>
#include <linux/gpio.h>
#include <signal.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "model/blocked.h"
#include "model/board.h"

namespace tavrel_sim {

static_assert(sizeof(Edges) <= kEdgesBytes, "the edges fit their pages");

namespace {

constexpr uint64_t kRising = GPIO_V2_LINE_FLAG_EDGE_RISING, kFalling = GPIO_V2_LINE_FLAG_EDGE_FALLING;

size_t put_hex(char* at, uint64_t v)
{
    static const char kDigits[] = "0123456789abcdef";
    char digits[16];
    size_t n = 0;
    do digits[n++] = kDigits[v & 15];
    while ((v >>= 4) && n < sizeof digits);
    for (size_t i = 0; i < n; ++i) at[i] = digits[n - 1 - i];
    return n;
}

uint64_t realtime_offset()
{
    timespec m, r;
    clock_gettime(CLOCK_MONOTONIC, &m);
    clock_gettime(CLOCK_REALTIME, &r);
    return (static_cast<uint64_t>(r.tv_sec) - static_cast<uint64_t>(m.tv_sec)) * 1000000000u +
           static_cast<uint64_t>(r.tv_nsec) - static_cast<uint64_t>(m.tv_nsec);
}

// A socket's errors are the callers' business: errno is kept, as a signal
// handler must.
struct ErrnoKept {
    int saved = errno;
    ~ErrnoKept() { errno = saved; }
};

}  // namespace

size_t request_name(uint64_t dev, uint64_t ino, uint64_t nonce, uint32_t request, char* path)
{
    static const char kPrefix[] = "tavrel-sim/";
    size_t n = 0;
    path[n++] = '\0';
    memcpy(path + n, kPrefix, sizeof kPrefix - 1);
    n += sizeof kPrefix - 1;
    const uint64_t parts[] = {dev, ino, nonce, request};
    for (uint64_t part : parts) {
        n += put_hex(path + n, part);
        path[n++] = '/';
    }
    return n - 1;
}

Edges* Board::edges()
{
    return reinterpret_cast<Edges*>(reinterpret_cast<char*>(state_) + kPageBytes + kJournalBytes);
}

socklen_t Board::socket_name(uint32_t request, sockaddr_un* addr)
{
    memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    size_t n = request_name(id_.dev, id_.ino, edges()->nonce, request, addr->sun_path);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + n);
}

int Board::request_socket(uint32_t request, bool nonblock)
{
    sockaddr_un addr;
    socklen_t len = socket_name(request, &addr);
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | (nonblock ? SOCK_NONBLOCK : 0), 0);
    if (fd < 0) return -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0) return fd;
    int err = errno;
    ::close(fd);
    errno = err;
    return -1;
}

// A datagram to the request's descriptor: it reads as readable.
void Board::signal_request(uint32_t request)
{
    ErrnoKept kept;
    sockaddr_un addr;
    socklen_t len = socket_name(request, &addr);
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    char one = 1;
    sendto(fd, &one, 1, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr), len);
    ::close(fd);
}

bool Board::request_open(uint32_t request)
{
    ErrnoKept kept;
    sockaddr_un addr;
    socklen_t len = socket_name(request, &addr);
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return true;  // no way to tell: held, as the safe answer
    bool open = connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 || errno != ECONNREFUSED;
    ::close(fd);
    return open;
}

void Board::push_event(EdgeLine& l, unsigned offset, bool rising, uint64_t ns)
{
    EdgeQueue& q = edges()->queues[l.queue - 1];
    bool was_empty = q.count == 0;
    if (q.count == q.capacity) {
        // The kernel's v1 kfifo_in stores nothing when full; v2 drops the oldest.
        if (q.v1) return;
        q.head = (q.head + 1) % q.capacity;
        --q.count;
    }
    gpio_v2_line_event& ev = q.ring[(q.head + q.count) % q.capacity];
    memset(&ev, 0, sizeof ev);
    ev.timestamp_ns = ns;
    if (l.flags & GPIO_V2_LINE_FLAG_EVENT_CLOCK_REALTIME) ev.timestamp_ns = ns + realtime_offset();
    ev.id = rising ? GPIO_V2_LINE_EVENT_RISING_EDGE : GPIO_V2_LINE_EVENT_FALLING_EDGE;
    ev.offset = offset;
    ev.line_seqno = ++l.line_seqno;
    ev.seqno = q.lines == 1 ? ev.line_seqno : ++q.seqno;
    ++q.count;
    if (was_empty) signal_request(q.request);
}

void Board::edge(unsigned offset, bool level, uint64_t ns)
{
    EdgeLine& l = edges()->lines[offset];
    bool logical = level != ((l.flags & GPIO_V2_LINE_FLAG_ACTIVE_LOW) != 0);
    if (l.flags & (logical ? kRising : kFalling)) push_event(l, offset, logical, ns);
}

void Board::settle_locked(uint64_t upto)
{
    Edges* x = edges();
    for (;;) {
        unsigned first = kEdgeLines;
        for (unsigned o = 0; o < kEdgeLines; ++o) {
            uint64_t at = x->lines[o].deadline;
            if (at && at <= upto && (first == kEdgeLines || at < x->lines[first].deadline)) first = o;
        }
        if (first == kEdgeLines) return;
        EdgeLine& l = x->lines[first];
        uint64_t at = l.deadline;
        l.deadline = 0;
        if (l.level == l.debounced) continue;
        l.debounced = l.level;
        edge(first, l.level, at);
    }
}

void Board::detect(uint64_t ns)
{
    Edges* x = edges();
    if (!x->detecting) return;
    settle_locked(ns - 1);
    Pins p = pins();
    for (unsigned o = 0; o < kEdgeLines; ++o) {
        if (!(x->detecting >> o & 1)) continue;
        EdgeLine& l = x->lines[o];
        bool level = level_of(p, o);
        if (level == static_cast<bool>(l.level)) continue;
        l.level = level;
        if (l.debounce_us)
            l.deadline = ns + uint64_t{l.debounce_us} * 1000;
        else
            edge(o, level, ns);
    }
}

int Board::start_edges(uint32_t request, const uint32_t* offsets, unsigned n, const uint64_t* flags,
                       const uint32_t* debounce_us, unsigned buffer, bool v1)
{
    SignalsBlocked blocked;
    lock();
    Edges* x = edges();
    int slot = -1;
    for (unsigned s = 0; s < kEdgeQueues && slot < 0; ++s)
        if (!x->queues[s].request) slot = static_cast<int>(s);
    if (slot >= 0) {
        EdgeQueue& q = x->queues[slot];
        q.request = request;
        q.v1 = v1;
        q.lines = n;
        q.capacity = 1;
        while (q.capacity < buffer && q.capacity < kMaxEvents) q.capacity <<= 1;
        q.head = q.count = q.seqno = 0;
        Pins p = pins();
        for (unsigned i = 0; i < n; ++i) {
            EdgeLine& l = x->lines[offsets[i] % kEdgeLines];
            l = EdgeLine{};
            l.queue = static_cast<uint32_t>(slot) + 1;
            l.index = i;
            l.flags = flags[i];
            l.debounce_us = debounce_us ? debounce_us[i] : 0;
            l.level = l.debounced = level_of(p, offsets[i]);
            x->detecting |= 1ull << (offsets[i] % kEdgeLines);
        }
    }
    unlock();
    return slot;
}

void Board::reconfigure_edges(const uint32_t* offsets, unsigned n, const uint64_t* flags,
                              const uint32_t* debounce_us)
{
    SignalsBlocked blocked;
    lock();
    settle_locked(monotonic_ns());
    Pins p = pins();
    for (unsigned i = 0; i < n; ++i) {
        EdgeLine& l = edges()->lines[offsets[i] % kEdgeLines];
        if (!l.queue || (l.flags == flags[i] && l.debounce_us == debounce_us[i])) continue;
        // A line whose edges or period changed starts again from its level now.
        l.flags = flags[i];
        l.debounce_us = debounce_us[i];
        l.level = l.debounced = level_of(p, offsets[i]);
        l.deadline = 0;
    }
    unlock();
}

bool Board::edge_setup(unsigned offset, uint64_t* flags, uint32_t* debounce_us, bool* debounced)
{
    SignalsBlocked blocked;
    lock();
    settle_locked(monotonic_ns());
    const EdgeLine& l = edges()->lines[offset % kEdgeLines];
    bool detecting = l.queue != 0;
    if (detecting) {
        *flags = l.flags;
        *debounce_us = l.debounce_us;
        *debounced = l.debounced;
    }
    unlock();
    return detecting;
}

long Board::read_events(uint32_t request, int fd, void* buf, size_t count)
{
    SignalsBlocked blocked;
    lock();
    settle_locked(monotonic_ns());
    Edges* x = edges();
    long bytes = -ENOENT;
    for (EdgeQueue& q : x->queues) {
        if (q.request != request) continue;
        size_t size = q.v1 ? sizeof(gpioevent_data) : sizeof(gpio_v2_line_event);
        if (count < size) {
            bytes = -EINVAL;
            break;
        }
        size_t done = 0;
        while (q.count && count - done >= size) {
            const gpio_v2_line_event& ev = q.ring[q.head];
            if (q.v1) {
                gpioevent_data d;
                memset(&d, 0, sizeof d);
                d.timestamp = ev.timestamp_ns;
                d.id = ev.id == GPIO_V2_LINE_EVENT_RISING_EDGE ? GPIOEVENT_EVENT_RISING_EDGE
                                                               : GPIOEVENT_EVENT_FALLING_EDGE;
                memcpy(static_cast<char*>(buf) + done, &d, sizeof d);
            } else {
                memcpy(static_cast<char*>(buf) + done, &ev, sizeof ev);
            }
            q.head = (q.head + 1) % q.capacity;
            --q.count;
            done += size;
        }
        // One datagram waits exactly while events do.
        char b;
        bool pending = recv(fd, &b, 1, MSG_PEEK | MSG_DONTWAIT) == 1;
        if (q.count && !pending)
            signal_request(request);
        else if (!q.count && pending)
            (void)!recv(fd, &b, 1, MSG_DONTWAIT);
        bytes = static_cast<long>(done);
        break;
    }
    unlock();
    return bytes;
}

uint64_t Board::next_deadline()
{
    // Most wakes find no wait running: those leave the lock to the
    // program's own accesses.
    bool any = false;
    for (EdgeLine& l : edges()->lines) any |= atomic_ref(l.deadline).load(std::memory_order_relaxed) != 0;
    if (!any) return 0;
    SignalsBlocked blocked;
    lock();
    settle_locked(monotonic_ns());
    uint64_t first = 0;
    for (const EdgeLine& l : edges()->lines)
        if (l.deadline && (!first || l.deadline < first)) first = l.deadline;
    unlock();
    return first;
}

}  // namespace tavrel_sim
