/* SPDX-License-Identifier: MIT */
/* The GPIO character device, asked what a program may ask of it, v1 and
 * v2: information, requests, values, new configurations, ownership across
 * processes, the errors, and what each request does to the pins' function
 * and level as /dev/gpiomem shows them. A line per answer, the same on
 * every run: run under tavrel-sim --reset and on the virtual Pi Zero, the
 * two outputs must be equal. Lines 17 to 27 alone, which no device tree
 * claims. */
#include <errno.h>
#include <fcntl.h>
#include <linux/gpio.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

static int chip = -1;
static volatile uint32_t* block;

static const char* err_name(int e)
{
    switch (e) {
    case 0: return "ok";
    case EINVAL: return "EINVAL";
    case EBUSY: return "EBUSY";
    case EPERM: return "EPERM";
    case EAGAIN: return "EAGAIN";
    case EOPNOTSUPP: return "EOPNOTSUPP";
    case ENOTTY: return "ENOTTY";
    default: return strerror(e);
    }
}

static int call(int fd, unsigned long cmd, void* arg)
{
    return ioctl(fd, cmd, arg) < 0 ? errno : 0;
}

/* Function code and level of a pin, read from the block. */
static void pin(const char* when, unsigned p)
{
    unsigned code = block[p / 10] >> (p % 10 * 3) & 7;
    unsigned level = block[13 + p / 32] >> (p % 32) & 1;
    printf("%s: pin %u function %u level %u\n", when, p, code, level);
}

static void info(unsigned offset)
{
    struct gpio_v2_line_info i;
    memset(&i, 0, sizeof i);
    i.offset = offset;
    int e = call(chip, GPIO_V2_GET_LINEINFO_IOCTL, &i);
    if (e) {
        printf("info %u: %s\n", offset, err_name(e));
        return;
    }
    printf("info %u: name \"%s\" consumer \"%s\" flags 0x%llx attrs %u", offset, i.name, i.consumer,
           (unsigned long long)i.flags, i.num_attrs);
    for (unsigned a = 0; a < i.num_attrs && a < GPIO_V2_LINE_NUM_ATTRS_MAX; ++a)
        printf(" [%u %u]", i.attrs[a].id, i.attrs[a].debounce_period_us);
    struct gpioline_info v1;
    memset(&v1, 0, sizeof v1);
    v1.line_offset = offset;
    e = call(chip, GPIO_GET_LINEINFO_IOCTL, &v1);
    printf("; v1 %s flags 0x%x \"%s\" \"%s\"\n", err_name(e), v1.flags, v1.name, v1.consumer);
}

/* A v2 request of `n` lines with one set of flags; its fd, or -errno. */
static int request(const unsigned* offsets, unsigned n, uint64_t flags, uint64_t values, const char* consumer)
{
    struct gpio_v2_line_request r;
    memset(&r, 0, sizeof r);
    for (unsigned i = 0; i < n; ++i) r.offsets[i] = offsets[i];
    r.num_lines = n;
    r.config.flags = flags;
    if (values) {
        r.config.num_attrs = 1;
        r.config.attrs[0].attr.id = GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES;
        r.config.attrs[0].attr.values = values;
        r.config.attrs[0].mask = (1ull << n) - 1;
    }
    snprintf(r.consumer, sizeof r.consumer, "%s", consumer);
    int e = call(chip, GPIO_V2_GET_LINE_IOCTL, &r);
    return e ? -e : r.fd;
}

static void expect_request(const char* what, const unsigned* offsets, unsigned n, uint64_t flags)
{
    int fd = request(offsets, n, flags, 0, "conformance");
    printf("request %s: %s\n", what, err_name(fd < 0 ? -fd : 0));
    if (fd >= 0) close(fd);
}

static void values(int fd, const char* what, unsigned long cmd, uint64_t mask, uint64_t bits)
{
    struct gpio_v2_line_values v = {bits, mask};
    int e = call(fd, cmd, &v);
    printf("%s mask 0x%llx: %s bits 0x%llx\n", what, (unsigned long long)mask, err_name(e),
           (unsigned long long)(e ? 0 : v.bits));
}

