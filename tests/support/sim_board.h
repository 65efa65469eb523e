// SPDX-License-Identifier: MIT
// A fresh simulated board per test: its registers as the device model has
// them, the levels driven onto its inputs, and the trace of accesses.
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/board.h"
#include "report/trace_text.h"

namespace tavrel_test {

// Registers, by word index.
enum : unsigned {
    GPFSEL0 = 0,
    GPSET0 = 7,
    GPSET1 = 8,
    GPCLR0 = 10,
    GPCLR1 = 11,
    GPLEV0 = 13,
    GPLEV1 = 14,
    GPPUD = 37,
    GPPUDCLK0 = 38,
    GPPUDCLK1 = 39,
};

using Registers = std::array<uint32_t, 1024>;

// One access as tests compare it: read or write, word, value.
struct Access {
    char kind;  // 'R' or 'W'
    unsigned word;
    uint32_t value;
    bool operator==(const Access& o) const { return kind == o.kind && word == o.word && value == o.value; }
};
inline Access R(unsigned word, uint32_t value)
{
    return {'R', word, value};
}
inline Access W(unsigned word, uint32_t value)
{
    return {'W', word, value};
}
inline std::ostream& operator<<(std::ostream& os, const Access& a)
{
    const char* name = tavrel_sim::register_name(a.word);
    os << a.kind << ' ';
    if (name)
        os << name;
    else
        os << "word " << a.word;
    char buf[16];
    snprintf(buf, sizeof buf, " 0x%08x", a.value);
    return os << buf;
}
using Accesses = std::vector<Access>;

template <typename Fn>
Fn shim_function(const char* name)
{
    auto fn = reinterpret_cast<Fn>(dlsym(RTLD_DEFAULT, name));
    if (!fn) ADD_FAILURE() << "the simulated board shim is not loaded";
    return fn;
}

// Flags of the last redirected open of path, from the shim.
inline int last_open_flags(const char* path)
{
    auto fn = shim_function<int (*)(const char*)>("tavrel_sim_last_open_flags");
    return fn ? fn(path) : -1;
}

// Mappings of the GPIO block this process holds.
inline int blocks_mapped()
{
    auto fn = shim_function<int (*)()>("tavrel_sim_blocks_mapped");
    return fn ? fn() : -1;
}

// True when accesses run against the device model and are traced.
inline bool trapping()
{
    auto fn = shim_function<int (*)()>("tavrel_sim_trapping");
    return fn && fn();
}

class SimBoard {
public:
    SimBoard()
    {
        char tmpl[] = "/tmp/tavrel-test-XXXXXX";
        dir_ = mkdtemp(tmpl);
        path_ = dir_ + "/board";
        trace_ = dir_ + "/trace";
        if (!board_.open(path_.c_str())) abort();
        use();
        setenv(tavrel_sim::kTraceEnv, trace_.c_str(), 1);
        device_tree("brcm,bcm2835-gpio");
    }
    ~SimBoard()
    {
        if (!errors_allowed_) {
            EXPECT_EQ(board_.errors(), 0u) << "malformed accesses to the block; the trace:\n" << dump();
        }
        board_.close();
        for (const char* f : {"/board", "/trace", "/fifo"}) unlink((dir_ + f).c_str());
        remove_tree();
        rmdir(dir_.c_str());
    }
    SimBoard(const SimBoard&) = delete;
    SimBoard& operator=(const SimBoard&) = delete;

    // Makes /dev/gpiomem open this board, in this process and its children.
    void use() const { setenv(tavrel_sim::kBoardEnv, path_.c_str(), 1); }
    // Makes /dev/gpiomem fail to open.
    void unplug() const { setenv(tavrel_sim::kBoardEnv, (dir_ + "/missing/board").c_str(), 1); }
    // Makes /dev/gpiomem open but fail to map: a FIFO cannot be mapped.
    void unmappable() const
    {
        std::string fifo = dir_ + "/fifo";
        mkfifo(fifo.c_str(), 0600);
        setenv(tavrel_sim::kBoardEnv, fifo.c_str(), 1);
    }

    const std::string& path() const { return path_; }
    const std::string& trace_path() const { return trace_; }

    // Every register, latch, drive and pull back to 0.
    void reset() { board_.clear(); }
    // The board's chip; a change resets the board.
    void set_soc(tavrel_sim::Soc soc) { board_.set_soc(soc); }
    // What /proc/device-tree shows this process and its children: a tree
    // whose GPIO node (named by its symbol, at `node`) has this compatible
    // list, NULs written as '|'; or no tree at all. Written here, not by
    // tavrel-sim, to test both against the kernel's layout as it is.
    void device_tree(const std::string& compatible, const std::string& node = "/soc/gpio@7e200000")
    {
        remove_tree();
        std::string tree = dir_ + "/tree", value = compatible + '|';
        for (char& c : value)
            if (c == '|') c = '\0';
        mkdir(tree.c_str(), 0700);
        mkdir((tree + "/__symbols__").c_str(), 0700);
        for (size_t at = node.find('/', 1);; at = node.find('/', at + 1)) {
            mkdir((tree + node.substr(0, at)).c_str(), 0700);
            if (at == std::string::npos) break;
        }
        write_file(tree + "/__symbols__/gpio", node + '\0');
        write_file(tree + node + "/compatible", value);
        tree_node_ = node;
        setenv(tavrel_sim::kDeviceTreeEnv, tree.c_str(), 1);
    }
    void no_device_tree()
    {
        remove_tree();
        unsetenv(tavrel_sim::kDeviceTreeEnv);
    }

