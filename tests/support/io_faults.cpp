#include "support/io_faults.h"

#include <dlfcn.h>
#include <errno.h>
#include <unistd.h>

namespace tavrel_test::io_faults {

std::atomic<int> eagain_fd{kNone};
std::atomic<int> eagain_count{0};
std::atomic<int> stalled_fd{kNone};
std::atomic<int> counted_fd{kNone};
std::atomic<size_t> counted_bytes{0};
std::atomic<size_t> counted_calls{0};
std::atomic<size_t> counted_eintr{0};

void reset()
{
    eagain_fd = kNone;
    eagain_count = 0;
    stalled_fd = kNone;
    counted_fd = kNone;
    counted_bytes = 0;
    counted_calls = 0;
    counted_eintr = 0;
}

}  // namespace tavrel_test::io_faults

using namespace tavrel_test::io_faults;

extern "C" ssize_t read(int fd, void* buf, size_t n)
{
    using Fn = ssize_t (*)(int, void*, size_t);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "read"));
    if (fd == eagain_fd.load() && eagain_count.fetch_sub(1) > 0) {
        errno = EAGAIN;
        return -1;
    }
    return real(fd, buf, n);
}

extern "C" ssize_t write(int fd, const void* buf, size_t n)
{
    using Fn = ssize_t (*)(int, const void*, size_t);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "write"));
    if (fd == stalled_fd.load() && n > 0) return 0;
    ssize_t r = real(fd, buf, n);
    if (fd == counted_fd.load()) {
        if (r > 0) counted_bytes += static_cast<size_t>(r);
        if (r > 0) ++counted_calls;
        if (r < 0 && errno == EINTR) ++counted_eintr;
    }
    return r;
}