static void errors(void)
{
    unsigned one[] = {17}, two[] = {17, 17}, bad[] = {17, 54};
    expect_request("input and output", one, 1, GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_OUTPUT);
    expect_request("edges on an output", one, 1, GPIO_V2_LINE_FLAG_OUTPUT | GPIO_V2_LINE_FLAG_EDGE_RISING);
    expect_request("edges with no direction", one, 1, GPIO_V2_LINE_FLAG_EDGE_FALLING);
    expect_request("open drain on an input", one, 1, GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_OPEN_DRAIN);
    expect_request("open drain and source", one, 1,
                   GPIO_V2_LINE_FLAG_OUTPUT | GPIO_V2_LINE_FLAG_OPEN_DRAIN | GPIO_V2_LINE_FLAG_OPEN_SOURCE);
    expect_request("bias with no direction", one, 1, GPIO_V2_LINE_FLAG_BIAS_PULL_UP);
    expect_request(
        "two biases", one, 1,
        GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_BIAS_PULL_UP | GPIO_V2_LINE_FLAG_BIAS_PULL_DOWN);
    expect_request("an unknown flag", one, 1, GPIO_V2_LINE_FLAG_INPUT | 1ull << 20);
    expect_request(
        "the hardware timestamp clock", one, 1,
        GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_EDGE_RISING | GPIO_V2_LINE_FLAG_EVENT_CLOCK_HTE);
    expect_request(
        "both clocks", one, 1,
        GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_EVENT_CLOCK_REALTIME | GPIO_V2_LINE_FLAG_EVENT_CLOCK_HTE);
    expect_request("no lines", one, 0, GPIO_V2_LINE_FLAG_INPUT);
    expect_request("65 lines", one, 65, GPIO_V2_LINE_FLAG_INPUT);
    expect_request("a line past the chip", bad, 2, GPIO_V2_LINE_FLAG_INPUT);
    expect_request("a line twice", two, 2, GPIO_V2_LINE_FLAG_INPUT);

    struct gpio_v2_line_request r;
    memset(&r, 0, sizeof r);
    r.offsets[0] = 17;
    r.num_lines = 1;
    r.config.flags = GPIO_V2_LINE_FLAG_OUTPUT;
    r.config.num_attrs = 1;
    r.config.attrs[0].attr.id = GPIO_V2_LINE_ATTR_ID_DEBOUNCE;
    r.config.attrs[0].attr.debounce_period_us = 1000;
    r.config.attrs[0].mask = 1;
    printf("request debounce on an output: %s\n", err_name(call(chip, GPIO_V2_GET_LINE_IOCTL, &r)));
    memset(&r, 0, sizeof r);
    r.offsets[0] = 17;
    r.num_lines = 1;
    r.padding[2] = 1;
    printf("request with padding set: %s\n", err_name(call(chip, GPIO_V2_GET_LINE_IOCTL, &r)));

    struct gpio_v2_line_info i;
    memset(&i, 0, sizeof i);
    i.offset = 17;
    i.padding[1] = 1;
    printf("info with padding set: %s\n", err_name(call(chip, GPIO_V2_GET_LINEINFO_IOCTL, &i)));
    info(54);
    uint32_t offset = 17;
    printf("unwatch an unwatched line: %s\n", err_name(call(chip, GPIO_GET_LINEINFO_UNWATCH_IOCTL, &offset)));
    offset = 54;
    printf("unwatch line 54: %s\n", err_name(call(chip, GPIO_GET_LINEINFO_UNWATCH_IOCTL, &offset)));
    offset = 60;
    printf("unwatch a line past the chip: %s\n",
           err_name(call(chip, GPIO_GET_LINEINFO_UNWATCH_IOCTL, &offset)));
    char junk[64] = {0};
    printf("an unknown chip ioctl: %s\n", err_name(call(chip, _IOWR(0xB4, 0x3F, char[64]), junk)));
}