    // A register as the library reads it, and a write as it makes one.
    uint32_t word(unsigned w) { return board_.read(w); }
    void write(unsigned w, uint32_t v) { board_.write(w, v); }
    // Sets a register's stored contents, as another process might.
    void set_word(unsigned w, uint32_t v) { board_.poke(w, v); }
    unsigned fsel(unsigned pin) { return board_.fsel(pin); }
    void set_fsel(unsigned pin, unsigned code)
    {
        unsigned shift = 3 * (pin % 10);
        set_word(pin / 10, (board_.peek(pin / 10) & ~(7u << shift)) | (code << shift));
    }
    // Levels a device drives onto the pins of a bank that are inputs. Also
    // stored in the level word, which is what a plain block reads back.
    void drive_bank(unsigned bank, uint32_t levels)
    {
        for (unsigned bit = 0; bit < 32; ++bit) board_.drive(32 * bank + bit, (levels >> bit) & 1);
        board_.poke(GPLEV0 + bank, levels);
    }
    void drive(unsigned pin, bool high)
    {
        board_.drive(pin, high);
        uint32_t bit = 1u << (pin % 32), lev = board_.peek(GPLEV0 + pin / 32);
        board_.poke(GPLEV0 + pin / 32, high ? lev | bit : lev & ~bit);
    }
    // Lets go of the pin: an input then reads its pull.
    void release(unsigned pin) { board_.release(pin); }
    unsigned pull(unsigned pin) { return board_.pull(pin); }
    bool level(unsigned pin) { return board_.level(pin); }
    uint32_t latch(unsigned bank) { return board_.latch(bank); }

    Registers all()
    {
        Registers r;
        for (unsigned w = 0; w < r.size(); ++w) r[w] = board_.peek(w);
        return r;
    }
    // Fills every register with a distinct value, so stray writes show.
    void fill()
    {
        for (unsigned w = 0; w < 1024; ++w) board_.poke(w, 0x9E3779B9u * (w + 1));
    }

    // The accesses made since the last clear_trace, in order.
    Accesses trace() const
    {
        Accesses a;
        for (const auto& r : tavrel_sim::read_trace(trace_))
            a.push_back({r.kind == tavrel_sim::TraceRecord::kRead ? 'R' : 'W', r.word, r.value});
        return a;
    }
    std::vector<tavrel_sim::TraceRecord> records() const { return tavrel_sim::read_trace(trace_); }
    void clear_trace() const { (void)!truncate(trace_.c_str(), 0); }
    std::string dump() const
    {
        std::string s;
        for (const auto& r : records()) s += tavrel_sim::describe(r) + "\n";
        return s;
    }
    uint32_t errors() { return board_.errors(); }
    // For tests that provoke malformed accesses on purpose.
    void allow_errors() { errors_allowed_ = true; }

private:
    static void write_file(const std::string& path, const std::string& text)
    {
        FILE* f = fopen(path.c_str(), "wb");
        ASSERT_TRUE(f) << path;
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }
    void remove_tree()
    {
        if (tree_node_.empty()) return;
        std::string tree = dir_ + "/tree";
        unlink((tree + tree_node_ + "/compatible").c_str());
        unlink((tree + "/__symbols__/gpio").c_str());
        for (std::string node = tree_node_; !node.empty(); node.erase(node.rfind('/')))
            rmdir((tree + node).c_str());
        rmdir((tree + "/__symbols__").c_str());
        rmdir(tree.c_str());
        tree_node_.clear();
    }

    std::string dir_, path_, trace_, tree_node_;
    tavrel_sim::Board board_;
    bool errors_allowed_ = false;
};

// The block as a program maps it, through /dev/gpiomem; null (with a
// failure) when it cannot be.
inline uint32_t* map_gpiomem()
{
    int fd = open("/dev/gpiomem", O_RDWR | O_SYNC | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    if (fd < 0) return nullptr;
    void* map = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    EXPECT_NE(map, MAP_FAILED);
    return map == MAP_FAILED ? nullptr : static_cast<uint32_t*>(map);
}

// For a child whose exit ends threads that may be in the middle of an
// access: qemu-user has no robust futexes, so a thread ended inside a
// trapped access would leave the board's lock held for good. Natively the
// next user of the board recovers it. Undone by plain_board_end().
inline void plain_board_for_exits_under_threads()
{
#ifdef TAVREL_TEST_EMULATOR
    setenv(tavrel_sim::kModeEnv, "plain", 1);
#endif
}
inline void plain_board_end()
{
    unsetenv(tavrel_sim::kModeEnv);
}

// Skips a test that needs the device model's trace.
#define REQUIRE_TRAPPING() \
    if (!trapping()) GTEST_SKIP() << "the block is plain shared memory here"

}  // namespace tavrel_test
