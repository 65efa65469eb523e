// SPDX-License-Identifier: MIT
// tavrel_write_exact and tavrel_read_with_timeout on pipes and sockets.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/io_faults.h"
#include "tavrel.h"

namespace io_faults = tavrel_test::io_faults;

namespace {

struct Pair {
    int rd = -1, wr = -1;
    static Pair pipe()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) abort();
        return {fds[0], fds[1]};
    }
    static Pair sockets()
    {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) abort();
        return {fds[0], fds[1]};
    }
    void close_writer()
    {
        close(wr);
        wr = -1;
    }
    ~Pair()
    {
        if (rd >= 0) close(rd);
        if (wr >= 0) close(wr);
    }
};

class FdIo : public testing::Test {
protected:
    void TearDown() override { io_faults::reset(); }
};

void put(int fd, const char* s)
{
    ASSERT_EQ(write(fd, s, strlen(s)), static_cast<ssize_t>(strlen(s)));
}

TEST_F(FdIo, zero_lengths_return_0_without_touching_the_descriptor)
{
    Pair p = Pair::pipe();
    EXPECT_EQ(tavrel_write_exact(p.wr, nullptr, 0), 0);
    char buf[1];
    EXPECT_EQ(tavrel_read_with_timeout(p.rd, buf, 0, 0), 0);
    EXPECT_EQ(tavrel_read_with_timeout(-1, buf, 0, 1000), 0);
}

TEST_F(FdIo, read_with_no_time_left_fails_without_reading)
{
    Pair p = Pair::pipe();
    put(p.wr, "x");
    char buf[1];
    EXPECT_EQ(tavrel_read_with_timeout(p.rd, buf, 1, 0), -1);
    EXPECT_EQ(tavrel_read_with_timeout(p.rd, buf, 1, -5), -1);
    EXPECT_EQ(tavrel_read_with_timeout(p.rd, buf, 1, 1000), 1) << "the byte was left unread";
}

TEST_F(FdIo, data_already_waiting_is_read_however_late_the_clock_says_it_is)
{
    // Each look at the clock finds 0.6 ms more gone than really went: a
    // millisecond deadline is found used up before the first wait, with the
    // byte there all along.
    Pair p = Pair::pipe();
    put(p.wr, "xyz");
    io_faults::clock_step_ns = 600000;
    char buf[1];
    for (int i = 0; i < 3; ++i) EXPECT_EQ(tavrel_read_with_timeout(p.rd, buf, 1, 1), 1) << "read " << i;
    EXPECT_EQ(tavrel_read_with_timeout(p.rd, buf, 1, 1), -1) << "and with nothing there, a time-out";
}

TEST_F(FdIo, read_collects_bytes_that_arrive_in_parts)
{
    Pair p = Pair::sockets();
    std::thread peer([&] {
        put(p.wr, "abc");
        usleep(20000);
        put(p.wr, "de");
    });
    char buf[6] = {};
    EXPECT_EQ(tavrel_read_with_timeout(p.rd, buf, 5, 5000), 5);
    EXPECT_STREQ(buf, "abcde");
    peer.join();
}

TEST_F(FdIo, end_of_file_before_all_bytes_fails)
{
    Pair p = Pair::sockets();
    put(p.wr, "abc");
    p.close_writer();
    char buf[6] = {};
    EXPECT_EQ(tavrel_read_with_timeout(p.rd, buf, 5, 5000), -1);
    EXPECT_EQ(std::string(buf), "abc") << "received bytes stay in the buffer";
}

TEST_F(FdIo, read_never_asks_for_more_than_the_bytes_still_missing)
{
    Pair p = Pair::sockets();
    io_faults::counted_fd = p.rd;
    std::thread peer([&] {
        put(p.wr, "abc");
        usleep(20000);
        put(p.wr, "defgh");  // more than the call wants
    });
    std::vector<char> buf(16, 'x');
    EXPECT_EQ(tavrel_read_with_timeout(p.rd, buf.data(), 5, 5000), 5);
    peer.join();
    EXPECT_EQ(std::string(buf.data(), 8), "abcdexxx") << "nothing written past the 5 bytes";
    EXPECT_EQ(io_faults::largest_read.load(), 5u);
    char rest[8] = {};
    EXPECT_EQ(read(p.rd, rest, sizeof rest), 3) << "the peer's extra bytes stay unread";
}

