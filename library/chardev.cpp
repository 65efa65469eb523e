// SPDX-License-Identifier: MIT
// The kernel's GPIO character device of the family's chip, found by the
// label its pinctrl driver gives it, and its lines' names. The listing of
// /dev is read with getdents64 into the stack, not through opendir:
// nothing is allocated.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/gpio.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "access.h"
#include "tavrel.h"

namespace tavrel {
namespace {

// "gpiochip" and a number: the nodes of the character device.
bool is_chip_node(const char* name)
{
    if (strncmp(name, "gpiochip", 8) != 0 || !name[8]) return false;
    for (const char* p = name + 8; *p; ++p)
        if (*p < '0' || *p > '9') return false;
    return true;
}

// Opens the chip of that node when it is ours, found by the label the
// kernel's pinctrl driver gives it; -1 with errno otherwise.
int open_if_ours(const char* name, const ChipModel** model)
{
    char path[sizeof "/dev/" + sizeof(dirent64::d_name)];
    snprintf(path, sizeof path, "/dev/%s", name);
    int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) return -1;
    gpiochip_info info;
    memset(&info, 0, sizeof info);
    if (ioctl(fd, GPIO_GET_CHIPINFO_IOCTL, &info) == 0 &&
        (*model = chip_labelled(info.label, sizeof info.label)))
        return fd;
    close(fd);
    return fail(ENOENT);
}

}  // namespace

// By its label: the nodes' numbers changed between kernels.
int open_gpio_chip(const ChipModel** model)
{
    int dir = open("/dev", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return -1;
    int err = ENOENT;
    alignas(dirent64) char buf[2048];
    ssize_t n;
    while ((n = getdents64(dir, buf, sizeof buf)) > 0)
        for (ssize_t off = 0; off < n;) {
            const auto* d = reinterpret_cast<const dirent64*>(buf + off);
            off += d->d_reclen;
            if (!is_chip_node(d->d_name)) continue;
            int fd = open_if_ours(d->d_name, model);
            if (fd >= 0) {
                close(dir);
                return fd;
            }
            if (errno != ENOENT && err == ENOENT) err = errno;
        }
    close(dir);
    return fail(err);
}

}  // namespace tavrel

using namespace tavrel;

extern "C" int32_t tavrel_gpio_pin_by_name(const char* name)
{
    if (!name || !*name) return fail(EINVAL);
    // A line's name fits in 31 bytes; a longer one names no line.
    if (strnlen(name, GPIO_MAX_NAME_SIZE) == GPIO_MAX_NAME_SIZE) return fail(ENOENT);
    const ChipModel* model = nullptr;
    int chip_fd = open_gpio_chip(&model);
    if (chip_fd < 0) return -1;
    int32_t found = -1;
    for (uint32_t offset = 0; offset < model->pins && found < 0; ++offset) {
        gpio_v2_line_info info;
        memset(&info, 0, sizeof info);
        info.offset = offset;
        if (ioctl(chip_fd, GPIO_V2_GET_LINEINFO_IOCTL, &info) == 0 &&
            strncmp(info.name, name, sizeof info.name) == 0)
            found = static_cast<int32_t>(offset);
    }
    close(chip_fd);
    return found >= 0 ? found : fail(ENOENT);
}
