// SPDX-License-Identifier: MIT
// The character device's descriptors open in this process: the chip's and
// the line requests', each a real eventfd that the table here gives its
// meaning.
#pragma once

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

// A new descriptor for a chip or a request: an eventfd, which poll and
// epoll report readable only when it is written. -1 with errno.
int new_descriptor(bool cloexec, bool nonblock);
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