static void v2_lines(void)
{
    unsigned out[] = {17, 18};
    pin("before", 17);
    int fd = request(out, 2, GPIO_V2_LINE_FLAG_OUTPUT, 1, "conformance");
    printf("request 17,18 output, 17 high: %s\n", err_name(fd < 0 ? -fd : 0));
    if (fd < 0) return;
    pin("requested", 17);
    pin("requested", 18);
    info(17);
    info(18);
    values(fd, "get", GPIO_V2_LINE_GET_VALUES_IOCTL, 3, 0);
    values(fd, "get", GPIO_V2_LINE_GET_VALUES_IOCTL, 0, 0);
    values(fd, "set", GPIO_V2_LINE_SET_VALUES_IOCTL, 3, 2);
    pin("set", 17);
    pin("set", 18);
    values(fd, "set", GPIO_V2_LINE_SET_VALUES_IOCTL, 0, 0);
    values(fd, "set past the request", GPIO_V2_LINE_SET_VALUES_IOCTL, 4, 4);
    printf("request 17 again: %s\n", err_name(-request(out, 1, GPIO_V2_LINE_FLAG_INPUT, 0, "again")));
    fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        int r = request(out, 1, GPIO_V2_LINE_FLAG_INPUT, 0, "child");
        printf("request 17 from another process: %s\n", err_name(r < 0 ? -r : 0));
        fflush(stdout);
        _exit(0);
    }
    waitpid(child, NULL, 0);

    char small[16];
    int n = (int)read(fd, small, sizeof small);
    printf("read 16 bytes: %s\n", err_name(n < 0 ? errno : 0));
    fcntl(fd, F_SETFL, O_NONBLOCK);
    struct gpio_v2_line_event event;
    n = (int)read(fd, &event, sizeof event);
    printf("read with nothing waiting: %s\n", err_name(n < 0 ? errno : 0));
    printf("an unknown request ioctl: %s\n", err_name(call(fd, GPIO_GET_CHIPINFO_IOCTL, small)));

    /* Active-low, then an input with a pull, then open drain. */
    struct gpio_v2_line_config c;
    memset(&c, 0, sizeof c);
    c.flags = GPIO_V2_LINE_FLAG_OUTPUT | GPIO_V2_LINE_FLAG_ACTIVE_LOW;
    printf("reconfigure active-low output: %s\n", err_name(call(fd, GPIO_V2_LINE_SET_CONFIG_IOCTL, &c)));
    pin("active-low", 17);
    values(fd, "set", GPIO_V2_LINE_SET_VALUES_IOCTL, 1, 1);
    pin("active-low set", 17);
    info(17);
    c.flags = GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_BIAS_PULL_DOWN;
    printf("reconfigure input pulled down: %s\n", err_name(call(fd, GPIO_V2_LINE_SET_CONFIG_IOCTL, &c)));
    pin("input", 17);
    info(17);
    values(fd, "set an input", GPIO_V2_LINE_SET_VALUES_IOCTL, 1, 1);
    c.flags = GPIO_V2_LINE_FLAG_OUTPUT | GPIO_V2_LINE_FLAG_OPEN_DRAIN;
    printf("reconfigure open drain: %s\n", err_name(call(fd, GPIO_V2_LINE_SET_CONFIG_IOCTL, &c)));
    pin("open drain, low", 17);
    values(fd, "set", GPIO_V2_LINE_SET_VALUES_IOCTL, 1, 1);
    pin("open drain, let go", 17);
    c.flags = 0;
    printf("reconfigure as it is: %s\n", err_name(call(fd, GPIO_V2_LINE_SET_CONFIG_IOCTL, &c)));
    info(17);
    close(fd);
    pin("released", 17);
    pin("released", 18);
    info(17);

    /* An output released: the kernel makes the pin an input again, yet
     * the line's information still says output. Low, as QEMU reads an
     * input at its output latch's level. */
    fd = request(out + 1, 1, GPIO_V2_LINE_FLAG_OUTPUT, 0, "conformance");
    printf("request 18 output low: %s\n", err_name(fd < 0 ? -fd : 0));
    if (fd < 0) return;
    close(fd);
    pin("an output released", 18);
    info(18);
}

/* Edge detection and debouncing as requested; their events cannot be
 * compared, QEMU's GPIO block raising no interrupt. */
