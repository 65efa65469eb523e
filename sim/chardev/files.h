// SPDX-License-Identifier: MIT
// The character device's descriptors open in this process: the chip's, a
// real eventfd each, and the line requests', each the board's socket of
// its request, under every number this process has it as.
#pragma once

#include <pthread.h>
#include <stdint.h>
#include <sys/types.h>

namespace tavrel_sim::cdev {

constexpr unsigned kMaxLines = 64;  // the kernel's GPIO_V2_LINES_MAX

struct Request {
    int fd = -1;
    unsigned buffer = 0;  // events it buffers, once a line detects edges
    uint32_t id = 0;      // the board's
    bool v1 = false;      // a line handle
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

// A new descriptor for a chip: an eventfd, which poll and epoll report
// readable only when it is written. -1 with errno.
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
// False when the table is full.
bool add_request(const Request& r);
// `copy` is a new number of the request open on `fd` (dup, fcntl).
void add_copy(int fd, int copy);
// The request open on `fd`, copied; false for another descriptor.
bool find_request(int fd, Request* r);
// Takes the descriptor out of the table; true, with the request in *r
// (id 0 for a chip), when it was the device's.
bool remove(int fd, Request* r);
// Takes out every request this process has open, one per call; its chips
// stay.
bool take_any_request(Request* r);
// Takes out each descriptor numbered from `first` to `last`, one per call:
// a chip's with id 0.
bool take_in_range(unsigned first, unsigned last, Request* r);
// The request is open under another number of this process too.
bool holds(uint32_t id);

}  // namespace tavrel_sim::cdev
