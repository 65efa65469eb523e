// SPDX-License-Identifier: MIT
// A line request's descriptor: its values, its new configurations, its
// reads, and its release, v1 (a line handle) and v2.
#include <errno.h>
#include <linux/gpio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "chardev/cdev.h"
#include "chardev/events.h"
#include "chardev/files.h"
#include "shim/shim.h"

namespace tavrel_sim::cdev {

namespace {

// The lines' values, read in offset order as the driver reads them, one
// GPLEV access a line.
// A debounced line gives its debounced value, after the read all the same.
uint64_t get_values(Board& board, TraceSink* sink, const Request& r, uint64_t mask)
{
    Pinctrl pins(board, sink);
    uint64_t bits = 0;
    for (unsigned offset = 0; offset < kMaxLines; ++offset)
        for (unsigned i = 0; i < r.n; ++i) {
            if (!(mask >> i & 1) || r.offsets[i] != offset) continue;
            bool value = get_value(pins, offset, board.line(offset).flags);
            uint64_t edges;
            uint32_t period;
            bool debounced;
            if (board.edge_setup(offset, &edges, &period, &debounced) && period)
                value = debounced != ((edges & GPIO_V2_LINE_FLAG_ACTIVE_LOW) != 0);
            if (value) bits |= 1ull << i;
        }
    return bits;
}

// Open drain and open source outputs are set one by one, in the request's
// order; the others afterwards, in offset order, one GPSET or GPCLR write
// a line, as gpiolib's fallback for a chip without set_multiple does.
void set_values(Board& board, TraceSink* sink, const Request& r, uint64_t mask, uint64_t bits)
{
    Pinctrl pins(board, sink);
    uint64_t plain = 0, high = 0;
    for (unsigned i = 0; i < r.n; ++i) {
        if (!(mask >> i & 1)) continue;
        uint64_t flags = board.line(r.offsets[i]).flags;
        bool value = bits >> i & 1;
        if (flags & (GPIO_V2_LINE_FLAG_OPEN_DRAIN | GPIO_V2_LINE_FLAG_OPEN_SOURCE)) {
            set_value(pins, r.offsets[i], flags, value);
            continue;
        }
        bool raw = value != ((flags & GPIO_V2_LINE_FLAG_ACTIVE_LOW) != 0);
        plain |= 1ull << r.offsets[i];
        high = (high & ~(1ull << r.offsets[i])) | uint64_t{raw} << r.offsets[i];
    }
    for (unsigned offset = 0; offset < kMaxLines; ++offset)
        if (plain >> offset & 1) pins.set(offset, high >> offset & 1);
}

bool is_output(Board& board, uint32_t offset)
{
    return board.line(offset).flags & GPIO_V2_LINE_FLAG_OUTPUT;
}

// A new configuration, line by line: the flags first, then the direction.
// A v2 configuration leaves a line it names no direction for as it is.
long reconfigure(Board& board, TraceSink* sink, const Request& r, const uint64_t* flags, const bool* values,
                 const uint32_t* periods)
{
    Pinctrl pins(board, sink);
    for (unsigned i = 0; i < r.n; ++i) {
        if (!r.v1 && !(flags[i] & (GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_OUTPUT))) continue;
        board.set_line(r.id, r.offsets[i], desc_flags(board.line(r.offsets[i]).flags, flags[i]),
                       periods ? periods[i] : 0);
        apply_direction(pins, r.offsets[i], flags[i], values[i]);
        board.note_line(r.offsets[i], GPIO_V2_LINE_CHANGED_CONFIG);
    }
    return 0;
}

long v2_ioctl(Board& board, TraceSink* sink, const Request& r, unsigned long cmd, void* arg)
{
    switch (cmd) {
    case GPIO_V2_LINE_GET_VALUES_IOCTL: {
        auto* lv = static_cast<gpio_v2_line_values*>(arg);
        uint64_t mask = lv->mask & all_lines(r);
        if (!mask) return -EINVAL;
        lv->bits = get_values(board, sink, r, mask);
        return 0;
    }
    case GPIO_V2_LINE_SET_VALUES_IOCTL: {
        auto* lv = static_cast<gpio_v2_line_values*>(arg);
        uint64_t mask = lv->mask & all_lines(r);
        for (unsigned i = 0; i < r.n; ++i)
            if ((mask >> i & 1) && !is_output(board, r.offsets[i])) return -EPERM;
        if (!mask) return -EINVAL;
        set_values(board, sink, r, mask, lv->bits);
        return 0;
    }
    case GPIO_V2_LINE_SET_CONFIG_IOCTL: {
        auto* lc = static_cast<gpio_v2_line_config*>(arg);
        long err = validate_v2_config(lc, r.n);
        if (err) return err;
        uint64_t flags[kMaxLines] = {}, edges[kMaxLines] = {};
        uint32_t periods[kMaxLines] = {};
        bool values[kMaxLines] = {}, detect = false, detecting = false;
        for (unsigned i = 0; i < r.n; ++i) {
            flags[i] = v2_line_flags(lc, i);
            values[i] = v2_output_value(lc, i);
            bool debounced;
            if (board.edge_setup(r.offsets[i], &edges[i], &periods[i], &debounced))
                detecting = true;
            else
                periods[i] = board.line(r.offsets[i]).debounce_us;
            // A line the configuration names no direction for stays as it is.
            if (flags[i] & (GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_OUTPUT)) {
                edges[i] = flags[i] & (GPIO_V2_LINE_FLAG_EDGE_RISING | GPIO_V2_LINE_FLAG_EDGE_FALLING |
                                       GPIO_V2_LINE_FLAG_ACTIVE_LOW | GPIO_V2_LINE_FLAG_EVENT_CLOCK_REALTIME);
                periods[i] = 0;
                v2_debounce(lc, i, &periods[i]);
            }
            detect |=
                (edges[i] & (GPIO_V2_LINE_FLAG_EDGE_RISING | GPIO_V2_LINE_FLAG_EDGE_FALLING)) || periods[i];
        }
        reconfigure(board, sink, r, flags, values, periods);
        if (detecting) {
            board.reconfigure_edges(r.offsets, r.n, edges, periods);
        } else if (detect) {
            if (board.start_edges(r.id, r.offsets, r.n, edges, periods, r.buffer, false) < 0) return -ENOMEM;
            watcher_start(board);
        }
        return 0;
    }
    default: return -EINVAL;
    }
}

long v1_ioctl(Board& board, TraceSink* sink, const Request& r, unsigned long cmd, void* arg)
{
    // A line event's descriptor reads its value, and nothing else.
    uint64_t edges;
    uint32_t period;
    bool debounced;
    if (board.edge_setup(r.offsets[0], &edges, &period, &debounced) &&
        cmd != GPIOHANDLE_GET_LINE_VALUES_IOCTL)
        return -EINVAL;
    switch (cmd) {
    case GPIOHANDLE_GET_LINE_VALUES_IOCTL: {
        auto* data = static_cast<gpiohandle_data*>(arg);
        uint64_t all = all_lines(r);
        uint64_t bits = get_values(board, sink, r, all);
        memset(data, 0, sizeof *data);
        for (unsigned i = 0; i < r.n; ++i) data->values[i] = bits >> i & 1;
        return 0;
    }
    case GPIOHANDLE_SET_LINE_VALUES_IOCTL: {
        // The kernel looks at the first line alone: they were requested alike.
        if (!is_output(board, r.offsets[0])) return -EPERM;
        auto* data = static_cast<gpiohandle_data*>(arg);
        uint64_t all = all_lines(r), bits = 0;
        for (unsigned i = 0; i < r.n; ++i) bits |= uint64_t{data->values[i] != 0} << i;
        set_values(board, sink, r, all, bits);
        return 0;
    }
    case GPIOHANDLE_SET_CONFIG_IOCTL: {
        auto* config = static_cast<gpiohandle_config*>(arg);
        int err = validate_v1_flags(config->flags);
        if (err) return err;
        uint64_t flags[kMaxLines] = {};
        bool values[kMaxLines] = {};
        for (unsigned i = 0; i < r.n; ++i) {
            flags[i] = v1_to_v2_flags(config->flags);
            values[i] = config->default_values[i] != 0;
        }
        return reconfigure(board, sink, r, flags, values, nullptr);
    }
    default: return -EINVAL;
    }
}

}  // namespace

long request_ioctl(Board& board, TraceSink* sink, int fd, unsigned long cmd, void* arg)
{
    Request r;
    if (!find_request(fd, &r)) return -EBADF;
    return r.v1 ? v1_ioctl(board, sink, r, cmd, arg) : v2_ioctl(board, sink, r, cmd, arg);
}

ssize_t request_read(Board& board, int fd, void* buf, size_t count, bool* handled)
{
    Request r;
    *handled = find_request(fd, &r);
    if (!*handled) return 0;
    ssize_t got = events_read(board, r, buf, count);
    if (got != -ENOENT) return got;
    // A line handle cannot be read; a request reads whole events.
    if (r.v1 || count < sizeof(gpio_v2_line_event)) return -EINVAL;
    // No line of it detects edges, so no event ever comes: the read waits
    // on the descriptor, for ever or until a signal, or fails with EAGAIN.
    char b;
    return recv(fd, &b, 1, 0) < 0 ? -errno : -EIO;
}

uint32_t closing(int fd)
{
    Request r;
    if (!remove(fd, &r)) return 0;
    if (!r.id) watch_close(fd);
    return r.id;
}

void closed(Board& board, TraceSink* sink, uint32_t request)
{
    // The kernel releases at the last close of the file, whichever process
    // made it: copies in this process or another (a forked child's, a
    // dup's) keep it.
    if (request && !holds(request)) board.reap(sink);
}

unsigned closing_range(unsigned first, unsigned last, uint32_t* requests, unsigned max)
{
    Request r;
    unsigned n = 0;
    while (take_in_range(first, last, &r)) {
        if (!r.id)
            watch_close(r.fd);
        else if (n < max)
            requests[n++] = r.id;
    }
    return n;
}

void release_all(Board& board, TraceSink* sink)
{
    Request r;
    bool any = false;
    while (take_any_request(&r)) {
        syscall(SYS_close, r.fd);
        any = true;
    }
    if (any) board.reap(sink);
}

}  // namespace tavrel_sim::cdev
