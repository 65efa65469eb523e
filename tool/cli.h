// SPDX-License-Identifier: MIT
// What the command-line tools share: reading pin numbers as written,
// the chip's pin count, and making sure a report reached its reader.
#pragma once

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tavrel.h"

namespace tavrel_cli {

// What to do when the GPIO block cannot be reached, by the error.
inline const char* access_hint(int err)
{
    switch (err) {
    case ENOENT: return " (on a machine that is not a Raspberry Pi, run the program under tavrel-sim)";
    case EACCES:
    case EPERM: return " (members of the gpio group may use /dev/gpiomem)";
    case ENODEV: return " (the GPIO block is not of the BCM2835 family)";
    default: return "";
    }
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

}  // namespace tavrel_cli
