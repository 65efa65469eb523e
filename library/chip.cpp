// SPDX-License-Identifier: MIT
// Which chip the GPIO block belongs to. In the BCM2835 family, pulls and
// the pin count are what differ: the Pi 4's BCM2711 has its own pull
// controls, leaves the BCM2835's unconnected, and bonds out four more pins.
// The Pi 5's GPIO is the RP1's, a block of another design (rp1.h).
//
// The device tree is trusted first. It is the kernel's own description of
// the hardware, readable without root and without touching the block, and
// it is the one way to tell the RP1, or a block of a design we do not
// know, from ours before driving it. The block's word 60, which reads "gpio" on
// the BCM2835 and holds pull bits on the BCM2711, decides only where no
// tree names the GPIO node: the tag is no documented promise, and QEMU's
// model of the block, for one, reads it as 0.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "access.h"
#include "tavrel.h"

namespace tavrel {

std::atomic<Chip> chip{Chip::kUnknown};

namespace {

constexpr ChipModel kChips[] = {
    {Chip::kBcm2711, "brcm,bcm2711-gpio", "pinctrl-bcm2711", 58, Pulls::kControlWords},
    {Chip::kBcm2835, "brcm,bcm2835-gpio", "pinctrl-bcm2835", 54, Pulls::kClocked},
    {Chip::kRp1, "raspberrypi,rp1-gpio", "pinctrl-rp1", 54, Pulls::kPads},
};
static_assert(kChips[0].pins == kMostPins && kChips[1].pins < kMostPins, "kMostPins is the largest count");

constexpr const char kTree[] = "/proc/device-tree";
// Where the Raspberry Pi's trees, and Debian's, have the GPIO node when no
// symbol names it.
constexpr const char kGpioNode[] = "/soc/gpio@7e200000";

// Reads up to size - 1 bytes of a small file, NUL-terminated; its length,
// or -1.
ssize_t read_small(const char* path, char* buf, size_t size)
{
    int fd;
    while ((fd = open(path, O_RDONLY | O_CLOEXEC)) < 0 && errno == EINTR) {
    }
    if (fd < 0) return -1;
    ssize_t n;
    while ((n = read(fd, buf, size - 1)) < 0 && errno == EINTR) {
    }
    close(fd);
    if (n < 0) return -1;
    buf[n] = '\0';
    return n;
}

// The GPIO node's path in the tree, from its symbol (kept for overlays in
// the Raspberry Pi's trees and Debian's), else the usual one.
void gpio_node(char* node, size_t size)
{
    char path[64];
    strcpy(path, kTree);
    strcat(path, "/__symbols__/gpio");
    ssize_t n = read_small(path, node, size);
    // A node path is absolute and climbs nowhere; anything else is ignored.
    if (n <= 1 || node[0] != '/' || strstr(node, "..") || strlen(node) + 1 < static_cast<size_t>(n))
        strcpy(node, kGpioNode);
}

// `list` (n bytes of NUL-separated strings) holds `name`.
bool lists(const char* list, size_t n, const char* name)
{
    for (size_t at = 0; at < n; at += strlen(list + at) + 1)
        if (strcmp(list + at, name) == 0) return true;
    return false;
}

}  // namespace

Chip chip_from_device_tree()
{
    char node[128], path[256], compatible[256];
    int saved = errno;  // a machine without a tree is no error of the open
    gpio_node(node, sizeof node);
    strcpy(path, kTree);
    strcat(path, node);
    strcat(path, "/compatible");
    ssize_t n = read_small(path, compatible, sizeof compatible);
    errno = saved;
    if (n <= 0) return Chip::kUnknown;
    // The BCM2711 first, should a node also list the BCM2835 it extends.
    for (const ChipModel& model : kChips)
        if (lists(compatible, static_cast<size_t>(n), model.compatible)) return model.chip;
    return Chip::kForeign;
}

const ChipModel* chip_model(Chip which)
{
    for (const ChipModel& model : kChips)
        if (model.chip == which) return &model;
    return nullptr;
}

const ChipModel* chip_labelled(const char* label, size_t n)
{
    for (const ChipModel& model : kChips)
        if (strncmp(label, model.label, n) == 0) return &model;
    return nullptr;
}

namespace {

// Word 60 reads "gpio" on the BCM2835; the BCM2711 has pull controls there.
Chip chip_of_tag(uint32_t tag)
{
    return tag == kGpioTag ? Chip::kBcm2835 : Chip::kBcm2711;
}

}  // namespace

Chip probe_chip(Block block)
{
    Chip found = chip_of_tag(reg_read(block, kTagWord));
    chip.store(found, std::memory_order_relaxed);
    return found;
}

namespace {

// The chip, while access is closed and no tree tells: the block mapped for
// the one read that tells, and not remembered, as an open would be asked
// anew. Unknown, with errno, when it cannot be mapped.
Chip probe_device()
{
    int fd = open("/dev/gpiomem", O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0) return Chip::kUnknown;
    void* map = mmap(nullptr, kBlockBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    int err = errno;
    close(fd);
    if (map == MAP_FAILED) {
        errno = err;
        return Chip::kUnknown;
    }
    barrier();
    uint32_t tag = reg_read(static_cast<Block>(map), kTagWord);
    munmap(map, kBlockBytes);
    return chip_of_tag(tag);
}

}  // namespace
}  // namespace tavrel

using namespace tavrel;

extern "C" int32_t tavrel_gpio_pin_count(void)
{
    Chip known;
    if (Block block = open_block()) {
        if (is_rp1(block)) return static_cast<int32_t>(chip_model(Chip::kRp1)->pins);
        barrier();
        known = pull_chip(block);  // the tree's answer at open, else the block's
    } else {
        known = chip_from_device_tree();
        if (known == Chip::kUnknown) known = probe_device();
        if (known == Chip::kUnknown) return -1;
    }
    const ChipModel* model = chip_model(known);
    if (!model) return fail(ENODEV);
    return static_cast<int32_t>(model->pins);
}

extern "C" int32_t tavrel_gpio_chip(void)
{
    Chip known;
    if (Block block = open_block()) {
        if (is_rp1(block)) return TAVREL_CHIP_BCM2712;
        barrier();
        known = pull_chip(block);
    } else {
        known = chip_from_device_tree();
        if (known == Chip::kUnknown) known = probe_device();
        if (known == Chip::kUnknown) return -1;
    }
    switch (known) {
    case Chip::kBcm2835: return TAVREL_CHIP_BCM2835;
    case Chip::kBcm2711: return TAVREL_CHIP_BCM2711;
    case Chip::kRp1: return TAVREL_CHIP_BCM2712;
    default: return fail(ENODEV);
    }
}
