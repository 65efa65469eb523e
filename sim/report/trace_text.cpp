// SPDX-License-Identifier: MIT
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "model/registers.h"
#include "model/rp1.h"
#include "report/trace_text.h"

namespace tavrel_sim {

std::string describe(const TraceRecord& r, Soc soc)
{
    char buf[160];
    char word[32];
    const char* name = nullptr;
    if (is_rp1(soc)) {
        rp1_word_name(r.word * 4u, word, sizeof word);
    } else {
        name = register_name(r.word, soc);
        snprintf(word, sizeof word, "word %u", r.word);
    }
    snprintf(buf, sizeof buf, "%u/%u %s %-9s 0x%08x", r.pid, r.tid,
             r.kind == TraceRecord::kRead ? "read " : "write", name ? name : word, r.value);
    std::string s = buf;
    if (r.flags & TraceRecord::kBadWidth) s += " ERROR: " + std::to_string(r.width * 8) + "-bit access";
    if (r.flags & TraceRecord::kUnaligned) s += " ERROR: unaligned access";
    if (r.flags & TraceRecord::kAfterUnmap) s += " ERROR: access after munmap";
    if (r.flags & TraceRecord::kKernel) s += " (by the kernel, for /dev/gpiochip0)";
    return s;
}

void for_each_record(const std::string& path, bool* whole,
                     const std::function<void(const TraceRecord&)>& take)
{
    if (whole) *whole = true;
    int fd = static_cast<int>(syscall(SYS_openat, AT_FDCWD, path.c_str(), O_RDONLY | O_CLOEXEC, 0));
    if (fd < 0) {
        if (whole) *whole = errno == ENOENT;
        return;
    }
    TraceRecord r;
    for (;;) {
        // Records are written whole, with one write each: anything else is
        // a trace cut short.
        ssize_t n = ::read(fd, &r, sizeof r);
        if (n == sizeof r) {
            take(r);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n != 0 && whole) *whole = false;
        break;
    }
    ::close(fd);
}

std::vector<TraceRecord> read_trace(const std::string& path, bool* whole)
{
    std::vector<TraceRecord> records;
    for_each_record(path, whole, [&](const TraceRecord& r) { records.push_back(r); });
    return records;
}

}  // namespace tavrel_sim
