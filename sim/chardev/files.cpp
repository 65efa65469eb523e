// SPDX-License-Identifier: MIT
#include "chardev/files.h"

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

#include "chardev/cdev.h"
#include "shim/shim.h"

namespace tavrel_sim::cdev {

namespace {

// Fixed tables: the shim allocates nothing of its own. Far more than any
// program holds at once; past them an open fails with EMFILE, saying so.
constexpr unsigned kRequests = 64, kChips = 16;
Request requests[kRequests];
int chips[kChips] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
pthread_mutex_t table = PTHREAD_MUTEX_INITIALIZER;
struct Locked : Held {
    Locked() : Held(&table) {}
};
// How many descriptors the tables hold. Every read and close of the
// process asks them; while none is the device's, none takes the lock,
// which a signal handler's close could otherwise find held.
std::atomic<unsigned> in_use{0};

}  // namespace

int new_descriptor(bool cloexec, bool nonblock)
{
    return eventfd(0, (cloexec ? EFD_CLOEXEC : 0) | (nonblock ? EFD_NONBLOCK : 0));
}

void signal_waiting(int fd)
{
    uint64_t one = 1;
    syscall(SYS_write, fd, &one, sizeof one);
}

void clear_waiting(int fd)
{
    pollfd p = {fd, POLLIN, 0};
    uint64_t counter;
    if (poll(&p, 1, 0) == 1) syscall(SYS_read, fd, &counter, sizeof counter);
}

long wait_signalled(int fd)
{
    uint64_t counter;
    return syscall(SYS_read, fd, &counter, sizeof counter) < 0 ? -errno : 0;
}

bool add_chip(int fd)
{
    Locked locked;
    for (int& c : chips)
        if (c < 0) {
            c = fd;
            ++in_use;
            return true;
        }
    return false;
}

bool add_request(const Request& r)
{
    Locked locked;
    for (Request& slot : requests)
        if (slot.fd < 0) {
            slot = r;
            ++in_use;
            return true;
        }
    return false;
}

void add_copy(int fd, int copy)
{
    Request r;
    if (copy < 0 || !find_request(fd, &r)) return;
    Request gone;
    remove(copy, &gone);
    r.fd = copy;
    if (!add_request(r))
        shim::say(
            "tavrel-sim: more GPIO line request descriptors open at once than the simulated board keeps; "
            "descriptor %d keeps the lines held but answers nothing\n",
            copy);
}

bool holds(uint32_t id)
{
    if (!in_use.load()) return false;
    Locked locked;
    for (const Request& slot : requests)
        if (slot.fd >= 0 && slot.id == id) return true;
    return false;
}

bool is_chip(int fd)
{
    if (!in_use.load()) return false;
    Locked locked;
    for (int c : chips)
        if (fd >= 0 && c == fd) return true;
    return false;
}

bool any_open()
{
    return in_use.load() != 0;
}

bool is_request(int fd)
{
    Request r;
    return find_request(fd, &r);
}

bool find_request(int fd, Request* r)
{
    if (!in_use.load()) return false;
    Locked locked;
    for (const Request& slot : requests)
        if (fd >= 0 && slot.fd == fd) {
            *r = slot;
            return true;
        }
    return false;
}

bool remove(int fd, Request* r)
{
    if (fd < 0 || !in_use.load()) return false;
    Locked locked;
    for (int& c : chips)
        if (c == fd) {
            c = -1;
            --in_use;
            *r = Request{};
            return true;
        }
    for (Request& slot : requests)
        if (slot.fd == fd) {
            *r = slot;
            slot = Request{};
            --in_use;
            return true;
        }
    return false;
}

bool take_any_request(Request* r)
{
    if (!in_use.load()) return false;
    Locked locked;
    for (Request& slot : requests)
        if (slot.fd >= 0) {
            *r = slot;
            slot = Request{};
            --in_use;
            return true;
        }
    return false;
}

bool take_in_range(unsigned first, unsigned last, Request* r)
{
    if (!in_use.load()) return false;
    Locked locked;
    for (int& c : chips)
        if (c >= 0 && static_cast<unsigned>(c) >= first && static_cast<unsigned>(c) <= last) {
            *r = Request{};
            r->fd = c;
            c = -1;
            --in_use;
            return true;
        }
    for (Request& slot : requests)
        if (slot.fd >= 0 && static_cast<unsigned>(slot.fd) >= first &&
            static_cast<unsigned>(slot.fd) <= last) {
            *r = slot;
            slot = Request{};
            --in_use;
            return true;
        }
    return false;
}

}  // namespace tavrel_sim::cdev
