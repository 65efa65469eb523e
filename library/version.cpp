// SPDX-License-Identifier: MIT
// The installation's version file: read, trim, validate, parse.
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tavrel.h"

namespace {

// Fixed for the library; the fuzzer builds this file with a path of its own.
#ifndef TAVREL_VERSION_FILE
#define TAVREL_VERSION_FILE "/opt/tavrel/VERSION"
#endif
constexpr const char kVersionPath[] = TAVREL_VERSION_FILE;
constexpr size_t kMaxRead = 63;

bool is_ws(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Only these four count as white space; a form feed is text.
void trim_ws(char* s)
{
    char* p = s;
    while (is_ws(*p)) ++p;
    if (p != s) memmove(s, p, strlen(p) + 1);
    size_t n = strlen(s);
    while (n > 0 && is_ws(s[n - 1])) s[--n] = '\0';
}

int invalid()
{
    errno = EINVAL;
    return -1;
}

// DIGITS "." DIGIT DIGIT [A-Z], nothing before or after. The record is
// written only on success.
int validate_and_parse_version(const char* s, tavrel_version* out)
{
    if (!s || !*s) return invalid();
    int64_t major = 0;
    const char* p = s;
    for (; is_digit(*p); ++p) {
        major = major * 10 + (*p - '0');
        if (major > INT32_MAX) return invalid();
    }
    if (p == s || *p++ != '.') return invalid();
    if (!is_digit(p[0]) || !is_digit(p[1])) return invalid();
    int32_t minor = (p[0] - '0') * 10 + (p[1] - '0');
    p += 2;
    char letter = *p++;
    if (letter < 'A' || letter > 'Z' || *p != '\0') return invalid();
    if (out) {
        out->major = static_cast<int32_t>(major);
        out->minor = minor;
        out->letter = letter;
    }
    return 0;
}

}  // namespace

extern "C" {

int tavrel_get_version_str(char* buf, size_t size)
{
    if (!buf || size == 0) return invalid();
    // Non-blocking, so that a FIFO or device there cannot hang the open.
    int fd = open(kVersionPath, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return invalid();
    }
    char text[kMaxRead + 1];
    ssize_t n = read(fd, text, kMaxRead);
    int read_errno = errno;
    close(fd);
    if (n < 0) {
        errno = read_errno;
        return -1;
    }
    text[n] = '\0';  // an earlier NUL in the file ends the text there
    trim_ws(text);
    if (validate_and_parse_version(text, nullptr) != 0) return -1;
    size_t len = strlen(text);
    if (len + 1 > size) {
        errno = ENOSPC;
        return -1;
    }
    memcpy(buf, text, len + 1);
    return static_cast<int>(len);
}

int tavrel_get_version(tavrel_version* version)
{
    char text[kMaxRead + 1];
    if (tavrel_get_version_str(text, sizeof text) < 0) return -1;
    return validate_and_parse_version(text, version);
}

}  // extern "C"
