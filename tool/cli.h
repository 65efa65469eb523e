// SPDX-License-Identifier: MIT
// What the command-line tools share: reading pin numbers as written and
// making sure a report reached its reader.
#pragma once

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace tavrel_cli {

// The number as written, without atoi's wrap-around: "4294967314" is not
// pin 18. Values past either end saturate beyond [0, last]. Text that is
// not a number is 0, as atoi has it.
inline long long pin_as_written(const char* text, int last, char** end = nullptr)
{
    errno = 0;
    long long value = strtoll(text, end, 10);
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
