// SPDX-License-Identifier: MIT
// The version file, redirected by the simulated environment.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <string>

#include "support/io_faults.h"
#include "support/process.h"
#include "support/sim_board.h"
#include "tavrel.h"

using namespace tavrel_test;

namespace {

class Version : public testing::Test {
protected:
    Version()
    {
        char tmpl[] = "/tmp/tavrel-version-XXXXXX";
        int fd = mkstemp(tmpl);
        close(fd);
        path_ = tmpl;
        setenv("TAVREL_SIM_VERSION", path_.c_str(), 1);
    }
    ~Version() override { unlink(path_.c_str()); }

    void file(const std::string& text)
    {
        FILE* f = fopen(path_.c_str(), "wb");
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }
    void remove_file() { unlink(path_.c_str()); }

    // The text as tavrel_get_version_str returns it, or "errno N".
    std::string text(size_t size = 64)
    {
        char buf[128];
        memset(buf, '#', sizeof buf);
        errno = 0;
        int n = tavrel_get_version_str(buf, size);
        if (n < 0) return "errno " + std::to_string(errno);
        EXPECT_EQ(static_cast<size_t>(n), strlen(buf));
        return buf;
    }

    std::string path_;
};

const std::string kEinval = "errno " + std::to_string(EINVAL);

TEST_F(Version, valid_texts_are_returned_trimmed)
{
    struct {
        const char *file, *text;
    } cases[] = {
        {"1.05A\n", "1.05A"},
        {" \t12.34Z\r\n", "12.34Z"},
        {"007.00A", "007.00A"},
        {"2147483647.99Z", "2147483647.99Z"},
        {"00000000000000000000000000001.00B\n", "00000000000000000000000000001.00B"},
    };
    for (auto& c : cases) {
        file(c.file);
        EXPECT_EQ(text(), c.text) << c.file;
    }
}

TEST_F(Version, record_holds_major_minor_and_letter)
{
    file("1.05A\n");
    tavrel_version v{};
    ASSERT_EQ(tavrel_get_version(&v), 0);
    EXPECT_EQ(v.major, 1);
    EXPECT_EQ(v.minor, 5);
    EXPECT_EQ(v.letter, 'A');

    file("007.00Q");
    ASSERT_EQ(tavrel_get_version(&v), 0);
    EXPECT_EQ(v.major, 7);
    EXPECT_EQ(v.minor, 0);
    EXPECT_EQ(v.letter, 'Q');
}

TEST_F(Version, malformed_texts_fail_with_einval_and_leave_the_record)
{
    const char* cases[] = {
        "1.5A",
        "1.05",
        "1.05a",
        ".05A",
        "1.05AB",
        "1.05 A",
        "1,05A",
        "v1.05A",
        "1.05A.",
        "1.0AA",
        "",
        "  \t\r\n",
        "1.05A\f",
        "1.05A\v",
        "-1.05A",
        "1.0 5A",
        "2147483648.00A",                     // one past the largest major
        "99999999999999999999999999999.00A",  // would wrap a 32-bit major
    };
    for (const char* c : cases) {
        file(c);
        EXPECT_EQ(text(), kEinval) << '"' << c << '"';
        tavrel_version v{11, 22, 'x'};
        errno = 0;
        EXPECT_EQ(tavrel_get_version(&v), -1) << '"' << c << '"';
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(v.major, 11);
        EXPECT_EQ(v.minor, 22);
        EXPECT_EQ(v.letter, 'x');
    }
}

TEST_F(Version, text_ends_at_an_embedded_nul)
{
    file(std::string("3.14P\n\0junk", 11));
    EXPECT_EQ(text(), "3.14P");
}

TEST_F(Version, only_the_first_63_bytes_are_read)
{
    file(std::string(70, ' ') + "1.05A");
    EXPECT_EQ(text(), kEinval);
    file(std::string(58, ' ') + "1.05A");  // ends at byte 63
    EXPECT_EQ(text(), "1.05A");
    file(std::string(59, ' ') + "1.05A");
    EXPECT_EQ(text(), kEinval);
}

TEST_F(Version, buffer_must_hold_the_text_and_its_nul)
{
    file("1.05A\n");
    EXPECT_EQ(text(6), "1.05A");
    char buf[8] = "#######";
    errno = 0;
    EXPECT_EQ(tavrel_get_version_str(buf, 5), -1);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_STREQ(buf, "#######") << "the buffer is untouched";
}

TEST_F(Version, null_buffer_or_zero_size_fails_with_einval)
{
    file("1.05A");
    char buf[8];
    errno = 0;
    EXPECT_EQ(tavrel_get_version_str(nullptr, 8), -1);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(tavrel_get_version_str(buf, 0), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(Version, null_record_only_checks_the_version)
{
    file("1.05A");
    EXPECT_EQ(tavrel_get_version(nullptr), 0);
    file("1.05");
    EXPECT_EQ(tavrel_get_version(nullptr), -1);
}

TEST_F(Version, missing_file_fails_with_enoent)
{
    remove_file();
    EXPECT_EQ(text(), "errno " + std::to_string(ENOENT));
    tavrel_version v{11, 22, 'x'};
    EXPECT_EQ(tavrel_get_version(&v), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(v.major, 11);
}

TEST_F(Version, failed_read_keeps_the_read_error)
{
    file("1.05A");
    // The file opens on the lowest free descriptor; its read fails.
    int next = dup(0);
    close(next);
    io_faults::eagain_count = 1;
    io_faults::eagain_fd = next;
    EXPECT_EQ(text(), "errno " + std::to_string(EAGAIN));
    io_faults::reset();
}

TEST_F(Version, only_a_regular_file_is_read_and_nothing_blocks)
{
    // A FIFO with no writer would block a plain open for ever.
    remove_file();
    ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
    Outcome o = in_child([this] {
        alarm(10);
        printf("%s|", text().c_str());
        setenv("TAVREL_SIM_VERSION", "/dev/null", 1);
        printf("%s|", text().c_str());
        setenv("TAVREL_SIM_VERSION", "/tmp", 1);
        printf("%s", text().c_str());
    });
    EXPECT_TRUE(o.exited_with(0)) << describe(o.status);
    EXPECT_EQ(o.out, kEinval + "|" + kEinval + "|" + kEinval);
}

TEST_F(Version, file_is_opened_read_only_and_close_on_exec)
{
    file("1.05A");
    ASSERT_EQ(tavrel_get_version(nullptr), 0);
    int flags = last_open_flags("/opt/tavrel/VERSION");
    EXPECT_EQ(flags & O_ACCMODE, O_RDONLY);
    EXPECT_EQ(flags & O_CLOEXEC, O_CLOEXEC);
}

TEST_F(Version, works_whether_or_not_gpio_access_is_open)
{
    file("4.20X");
    SimBoard board;
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    EXPECT_EQ(text(), "4.20X");
    tavrel_gpio_deinit();
    EXPECT_EQ(text(), "4.20X");
}

}  // namespace