static void edges_requested(void)
{
    unsigned line[] = {19};
    int fd = request(line, 1,
                     GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_EDGE_RISING |
                         GPIO_V2_LINE_FLAG_EDGE_FALLING | GPIO_V2_LINE_FLAG_EVENT_CLOCK_REALTIME,
                     0, "edges");
    printf("request 19 both edges, realtime clock: %s\n", err_name(fd < 0 ? -fd : 0));
    info(19);
    if (fd >= 0) {
        struct gpio_v2_line_config c;
        memset(&c, 0, sizeof c);
        c.flags = GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_EDGE_FALLING;
        c.num_attrs = 1;
        c.attrs[0].attr.id = GPIO_V2_LINE_ATTR_ID_DEBOUNCE;
        c.attrs[0].attr.debounce_period_us = 5000;
        c.attrs[0].mask = 1;
        printf("reconfigure falling edge, debounced: %s\n",
               err_name(call(fd, GPIO_V2_LINE_SET_CONFIG_IOCTL, &c)));
        info(19);
        /* A configuration without the attribute ends the debounce. */
        c.num_attrs = 0;
        memset(c.attrs, 0, sizeof c.attrs);
        printf("reconfigure falling edge, no debounce: %s\n",
               err_name(call(fd, GPIO_V2_LINE_SET_CONFIG_IOCTL, &c)));
        info(19);
        close(fd);
    }
    info(19);
    struct gpioevent_request e;
    memset(&e, 0, sizeof e);
    e.lineoffset = 26;
    e.handleflags = GPIOHANDLE_REQUEST_ACTIVE_LOW | GPIOHANDLE_REQUEST_BIAS_PULL_UP;
    e.eventflags = GPIOEVENT_REQUEST_BOTH_EDGES;
    snprintf(e.consumer_label, sizeof e.consumer_label, "event");
    int err = call(chip, GPIO_GET_LINEEVENT_IOCTL, &e);
    printf("line event 26, active-low, pulled up: %s\n", err_name(err));
    /* Its level is left out: QEMU models no pulls. */
    printf("line event: pin 26 function %u\n", block[2] >> 18 & 7);
    info(26);
    if (!err) close(e.fd);
    e.handleflags = GPIOHANDLE_REQUEST_OUTPUT;
    printf("line event on an output: %s\n", err_name(call(chip, GPIO_GET_LINEEVENT_IOCTL, &e)));
}

/* Watching line information: what a request, a new configuration and a
 * release of a watched line report, and the watch's own errors. */
static void watches(void)
{
    struct gpio_v2_line_info w;
    memset(&w, 0, sizeof w);
    w.offset = 21;
    printf("watch 21: %s\n", err_name(call(chip, GPIO_V2_GET_LINEINFO_WATCH_IOCTL, &w)));
    printf("watch 21 again: %s\n", err_name(call(chip, GPIO_V2_GET_LINEINFO_WATCH_IOCTL, &w)));
    struct gpioline_info v1;
    memset(&v1, 0, sizeof v1);
    v1.line_offset = 20;
    printf("watch 20 with v1 after v2: %s\n", err_name(call(chip, GPIO_GET_LINEINFO_WATCH_IOCTL, &v1)));
    unsigned line[] = {21};
    int fd = request(line, 1, GPIO_V2_LINE_FLAG_OUTPUT, 0, "watched");
    struct gpio_v2_line_config c;
    memset(&c, 0, sizeof c);
    c.flags = GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_BIAS_PULL_UP;
    if (fd >= 0) {
        call(fd, GPIO_V2_LINE_SET_CONFIG_IOCTL, &c);
        close(fd);
    }
    char small[8];
    int n = (int)read(chip, small, sizeof small);
    printf("read a change into 8 bytes: %s\n", err_name(n < 0 ? errno : 0));
    for (int i = 0; i < 3; ++i) {
        struct gpio_v2_line_info_changed change;
        n = (int)read(chip, &change, sizeof change);
        if (n != (int)sizeof change) {
            printf("change %d: %s\n", i, err_name(n < 0 ? errno : 0));
            break;
        }
        printf("change %d: type %u line %u consumer \"%s\" flags 0x%llx\n", i, change.event_type,
               change.info.offset, change.info.consumer, (unsigned long long)change.info.flags);
    }
    uint32_t offset = 21;
    printf("unwatch 21: %s\n", err_name(call(chip, GPIO_GET_LINEINFO_UNWATCH_IOCTL, &offset)));
    printf("unwatch 21 again: %s\n", err_name(call(chip, GPIO_GET_LINEINFO_UNWATCH_IOCTL, &offset)));
}