TEST_F(FdIo, end_of_file_ends_the_read_at_once)
{
    Pair p = Pair::sockets();
    io_faults::counted_fd = p.rd;
    put(p.wr, "abc");
    p.close_writer();
    char buf[8] = {};
    EXPECT_EQ(tavrel_read_with_timeout(p.rd, buf, 5, 60000), -1);
    EXPECT_LE(io_faults::read_calls.load(), 3u) << "end of file is not retried until the deadline";
}

TEST_F(FdIo, time_limit_covers_the_whole_call_not_each_wait)
{
    // A byte every 30 ms never leaves a single wait of 150 ms idle, but ten
    // of them take longer than 150 ms in all.
    Pair p = Pair::pipe();
    std::atomic<bool> stop{false};
    std::thread peer([&] {
        for (int i = 0; i < 20 && !stop; ++i) {
            usleep(30000);
            (void)write(p.wr, "x", 1);
        }
    });
    char buf[10];
    EXPECT_EQ(tavrel_read_with_timeout(p.rd, buf, sizeof buf, 150), -1);
    stop = true;
    peer.join();
}

TEST_F(FdIo, eagain_after_readiness_waits_again)
{
    Pair p = Pair::pipe();
    fcntl(p.rd, F_SETFL, O_NONBLOCK);
    put(p.wr, "abc");
    io_faults::eagain_count = 2;
    io_faults::eagain_fd = p.rd;
    char buf[4] = {};
    EXPECT_EQ(tavrel_read_with_timeout(p.rd, buf, 3, 5000), 3);
    EXPECT_STREQ(buf, "abc");
    EXPECT_LE(io_faults::eagain_count.load(), 0) << "both EAGAINs were met";
}

TEST_F(FdIo, descriptors_above_1023_work)
{
    rlimit lim;
    getrlimit(RLIMIT_NOFILE, &lim);
    if (lim.rlim_max < 1601) GTEST_SKIP() << "descriptor limit " << lim.rlim_max;
    lim.rlim_cur = lim.rlim_max;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lim), 0);

    Pair p = Pair::pipe();
    ASSERT_EQ(dup2(p.rd, 1500), 1500);
    ASSERT_EQ(dup2(p.wr, 1600), 1600);
    EXPECT_EQ(tavrel_write_exact(1600, "hello", 5), 0);
    char buf[6] = {};
    EXPECT_EQ(tavrel_read_with_timeout(1500, buf, 5, 5000), 5);
    EXPECT_STREQ(buf, "hello");
    close(1500);
    close(1600);
}

TEST_F(FdIo, bad_descriptors_fail_with_ebadf)
{
    Pair p = Pair::pipe();
    int closed = dup(p.rd);
    close(closed);
    char buf[4];
    for (int fd : {closed, -1}) {
        errno = 0;
        EXPECT_EQ(tavrel_read_with_timeout(fd, buf, 4, 1000), -1) << fd;
        EXPECT_EQ(errno, EBADF) << fd;
        errno = 0;
        EXPECT_EQ(tavrel_write_exact(fd, "abcd", 4), -1) << fd;
        EXPECT_EQ(errno, EBADF) << fd;
    }
}

