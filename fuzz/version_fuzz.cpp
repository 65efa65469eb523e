// SPDX-License-Identifier: MIT
// Fuzzes the version file's reading, trimming and checking through the
// library's own code, against an independent reading of the same rules.
// Input: one byte choosing the buffer size, then the file's contents.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "tavrel.h"

namespace {

struct Expected {
    int result;  // length, or -1
    int error;
    std::string text;
    long long major = 0;
    int minor = 0;
    char letter = 0;
};

bool is_ws(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

Expected oracle(const std::string& file, size_t size)
{
    std::string t = file.substr(0, 63);
    t = t.substr(0, t.find('\0'));
    size_t b = 0, e = t.size();
    while (b < e && is_ws(t[b])) ++b;
    while (e > b && is_ws(t[e - 1])) --e;
    t = t.substr(b, e - b);

    Expected x{-1, EINVAL, t};
    size_t dot = t.find('.');
    if (dot == std::string::npos || dot == 0 || t.size() != dot + 4) return x;
    for (size_t i = 0; i < dot; ++i)
        if (t[i] < '0' || t[i] > '9') return x;
    if (t[dot + 1] < '0' || t[dot + 1] > '9' || t[dot + 2] < '0' || t[dot + 2] > '9') return x;
    if (t[dot + 3] < 'A' || t[dot + 3] > 'Z') return x;
    std::string digits = t.substr(0, dot);
    digits.erase(0, digits.find_first_not_of('0'));
    if (digits.size() > 10 || (digits.size() == 10 && digits > "2147483647")) return x;
    x.major = digits.empty() ? 0 : atoll(digits.c_str());
    x.minor = (t[dot + 1] - '0') * 10 + (t[dot + 2] - '0');
    x.letter = t[dot + 3];
    if (t.size() + 1 > size) {
        x.error = ENOSPC;  // valid, but not for this buffer
        return x;
    }
    x.result = static_cast<int>(t.size());
    x.error = 0;
    return x;
}

void check(bool ok, const char* what)
{
    if (!ok) {
        fprintf(stderr, "mismatch: %s\n", what);
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    size_t buffer_size = data[0] % 72;
    std::string file(reinterpret_cast<const char*>(data + 1), size - 1);
    FILE* f = fopen(TAVREL_VERSION_FILE, "wb");
    fwrite(file.data(), 1, file.size(), f);
    fclose(f);

    Expected x = oracle(file, buffer_size);
    char buf[80];
    memset(buf, '#', sizeof buf);
    errno = 0;
    int n = tavrel_get_version_str(buffer_size ? buf : nullptr, buffer_size);
    if (buffer_size == 0) {
        check(n == -1 && errno == EINVAL, "size 0 must fail with EINVAL");
        return 0;
    }
    check(n == x.result, "result");
    if (n < 0) {
        check(errno == x.error, "errno");
        check(buf[0] == '#', "buffer written on failure");
    } else {
        check(x.text == buf, "text");
    }

    tavrel_version v = {-7, -7, '?'};
    int r = tavrel_get_version(&v);
    bool valid = x.result >= 0 || x.error == ENOSPC;
    check(r == (valid ? 0 : -1), "record result");
    if (valid) {
        check(v.major == x.major && v.minor == x.minor && v.letter == x.letter, "record fields");
    } else {
        check(v.major == -7 && v.minor == -7 && v.letter == '?', "record written on failure");
    }
    return 0;
}
