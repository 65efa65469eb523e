// SPDX-License-Identifier: MIT
// The character device's descriptors open in this process: the chip's and
// the line requests', each a real eventfd that the table here gives its
// meaning.
#pragma once

#include <pthread.h>
#include <stdint.h>
#include <sys/types.h>

namespace tavrel_sim::cdev {

constexpr unsigned kMaxLines = 64;  // the kernel's GPIO_V2_LINES_MAX

struct Events;

struct Request {
    int fd = -1;
    unsigned slot = 0;         // in the table
    Events* events = nullptr;  // its edge events, once a line detects edges
    unsigned buffer = 0;       // events it buffers
    uint32_t id = 0;           // the board's
    pid_t owner = 0;           // the process that made it: a forked child's copy is not its to free
    bool v1 = false;           // a line handle
    unsigned n = 0;
    uint32_t offsets[kMaxLines] = {};
};

// The mask of a request's lines, a bit per line in its order.
inline uint64_t all_lines(const Request& r)
{
    return r.n < 64 ? (1ull << r.n) - 1 : ~0ull;
}

struct Held {
    explicit Held(pthread_mutex_t* m) : m_(m) { pthread_mutex_lock(m_); }
    ~Held() { pthread_mutex_unlock(m_); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    pthread_mutex_t* m_;
};

// A new descriptor for a chip or a request: an eventfd, which poll and
// epoll report readable only when it is written. -1 with errno.
int new_descriptor(bool cloexec, bool nonblock);
// Its counter follows what waits to be read: nonzero exactly while
// something does, so that poll, select and epoll answer as the kernel's
// descriptors do. Both with the owner's lock held.
void signal_waiting(int fd);
void clear_waiting(int fd);
// Waits, as the kernel's read does, until something is signalled: 0, or a
// negative errno (EAGAIN on a non-blocking descriptor, EINTR). It takes
// the counter, which the caller sets again while anything still waits.
long wait_signalled(int fd);
bool add_chip(int fd);
// The request's table slot, or -1 when the table is full.
int add_request(const Request& r);
void set_events(unsigned slot, Events* events);
// The request open on `fd`, copied; false for another descriptor.
bool find_request(int fd, Request* r);
// Takes the descriptor out of the table; true, with the request in *r
// (id 0 for a chip), when it was the device's.
bool remove(int fd, Request* r);
// Takes out every request this process made, one per call.
bool take_any_request(Request* r);

}  // namespace tavrel_sim::cdev
