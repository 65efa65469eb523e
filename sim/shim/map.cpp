// SPDX-License-Identifier: MIT
// The block mapped as the device maps: trapping pages, or in plain mode
// the board file's register page (on a Pi 5 board, its RP1 window).
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#else
#define VALGRIND_MAKE_MEM_DEFINED(addr, len) ((void)0)
#endif

#include "shim/shim.h"
#include "shim/tavrel_sim.h"

namespace tavrel_sim::shim {

namespace {

std::atomic<int> live_blocks{0};
constexpr int kMaxBlocks = 8;
Trapped blocks[kMaxBlocks];

void* map_block(uint32_t bytes)
{
    install_handler();
    for (Trapped& b : blocks)
        if (b.unmapped.load() && b.bytes.load() == bytes) {
            b.unmapped.store(false);
            return reinterpret_cast<void*>(b.base.load());
        }
    for (Trapped& b : blocks)
        if (!b.base.load()) {
            void* page = real_mmap()(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (page == MAP_FAILED) return page;
            // Under valgrind: the pages are the device, not a bad address;
            // every access still faults into the model.
            VALGRIND_MAKE_MEM_DEFINED(page, bytes);
            b.bytes.store(bytes);
            b.base.store(reinterpret_cast<uintptr_t>(page));
            return page;
        }
    errno = ENOMEM;
    return MAP_FAILED;
}

// Plain mode: the real mapping, remembered only to count it.
struct Plain {
    uintptr_t base;
    size_t bytes;
};
Plain plain_blocks[kMaxBlocks];

template <typename Off, typename Real>
void* map(Real real, void* addr, size_t len, int prot, int flags, int fd, Off off)
{
    if (!(flags & MAP_SHARED) || !is_board(fd)) return real(addr, len, prot, flags, fd, off);
    if (!model.is_open()) {
        errno = ENODEV;
        return MAP_FAILED;
    }
    // As the device: the GPIO block, at offset 0; the model's own pages
    // are never mapped.
    bool rp1 = is_rp1(model.soc());
    uint32_t bytes = rp1 ? kRp1WindowBytes : kPageBytes;
    if (off != 0 || len == 0 || len > bytes) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    int mode = fcntl(fd, F_GETFL);
    if ((prot & PROT_WRITE) && (mode < 0 || (mode & O_ACCMODE) == O_RDONLY)) {
        errno = EACCES;
        return MAP_FAILED;
    }
    if (model_mode()) {
        void* page = map_block(bytes);
        if (page != MAP_FAILED) ++live_blocks;
        return page;
    }
    void* mapped = real(addr, len, prot, flags, fd, rp1 ? static_cast<Off>(kWindowOffset) : off);
    if (mapped != MAP_FAILED) {
        for (Plain& b : plain_blocks)
            if (!b.base) {
                b = {reinterpret_cast<uintptr_t>(mapped), len};
                ++live_blocks;
                break;
            }
    }
    return mapped;
}

}  // namespace

Trapped* find_block(uintptr_t addr)
{
    for (Trapped& b : blocks) {
        uintptr_t base = b.base.load();
        if (base && addr - base < b.bytes.load()) return &b;
    }
    return nullptr;
}

bool in_plain_block(uintptr_t addr)
{
    for (const Plain& b : plain_blocks)
        if (b.base && addr - b.base < b.bytes) return true;
    return false;
}

}  // namespace tavrel_sim::shim

using namespace tavrel_sim;
using namespace tavrel_sim::shim;

SHIM_API void* mmap(void* addr, size_t len, int prot, int flags, int fd, off_t off)
{
    return map(real_mmap(), addr, len, prot, flags, fd, off);
}

SHIM_API void* mmap64(void* addr, size_t len, int prot, int flags, int fd, off64_t off)
{
    using Mmap64 = void* (*)(void*, size_t, int, int, int, off64_t);
    static Mmap64 real = next<Mmap64>("mmap64");
    return map(real, addr, len, prot, flags, fd, off);
}

SHIM_API int munmap(void* addr, size_t len)
{
    uintptr_t a = reinterpret_cast<uintptr_t>(addr);
    for (Plain& b : plain_blocks)
        if (b.base && b.base == a) {
            b = {};
            --live_blocks;
        }
    Trapped* block = find_block(a);
    if (!block || block->base.load() != a || len > block->bytes.load()) return real_munmap()(addr, len);
    if (!block->unmapped.exchange(true)) --live_blocks;
    return 0;
}

SHIM_API int tavrel_sim_blocks_mapped(void)
{
    return live_blocks.load();
}
