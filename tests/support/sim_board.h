// A fresh simulated board per test, and direct access to its registers.
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

namespace tavrel_test {

// Registers, by word index.
enum : unsigned { GPFSEL0 = 0, GPSET0 = 7, GPSET1 = 8, GPCLR0 = 10, GPCLR1 = 11, GPLEV0 = 13, GPLEV1 = 14 };

using Registers = std::array<uint32_t, 1024>;

class SimBoard {
public:
    SimBoard()
    {
        char tmpl[] = "/tmp/tavrel-test-XXXXXX";
        dir_ = mkdtemp(tmpl);
        path_ = dir_ + "/board";
        int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0 || ftruncate(fd, 2 * 4096) != 0) abort();
        void* map = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        if (map == MAP_FAILED) abort();
        regs_ = static_cast<volatile uint32_t*>(map);
        use();
    }
    ~SimBoard()
    {
        munmap(const_cast<uint32_t*>(regs_), 4096);
        unlink(path_.c_str());
        unlink((dir_ + "/fifo").c_str());
        rmdir(dir_.c_str());
    }
    SimBoard(const SimBoard&) = delete;
    SimBoard& operator=(const SimBoard&) = delete;

    // Makes /dev/gpiomem open this board, in this process and its children.
    void use() const { setenv("TAVREL_SIM_BOARD", path_.c_str(), 1); }
    // Makes /dev/gpiomem fail to open.
    void unplug() const { setenv("TAVREL_SIM_BOARD", (dir_ + "/missing/board").c_str(), 1); }
    // Makes /dev/gpiomem open but fail to map: a FIFO cannot be mapped.
    void unmappable() const
    {
        std::string fifo = dir_ + "/fifo";
        mkfifo(fifo.c_str(), 0600);
        setenv("TAVREL_SIM_BOARD", fifo.c_str(), 1);
    }

    const std::string& path() const { return path_; }
    uint32_t word(unsigned w) const { return regs_[w]; }
    void set_word(unsigned w, uint32_t v) { regs_[w] = v; }
    unsigned fsel(unsigned pin) const { return (word(pin / 10) >> (3 * (pin % 10))) & 7; }
    void set_fsel(unsigned pin, unsigned code)
    {
        unsigned shift = 3 * (pin % 10);
        set_word(pin / 10, (word(pin / 10) & ~(7u << shift)) | (code << shift));
    }
    Registers all() const
    {
        Registers r;
        for (unsigned w = 0; w < r.size(); ++w) r[w] = regs_[w];
        return r;
    }
    // Fills every register with a distinct value, so stray writes show.
    void fill()
    {
        for (unsigned w = 0; w < 1024; ++w) regs_[w] = 0x9E3779B9u * (w + 1);
    }

private:
    std::string dir_, path_;
    volatile uint32_t* regs_ = nullptr;
};

// Flags of the last redirected open of path, from the shim.
inline int last_open_flags(const char* path)
{
    using Fn = int (*)(const char*);
    auto fn = reinterpret_cast<Fn>(dlsym(RTLD_DEFAULT, "tavrel_sim_last_open_flags"));
    if (!fn) {
        ADD_FAILURE() << "the simulated board shim is not loaded";
        return -1;
    }
    return fn(path);
}

// Number of mappings of `path` in this process.
inline int mappings_of(const std::string& path)
{
    FILE* f = fopen("/proc/self/maps", "re");
    int n = 0;
    char line[1024];
    while (f && fgets(line, sizeof line, f))
        if (std::string(line).find(path) != std::string::npos) ++n;
    if (f) fclose(f);
    return n;
}

}  // namespace tavrel_test