TEST_F(FdIo, read_rejects_lengths_its_result_cannot_report)
{
    Pair p = Pair::pipe();
    char buf[1];
    errno = 0;
    EXPECT_EQ(tavrel_read_with_timeout(p.rd, buf, static_cast<size_t>(INT_MAX) + 1, 1000), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(FdIo, write_that_makes_no_progress_fails_with_eio)
{
    Pair p = Pair::pipe();
    io_faults::stalled_fd = p.wr;
    errno = 0;
    EXPECT_EQ(tavrel_write_exact(p.wr, "abc", 3), -1);
    EXPECT_EQ(errno, EIO);
}

TEST_F(FdIo, write_fails_with_the_write_error)
{
    Pair p = Pair::pipe();
    close(p.rd);
    p.rd = -1;
    signal(SIGPIPE, SIG_IGN);
    errno = 0;
    EXPECT_EQ(tavrel_write_exact(p.wr, "abc", 3), -1);
    EXPECT_EQ(errno, EPIPE);
}

std::atomic<int> alarms{0};
void on_alarm(int)
{
    ++alarms;
}

TEST_F(FdIo, one_mib_write_survives_interrupting_signals_and_short_writes)
{
    Pair p = Pair::pipe();
    std::vector<char> data(1 << 20);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + (i >> 12));

    // The reader drains slowly with the timer signal blocked, so the
    // signals land on the writing thread while its write waits for room:
    // some cut a write short, others interrupt one that has written nothing.
    std::vector<char> got;
    std::thread reader([&] {
        sigset_t block;
        sigemptyset(&block);
        sigaddset(&block, SIGALRM);
        pthread_sigmask(SIG_BLOCK, &block, nullptr);
        char buf[16384];
        ssize_t n;
        while ((n = read(p.rd, buf, sizeof buf)) > 0) {
            got.insert(got.end(), buf, buf + n);
            usleep(3000);
        }
    });

    struct sigaction sa = {};
    sa.sa_handler = on_alarm;  // no SA_RESTART: the write is cut short
    sigaction(SIGALRM, &sa, nullptr);
    itimerval every_ms = {{0, 1000}, {0, 1000}};
    setitimer(ITIMER_REAL, &every_ms, nullptr);
    io_faults::counted_fd = p.wr;

    EXPECT_EQ(tavrel_write_exact(p.wr, data.data(), data.size()), 0);

    itimerval off = {};
    setitimer(ITIMER_REAL, &off, nullptr);
    p.close_writer();
    reader.join();
    EXPECT_GT(alarms.load(), 0);
    EXPECT_GT(io_faults::counted_calls.load(), 1u) << "the kernel cut the write short";
    EXPECT_GT(io_faults::counted_eintr.load(), 0u) << "a write was interrupted before any byte";
    EXPECT_TRUE(got == data) << "received " << got.size() << " bytes";
}

TEST_F(FdIo, write_of_more_than_2_gib_is_written_whole)
{
    // /dev/null takes what it is given without reading it, so an untouched
    // reservation serves as the buffer. Where size_t allows, past 4 GiB too,
    // which no 32-bit count can follow.
    const size_t len = sizeof(size_t) > 4 ? size_t(9) << 29 : size_t(5) << 29;
    void* data = mmap(nullptr, len, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (data == MAP_FAILED) GTEST_SKIP() << "no room for the buffer in this address space";
    int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    io_faults::counted_fd = fd;
    EXPECT_EQ(tavrel_write_exact(fd, data, len), 0);
    EXPECT_EQ(io_faults::counted_bytes.load(), len);
    close(fd);
    munmap(data, len);
}

// Out-of-contract input, case by case: each does what the documentation
// says or nothing, and touches nothing outside the block.

TEST(BadInput, descriptor_and_version_calls)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    char buf[8];
    struct Case {
        const char* what;
        std::function<int()> call;
        int result, error;
    } cases[] = {
        {"read of length SIZE_MAX", [&] { return tavrel_read_with_timeout(fds[0], buf, SIZE_MAX, 10); }, -1,
         EINVAL},
        {"read from descriptor -5", [&] { return tavrel_read_with_timeout(-5, buf, 1, 10); }, -1, EBADF},
        {"read of nothing into null", [&] { return tavrel_read_with_timeout(fds[0], nullptr, 0, 10); }, 0, 0},
        {"read with time limit INT_MIN", [&] { return tavrel_read_with_timeout(fds[0], buf, 1, INT_MIN); },
         -1, 0},
        {"write from null", [&] { return tavrel_write_exact(fds[1], nullptr, 5); }, -1, EFAULT},
        {"write to descriptor INT_MAX", [&] { return tavrel_write_exact(INT_MAX, "x", 1); }, -1, EBADF},
        {"version text into null", [&] { return tavrel_get_version_str(nullptr, 64); }, -1, EINVAL},
        {"version text of size 0", [&] { return tavrel_get_version_str(buf, 0); }, -1, EINVAL},
    };
    for (const Case& c : cases) {
        errno = 0;
        EXPECT_EQ(c.call(), c.result) << c.what;
        if (c.error) {
            EXPECT_EQ(errno, c.error) << c.what;
        }
    }
    close(fds[0]);
    close(fds[1]);
}

}  // namespace
