// SPDX-License-Identifier: MIT
// Edge events, through the kernel's GPIO character device: the kernel sees
// the edges in its interrupt handler, stamps and debounces them, and
// queues them on a descriptor that poll reports readable. No register of
// the block is touched here, and nothing is allocated.
#include <errno.h>
#include <fcntl.h>
#include <linux/gpio.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "access.h"
#include "tavrel.h"

namespace tavrel {
namespace {

constexpr uint64_t kFamilyMask = (uint64_t{1} << kMostPins) - 1;

// Every line an input detecting the edges asked for, debounced when a
// period is given; consumer is the program's name, as ps shows it.
void fill_request(gpio_v2_line_request* req, uint64_t pins, int32_t edges, uint32_t debounce_us)
{
    memset(req, 0, sizeof *req);
    for (uint32_t pin = 0; pin < kMostPins; ++pin)
        if (pins >> pin & 1) req->offsets[req->num_lines++] = pin;
    req->config.flags = GPIO_V2_LINE_FLAG_INPUT;
    if (edges & TAVREL_EDGE_RISING) req->config.flags |= GPIO_V2_LINE_FLAG_EDGE_RISING;
    if (edges & TAVREL_EDGE_FALLING) req->config.flags |= GPIO_V2_LINE_FLAG_EDGE_FALLING;
    if (debounce_us) {
        req->config.num_attrs = 1;
        req->config.attrs[0].attr.id = GPIO_V2_LINE_ATTR_ID_DEBOUNCE;
        req->config.attrs[0].attr.debounce_period_us = debounce_us;
        req->config.attrs[0].mask = (uint64_t{1} << req->num_lines) - 1;
    }
    const char* name = program_invocation_short_name;
    snprintf(req->consumer, sizeof req->consumer, "%s", name && *name ? name : "libtavrel");
}

// Waits for the descriptor to be readable: 1 when it is, 0 at the
// deadline (none when negative), -1 with errno. A signal restarts the
// wait for what is left.
int wait_readable(int fd, int64_t deadline)
{
    for (;;) {
        pollfd pfd = {fd, POLLIN, 0};
        int ready = poll(&pfd, 1, deadline < 0 ? -1 : remaining_ms(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return ready;
        if (pfd.revents & POLLNVAL) return fail(EBADF);
        if (pfd.revents & POLLIN) return 1;
        return fail(EIO);  // POLLERR or POLLHUP with nothing to read
    }
}

void convert(const gpio_v2_line_event& from, tavrel_edge_event* to)
{
    to->timestamp_ns = from.timestamp_ns;
    to->pin = static_cast<int32_t>(from.offset);
    to->edge = from.id == GPIO_V2_LINE_EVENT_RISING_EDGE ? TAVREL_EDGE_RISING : TAVREL_EDGE_FALLING;
    to->seqno = from.seqno;
    to->pin_seqno = from.line_seqno;
}

// Reads what waits, up to max events, in reads of whole events; the count,
// or -1 with errno when the first read fails.
int take_events(int fd, tavrel_edge_event* events, int32_t max)
{
    gpio_v2_line_event raw[16];
    int32_t got = 0;
    while (got < max) {
        int32_t want = max - got < 16 ? max - got : 16;
        ssize_t n = read(fd, raw, static_cast<size_t>(want) * sizeof raw[0]);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && got == 0 && errno != EAGAIN) return -1;
        if (n <= 0) break;
        // A descriptor of ours reads whole events; anything else is not one.
        if (n % static_cast<ssize_t>(sizeof raw[0])) return got ? got : fail(EINVAL);
        int32_t count = static_cast<int32_t>(n / static_cast<ssize_t>(sizeof raw[0]));
        for (int32_t i = 0; i < count; ++i) convert(raw[i], &events[got + i]);
        got += count;
        if (count < want) break;  // nothing more waits
    }
    return got;
}

}  // namespace
}  // namespace tavrel

using namespace tavrel;

extern "C" {

int tavrel_gpio_edge_open(uint64_t pins, int32_t edges, uint32_t debounce_us)
{
    if (!pins || (pins & ~kFamilyMask) || edges < TAVREL_EDGE_RISING || edges > TAVREL_EDGE_BOTH)
        return fail(EINVAL);
    const ChipModel* model = nullptr;
    int chip_fd = open_gpio_chip(&model);
    if (chip_fd < 0) return -1;
    if (pins >> model->pins) {
        close(chip_fd);
        return fail(EINVAL);
    }
    gpio_v2_line_request req;
    fill_request(&req, pins, edges, debounce_us);
    int rc = ioctl(chip_fd, GPIO_V2_GET_LINE_IOCTL, &req);
    int err = errno;
    close(chip_fd);
    if (rc < 0) return fail(err);
    // Reads never block: the wait is poll's, with its deadline.
    int flags = fcntl(req.fd, F_GETFL);
    if (flags < 0 || fcntl(req.fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        err = errno;
        close(req.fd);
        return fail(err);
    }
    return req.fd;
}

int tavrel_gpio_edge_read(int fd, struct tavrel_edge_event* events, int32_t max, int32_t timeout_ms)
{
    if (!events || max <= 0 || timeout_ms < -1) return fail(EINVAL);
    if (fd < 0) return fail(EBADF);  // poll would skip it and wait
    const int64_t deadline = timeout_ms < 0 ? -1 : monotonic_ns() + int64_t{timeout_ms} * 1000000;
    for (;;) {
        int ready = wait_readable(fd, deadline);
        if (ready <= 0) return ready;
        // None when another reader of the descriptor took them first.
        int got = take_events(fd, events, max);
        if (got != 0) return got;
    }
}

int tavrel_gpio_edge_close(int fd)
{
    if (fd < 0) return fail(EBADF);
    // Linux frees the descriptor even when close reports EINTR: no retry.
    return close(fd);
}

}  // extern "C"
