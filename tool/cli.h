// SPDX-License-Identifier: MIT
// What the command-line tools share: reading pin numbers as written,
// the chip's pin count, and making sure a report reached its reader.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "tavrel.h"

namespace tavrel_cli {

// --help and --version, which every tool of ours but the pin-mode tool
// takes; getopt_long returns 'h' and 'V' for them.
constexpr option kStandardOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// The version the tool was built with, which its package installs.
inline int print_version(const char* tool);

// The machine's device tree names a Raspberry Pi.
inline bool on_a_pi()
{
    char model[16] = "";
    if (FILE* f = fopen("/proc/device-tree/model", "re")) {
        size_t n = fread(model, 1, sizeof model - 1, f);
        model[n] = '\0';
        fclose(f);
    }
    return strncmp(model, "Raspberry Pi", 12) == 0;
}

// What to do when the GPIO block cannot be reached, by the error.
inline const char* access_hint(int err)
{
    switch (err) {
    case ENOENT:
        return on_a_pi()
                   ? " (the kernel offers no /dev/gpiomem: Raspberry Pi OS's kernel has its gpiomem driver)"
                   : " (on a machine that is not a Raspberry Pi, run the program under tavrel-sim)";
    case EACCES:
    case EPERM:
        return " (members of the gpio group may use /dev/gpiomem: sudo adduser $USER gpio, then log in "
               "again)";
    case ENODEV: return " (the GPIO block is not of the BCM2835 family)";
    default: return "";
    }
}

// Says why GPIO access could not be opened, as the device's own open
// answers; the tool's status, 1.
inline int no_access(const char* tool)
{
    int fd = open("/dev/gpiomem", O_RDWR | O_SYNC | O_CLOEXEC);
    int err = fd < 0 ? errno : EIO;
    if (fd >= 0) close(fd);
    fprintf(stderr, "%s: cannot open GPIO access: /dev/gpiomem: %s%s\n", tool, strerror(err),
            access_hint(err));
    return 1;
}

// The chip's pin count, asked of the library once; 0 after saying why it
// cannot be told.
inline int chip_pins(const char* tool)
{
    static int32_t count = -2;
    if (count == -2) {
        count = tavrel_gpio_pin_count();
        if (count < 0) {
            int err = errno;
            fprintf(stderr, "%s: cannot tell the board's GPIO chip: /dev/gpiomem: %s%s\n", tool,
                    strerror(err), access_hint(err));
        }
    }
    return count > 0 ? count : 0;
}

// The decimal number at the start of `text`, as written: false for no
// digits, or for a number outside [min, max] however large, never
// wrapped or saturated into a value the caller accepts. *end: where the
// digits stop. Every tool of ours but the pin-mode tool, which keeps
// atoi, reads its numbers here.
inline bool leading_number(const char* text, long long min, long long max, long long* value, const char** end)
{
    char* stop;
    errno = 0;
    long long v = strtoll(text, &stop, 10);
    *end = stop;
    if (stop == text || errno == ERANGE || v < min || v > max) return false;
    *value = v;
    return true;
}

// The whole text as such a number.
inline bool number_as_written(const char* text, long long min, long long max, long long* value)
{
    const char* end;
    return leading_number(text, min, max, value, &end) && *end == '\0';
}

// The pin-mode tool's reading, for its range message alone: the number
// as written, without atoi's wrap-around ("4294967314" is not pin 18);
// values past either end saturate beyond [0, last]. Text that is not a
// number is 0, as atoi has it.
inline long long pin_as_written(const char* text, int last)
{
    errno = 0;
    long long value = strtoll(text, nullptr, 10);
    if (errno == ERANGE) value = value < 0 ? -1 : last + 1LL;
    return value;
}

// Flushes standard output: a report that never arrived must not look like
// one. Returns the tool's status, 0 or 1.
inline int report_written(const char* tool)
{
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "%s: cannot write the report: %s\n", tool, strerror(errno));
        return 1;
    }
    return 0;
}

inline int print_version(const char* tool)
{
    printf("%s %d.%d.%d\n", tool, TAVREL_VERSION_MAJOR, TAVREL_VERSION_MINOR, TAVREL_VERSION_PATCH);
    return report_written(tool);
}

// A pin named rather than numbered: by its line's name on the chip, as
// gpiofind finds it ("GPIO17", "SPI_CE0_N"), or else as "GPIO" and its
// number (the Pi's GPIO4 is a line named "GPIO_GCLK"). False, with errno,
// for no such name or when the chip cannot be asked.
inline bool pin_by_name(const char* text, long long* pin)
{
    int32_t found = tavrel_gpio_pin_by_name(text);
    if (found >= 0) {
        *pin = found;
        return true;
    }
    int err = errno;
    const char* digits = text + 4;
    if (strncmp(text, "GPIO", 4) == 0 && *digits >= '0' && *digits <= '9') {
        char* end;
        errno = 0;
        long long number = strtoll(digits, &end, 10);
        if (*end == '\0' && errno == 0) {
            *pin = number;
            return true;
        }
    }
    errno = err;
    return false;
}

// A pin as a tool is given it: a number from 0 to last, or a name as
// above. False for anything else; *named tells which was tried.
inline bool pin_argument(const char* text, long long last, long long* pin, bool* named)
{
    *named = text[0] != '\0' && !(text[0] >= '0' && text[0] <= '9') && text[0] != '-' && text[0] != '+';
    if (!*named) return number_as_written(text, 0, last, pin);
    return pin_by_name(text, pin) && *pin >= 0 && *pin <= last;
}

}  // namespace tavrel_cli