static void v1_lines(void)
{
    struct gpiohandle_request h;
    memset(&h, 0, sizeof h);
    h.lineoffsets[0] = 22;
    h.lineoffsets[1] = 23;
    h.lines = 2;
    h.flags = GPIOHANDLE_REQUEST_OUTPUT;
    h.default_values[1] = 7;
    snprintf(h.consumer_label, sizeof h.consumer_label, "handle");
    int e = call(chip, GPIO_GET_LINEHANDLE_IOCTL, &h);
    printf("handle 22,23 output, 23 high: %s\n", err_name(e));
    if (e) return;
    pin("handle", 22);
    pin("handle", 23);
    info(23);
    struct gpiohandle_data d;
    memset(&d, 0, sizeof d);
    d.values[0] = 1;
    printf("handle set: %s\n", err_name(call(h.fd, GPIOHANDLE_SET_LINE_VALUES_IOCTL, &d)));
    printf("handle get: %s %u %u\n", err_name(call(h.fd, GPIOHANDLE_GET_LINE_VALUES_IOCTL, &d)), d.values[0],
           d.values[1]);
    char buf[64];
    int n = (int)read(h.fd, buf, sizeof buf);
    printf("handle read: %s\n", err_name(n < 0 ? errno : 0));
    struct gpiohandle_config c;
    memset(&c, 0, sizeof c);
    c.flags = GPIOHANDLE_REQUEST_INPUT | GPIOHANDLE_REQUEST_BIAS_PULL_UP;
    printf("handle reconfigure input pulled up: %s\n", err_name(call(h.fd, GPIOHANDLE_SET_CONFIG_IOCTL, &c)));
    pin("handle input", 22);
    printf("handle set an input: %s\n", err_name(call(h.fd, GPIOHANDLE_SET_LINE_VALUES_IOCTL, &d)));
    info(22);
    c.flags = GPIOHANDLE_REQUEST_OPEN_DRAIN;
    printf("handle open drain with no output: %s\n", err_name(call(h.fd, GPIOHANDLE_SET_CONFIG_IOCTL, &c)));
    close(h.fd);
    info(22);

    memset(&h, 0, sizeof h);
    h.lineoffsets[0] = 24;
    h.lines = 1;
    h.flags = GPIOHANDLE_REQUEST_INPUT | GPIOHANDLE_REQUEST_OUTPUT;
    printf("handle input and output: %s\n", err_name(call(chip, GPIO_GET_LINEHANDLE_IOCTL, &h)));
    h.flags = GPIOHANDLE_REQUEST_INPUT;
    h.lines = 0;
    printf("handle of no lines: %s\n", err_name(call(chip, GPIO_GET_LINEHANDLE_IOCTL, &h)));
    h.lines = 1;
    h.lineoffsets[0] = 54;
    printf("handle of a line past the chip: %s\n", err_name(call(chip, GPIO_GET_LINEHANDLE_IOCTL, &h)));
}

int main(void)
{
    int mem = open("/dev/gpiomem", O_RDWR | O_SYNC);
    void* map = mem < 0 ? MAP_FAILED : mmap(NULL, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, mem, 0);
    chip = open("/dev/gpiochip0", O_RDWR | O_CLOEXEC);
    if (map == MAP_FAILED || chip < 0) {
        perror("cdev_conformance: /dev/gpiomem or /dev/gpiochip0");
        return 1;
    }
    block = map;
    struct gpiochip_info c;
    memset(&c, 0, sizeof c);
    int e = call(chip, GPIO_GET_CHIPINFO_IOCTL, &c);
    printf("chip: %s \"%s\" \"%s\" %u lines\n", err_name(e), c.name, c.label, c.lines);
    for (unsigned offset = 17; offset <= 27; ++offset) info(offset);
    v2_lines();
    edges_requested();
    watches();
    v1_lines();
    errors();
    return 0;
}
