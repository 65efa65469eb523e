// SPDX-License-Identifier: MIT
// The chip's descriptor: its information, its lines' information, and
// line requests, v1 and v2, as the kernel's character device gives them.
#include <errno.h>
#include <fcntl.h>
#include <linux/gpio.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "chardev/cdev.h"
#include "chardev/events.h"
#include "chardev/files.h"
#include "shim/shim.h"

namespace tavrel_sim::cdev {

namespace {

template <size_t N>
void copy_name(char (&to)[N], const char* from)
{
    size_t n = strnlen(from, N - 1);
    memcpy(to, from, n);
    to[n] = '\0';
}

template <typename T, size_t N>
bool all_zero(const T (&words)[N])
{
    for (const T& w : words)
        if (w) return false;
    return true;
}

}  // namespace

void compose_info(Soc soc, unsigned offset, uint64_t flags, const char* label, uint32_t debounce_us,
                  gpio_v2_line_info* info)
{
    memset(info, 0, sizeof *info);
    info->offset = offset;
    copy_name(info->name, line_name(soc, offset));
    info->flags = flags;
    if (!(flags & GPIO_V2_LINE_FLAG_USED)) return;
    copy_name(info->consumer, label);
    if (debounce_us) {
        info->num_attrs = 1;
        info->attrs[0].id = GPIO_V2_LINE_ATTR_ID_DEBOUNCE;
        info->attrs[0].debounce_period_us = debounce_us;
    }
}

void line_info(Board& board, unsigned offset, gpio_v2_line_info* info)
{
    LineDesc d = board.line(offset);
    compose_info(board.soc(), offset, info_flags(d), d.label, d.debounce_us, info);
}

void line_info_to_v1(const gpio_v2_line_info& v2, gpioline_info* v1)
{
    memset(v1, 0, sizeof *v1);
    memcpy(v1->name, v2.name, sizeof v1->name);
    memcpy(v1->consumer, v2.consumer, sizeof v1->consumer);
    v1->line_offset = v2.offset;
    static constexpr struct {
        uint64_t v2;
        uint32_t v1;
    } kMap[] = {
        {GPIO_V2_LINE_FLAG_USED, GPIOLINE_FLAG_KERNEL},
        {GPIO_V2_LINE_FLAG_OUTPUT, GPIOLINE_FLAG_IS_OUT},
        {GPIO_V2_LINE_FLAG_ACTIVE_LOW, GPIOLINE_FLAG_ACTIVE_LOW},
        {GPIO_V2_LINE_FLAG_OPEN_DRAIN, GPIOLINE_FLAG_OPEN_DRAIN},
        {GPIO_V2_LINE_FLAG_OPEN_SOURCE, GPIOLINE_FLAG_OPEN_SOURCE},
        {GPIO_V2_LINE_FLAG_BIAS_PULL_UP, GPIOLINE_FLAG_BIAS_PULL_UP},
        {GPIO_V2_LINE_FLAG_BIAS_PULL_DOWN, GPIOLINE_FLAG_BIAS_PULL_DOWN},
        {GPIO_V2_LINE_FLAG_BIAS_DISABLED, GPIOLINE_FLAG_BIAS_DISABLE},
    };
    for (const auto& m : kMap)
        if (v2.flags & m.v2) v1->flags |= m.v1;
}

namespace {

// The line's offset, checked against the chip as the kernel's descriptor
// lookup checks it.
bool valid_offset(Board& board, uint32_t offset)
{
    return offset < pin_count(board.soc());
}

// One line's part of a new request: its flags, its direction and value.
struct LineSetup {
    uint64_t flags;
    bool value;
};

constexpr uint64_t kEdges = GPIO_V2_LINE_FLAG_EDGE_RISING | GPIO_V2_LINE_FLAG_EDGE_FALLING;

// Requests the lines as the kernel does, one after another: each is taken,
// given its flags and configured. When one cannot be taken, those before
// it were configured all the same, and are freed again, which leaves them
// inputs. `events`: the lines' edge flags (with ACTIVE_LOW and the clock),
// for a request that detects edges, buffering `buffer` events; else null.
// A descriptor, or a negative errno.
long request_lines(Board& board, TraceSink* sink, const uint32_t* offsets, unsigned n, const char* consumer,
                   const LineSetup* setup, bool v1, const uint64_t* events, const uint32_t* debounce_us,
                   unsigned buffer)
{
    char label[GPIO_MAX_NAME_SIZE];
    copy_name(label, consumer);
    uint32_t id = 0;
    unsigned got = 0;
    int err = board.claim_lines(offsets, n, label, static_cast<uint32_t>(getpid()), &id, &got, sink);
    Pinctrl pins(board, sink);
    for (unsigned i = 0; i < got; ++i) {
        uint64_t kept = desc_flags(board.line(offsets[i]).flags, setup[i].flags);
        if (!err) board.set_line(id, offsets[i], kept, debounce_us ? debounce_us[i] : 0);
        apply_direction(pins, offsets[i], setup[i].flags, setup[i].value);
        if (err) {
            board.set_line(0, offsets[i], kept, 0);
            pins.input(offsets[i]);
        }
    }
    if (err) return -err;
    Request r;
    r.fd = board.request_socket(id, false);
    r.id = id;
    r.v1 = v1;
    r.n = n;
    r.buffer = buffer;
    memcpy(r.offsets, offsets, n * sizeof offsets[0]);
    bool added = r.fd >= 0 && add_request(r);
    bool detecting =
        added && (!events || board.start_edges(id, offsets, n, events, debounce_us, buffer, v1) >= 0);
    if (detecting) {
        if (events) watcher_start(board);
        board.show_lines(id);
        for (unsigned i = 0; i < n; ++i) board.note_line(offsets[i], GPIO_V2_LINE_CHANGED_REQUESTED);
        return r.fd;
    }
    err = r.fd < 0 ? errno : !added ? EMFILE : ENOMEM;
    if (added) {
        Request gone;
        remove(r.fd, &gone);
    }
    if (r.fd >= 0) syscall(SYS_close, r.fd);
    if (r.fd >= 0 && !added)
        shim::say("tavrel-sim: more GPIO line requests open at once than the simulated board keeps\n");
    board.free_request(id, sink);
    return -err;
}

long create_v2(Board& board, TraceSink* sink, gpio_v2_line_request* ulr)
{
    if (ulr->num_lines == 0 || ulr->num_lines > kMaxLines) return -EINVAL;
    if (!all_zero(ulr->padding)) return -EINVAL;
    long err = validate_v2_config(&ulr->config, ulr->num_lines);
    if (err) return err;
    LineSetup setup[kMaxLines];
    uint64_t edges[kMaxLines];
    uint32_t periods[kMaxLines] = {};
    bool detect = false;
    for (unsigned i = 0; i < ulr->num_lines; ++i) {
        setup[i] = {v2_line_flags(&ulr->config, i), v2_output_value(&ulr->config, i)};
        edges[i] =
            setup[i].flags & (kEdges | GPIO_V2_LINE_FLAG_ACTIVE_LOW | GPIO_V2_LINE_FLAG_EVENT_CLOCK_REALTIME);
        v2_debounce(&ulr->config, i, &periods[i]);
        detect |= (edges[i] & kEdges) != 0 || periods[i];
    }
    unsigned buffer = ulr->event_buffer_size ? ulr->event_buffer_size : ulr->num_lines * 16;
    if (buffer > kMaxEvents) buffer = kMaxEvents;
    long fd = request_lines(board, sink, ulr->offsets, ulr->num_lines, ulr->consumer, setup, false,
                            detect ? edges : nullptr, periods, buffer);
    if (fd < 0) return fd;
    ulr->fd = static_cast<int>(fd);
    return 0;
}

long create_v1(Board& board, TraceSink* sink, gpiohandle_request* req)
{
    if (req->lines == 0 || req->lines > GPIOHANDLES_MAX) return -EINVAL;
    int err = validate_v1_flags(req->flags);
    if (err) return err;
    LineSetup setup[kMaxLines];
    for (unsigned i = 0; i < req->lines; ++i)
        setup[i] = {v1_to_v2_flags(req->flags), req->default_values[i] != 0};
    long fd = request_lines(board, sink, req->lineoffsets, req->lines, req->consumer_label, setup, true,
                            nullptr, nullptr, 0);
    if (fd < 0) return fd;
    req->fd = static_cast<int>(fd);
    return 0;
}

// A v1 line event: one input line, whose events are read as gpioevent_data.
long create_v1_event(Board& board, TraceSink* sink, gpioevent_request* req)
{
    if (!valid_offset(board, req->lineoffset)) return -EINVAL;
    uint32_t f = req->handleflags;
    // 0xff: the eight GPIOHANDLE_REQUEST_ flags; 3: both edges.
    if ((f & ~0xffu) || (req->eventflags & ~3u)) return -EINVAL;
    if (f & (GPIOHANDLE_REQUEST_OUTPUT | GPIOHANDLE_REQUEST_OPEN_DRAIN | GPIOHANDLE_REQUEST_OPEN_SOURCE))
        return -EINVAL;
    uint64_t flags = v1_to_v2_flags(f) | GPIO_V2_LINE_FLAG_INPUT;
    if (validate_v2_flags(flags)) return -EINVAL;
    LineSetup setup[1] = {{flags, false}};
    uint64_t edges[1] = {flags & GPIO_V2_LINE_FLAG_ACTIVE_LOW};
    if (req->eventflags & GPIOEVENT_REQUEST_RISING_EDGE) edges[0] |= GPIO_V2_LINE_FLAG_EDGE_RISING;
    if (req->eventflags & GPIOEVENT_REQUEST_FALLING_EDGE) edges[0] |= GPIO_V2_LINE_FLAG_EDGE_FALLING;
    long fd =
        request_lines(board, sink, &req->lineoffset, 1, req->consumer_label, setup, true, edges, nullptr, 16);
    if (fd < 0) return fd;
    req->fd = static_cast<int>(fd);
    return 0;
}

}  // namespace

int open_chip(Board& board, int flags)
{
    (void)board;
    int fd = new_descriptor(flags & O_CLOEXEC, flags & O_NONBLOCK);
    if (fd < 0) return -1;
    if (add_chip(fd)) return fd;
    close(fd);
    shim::say("tavrel-sim: more descriptors of %s open at once than the simulated board keeps\n", kPath);
    errno = EMFILE;
    return -1;
}

long chip_ioctl(Board& board, TraceSink* sink, int fd, unsigned long cmd, void* arg)
{
    // What the lines show is exact at once: a holder that has just ended
    // holds nothing, as its last close freed the kernel's lines.
    if (cmd == GPIO_V2_GET_LINEINFO_IOCTL || cmd == GPIO_GET_LINEINFO_IOCTL) board.reap(sink);
    switch (cmd) {
    case GPIO_GET_CHIPINFO_IOCTL: {
        auto* info = static_cast<gpiochip_info*>(arg);
        memset(info, 0, sizeof *info);
        copy_name(info->name, kName);
        copy_name(info->label, chip_label(board.soc()));
        info->lines = pin_count(board.soc());
        return 0;
    }
    case GPIO_V2_GET_LINEINFO_IOCTL: {
        auto* info = static_cast<gpio_v2_line_info*>(arg);
        if (!all_zero(info->padding)) return -EINVAL;
        if (!valid_offset(board, info->offset)) return -EINVAL;
        line_info(board, info->offset, info);
        return 0;
    }
    case GPIO_GET_LINEINFO_IOCTL: {
        auto* info = static_cast<gpioline_info*>(arg);
        if (!valid_offset(board, info->line_offset)) return -EINVAL;
        gpio_v2_line_info v2;
        line_info(board, info->line_offset, &v2);
        line_info_to_v1(v2, info);
        return 0;
    }
    case GPIO_V2_GET_LINEINFO_WATCH_IOCTL:
    case GPIO_GET_LINEINFO_WATCH_IOCTL:
    case GPIO_GET_LINEINFO_UNWATCH_IOCTL: return watch_ioctl(board, fd, cmd, arg);
    case GPIO_V2_GET_LINE_IOCTL: return create_v2(board, sink, static_cast<gpio_v2_line_request*>(arg));
    case GPIO_GET_LINEHANDLE_IOCTL: return create_v1(board, sink, static_cast<gpiohandle_request*>(arg));
    case GPIO_GET_LINEEVENT_IOCTL: return create_v1_event(board, sink, static_cast<gpioevent_request*>(arg));
    default: return -EINVAL;
    }
}

}  // namespace tavrel_sim::cdev
