// SPDX-License-Identifier: MIT
// Watching line information on the chip's descriptor: the lines a
// descriptor watches, and the changes it has yet to read, from the
// journal's kLine entries, which any process on the board makes.
#include <errno.h>
#include <linux/gpio.h>
#include <pthread.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>

#include "chardev/cdev.h"
#include "chardev/events.h"
#include "chardev/files.h"

namespace tavrel_sim::cdev {

namespace {

constexpr unsigned kWatches = 16;  // as the chip table
constexpr unsigned kChanges = 32;  // the kernel's buffer of line information changes

struct Watch {
    pthread_mutex_t lock;
    int fd;  // -1: free
    uint64_t lines;
    unsigned abi;  // 0 until the first watch, then 1 or 2 for good
    unsigned head, count;
    gpio_v2_line_info_changed ring[kChanges];
};

std::atomic<Watch*> pool[kWatches];
pthread_mutex_t pool_lock = PTHREAD_MUTEX_INITIALIZER;

Watch* find(int fd)
{
    for (auto& slot : pool) {
        Watch* w = slot.load();
        if (w && fd >= 0 && w->fd == fd) return w;
    }
    return nullptr;
}

Watch* find_or_make(int fd)
{
    Held held(&pool_lock);
    if (Watch* w = find(fd)) return w;
    for (auto& slot : pool) {
        Watch* w = slot.load();
        if (!w) {
            void* map =
                mmap(nullptr, sizeof(Watch), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (map == MAP_FAILED) return nullptr;
            w = static_cast<Watch*>(map);
            pthread_mutex_init(&w->lock, nullptr);
            w->fd = -1;
            slot.store(w);
        }
        if (w->fd < 0) {
            Held mine(&w->lock);
            w->fd = fd;
            w->lines = 0;
            w->abi = 0;
            w->head = w->count = 0;
            return w;
        }
    }
    return nullptr;
}

gpioline_info_changed to_v1(const gpio_v2_line_info_changed& c)
{
    gpioline_info_changed v1;
    memset(&v1, 0, sizeof v1);
    line_info_to_v1(c.info, &v1.info);
    v1.timestamp = c.timestamp_ns;
    v1.event_type = c.event_type;
    return v1;
}

}  // namespace

long watch_ioctl(Board& board, int fd, unsigned long cmd, void* arg)
{
    bool v2 = cmd == GPIO_V2_GET_LINEINFO_WATCH_IOCTL;
    uint32_t offset = v2                                     ? static_cast<gpio_v2_line_info*>(arg)->offset
                      : cmd == GPIO_GET_LINEINFO_WATCH_IOCTL ? static_cast<gpioline_info*>(arg)->line_offset
                                                             : *static_cast<uint32_t*>(arg);
    if (v2) {
        for (uint32_t word : static_cast<gpio_v2_line_info*>(arg)->padding)
            if (word) return -EINVAL;
    }
    if (offset >= pin_count(board.soc())) return -EINVAL;
    Watch* w = cmd == GPIO_GET_LINEINFO_UNWATCH_IOCTL ? find(fd) : find_or_make(fd);
    if (!w) return cmd == GPIO_GET_LINEINFO_UNWATCH_IOCTL ? -EBUSY : -ENOMEM;
    {
        Held held(&w->lock);
        if (cmd == GPIO_GET_LINEINFO_UNWATCH_IOCTL) {
            if (!(w->lines >> offset & 1)) return -EBUSY;
            w->lines &= ~(1ull << offset);
            return 0;
        }
        unsigned abi = v2 ? 2 : 1;
        if (w->abi && w->abi != abi) return -EPERM;
        w->abi = abi;
        if (w->lines >> offset & 1) return -EBUSY;
        w->lines |= 1ull << offset;
    }
    watcher_start(board);
    if (v2) {
        line_info(board, offset, static_cast<gpio_v2_line_info*>(arg));
    } else {
        gpio_v2_line_info info;
        line_info(board, offset, &info);
        line_info_to_v1(info, static_cast<gpioline_info*>(arg));
    }
    return 0;
}

void watch_note(Board& board, const JournalEntry& entry)
{
    for (auto& slot : pool) {
        Watch* w = slot.load();
        if (!w) continue;
        Held held(&w->lock);
        if (w->fd < 0 || entry.word >= 64 || !(w->lines >> entry.word & 1)) continue;
        // Full, the kernel's buffer drops the new change.
        if (w->count == kChanges) continue;
        gpio_v2_line_info_changed& c = w->ring[(w->head + w->count) % kChanges];
        memset(&c, 0, sizeof c);
        // The information as it was when the change was journaled, its
        // consumer with it.
        char label[kLabelBytes];
        if (!board.line_label(entry.seq, label)) memcpy(label, board.line(entry.word).label, sizeof label);
        compose_info(board.soc(), entry.word, entry.b, label, entry.c, &c.info);
        c.timestamp_ns = entry.ns;
        c.event_type = entry.a;
        if (w->count++ == 0) signal_waiting(w->fd);
    }
}

ssize_t watch_read(int fd, void* buf, size_t count, bool* handled)
{
    *handled = is_chip(fd);
    if (!*handled) return 0;
    Watch* w = find(fd);
    if (!w) {
        // Nothing watched, nothing ever to read: the read waits.
        long err = wait_signalled(fd);
        return err ? err : -EIO;
    }
    for (;;) {
        {
            Held held(&w->lock);
            if (w->count) {
                size_t size = w->abi == 2 ? sizeof(gpio_v2_line_info_changed) : sizeof(gpioline_info_changed);
                if (count < size) return -EINVAL;
                size_t bytes = 0;
                while (w->count && count - bytes >= size) {
                    const gpio_v2_line_info_changed& c = w->ring[w->head];
                    if (w->abi == 2) {
                        memcpy(static_cast<char*>(buf) + bytes, &c, size);
                    } else {
                        gpioline_info_changed v1 = to_v1(c);
                        memcpy(static_cast<char*>(buf) + bytes, &v1, size);
                    }
                    w->head = (w->head + 1) % kChanges;
                    --w->count;
                    bytes += size;
                }
                if (!w->count) clear_waiting(fd);
                return static_cast<ssize_t>(bytes);
            }
        }
        if (long err = wait_signalled(fd)) return err;
        Held held(&w->lock);
        if (w->count) signal_waiting(fd);
    }
}

bool watching()
{
    for (auto& slot : pool) {
        Watch* w = slot.load();
        if (w && w->fd >= 0 && w->lines) return true;
    }
    return false;
}

void watch_close(int fd)
{
    Held held(&pool_lock);
    if (Watch* w = find(fd)) {
        Held mine(&w->lock);
        w->fd = -1;
        w->lines = 0;
    }
}

}  // namespace tavrel_sim::cdev
