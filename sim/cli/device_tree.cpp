// SPDX-License-Identifier: MIT
// The device tree a command under tavrel-sim finds at /proc/device-tree:
// the nodes GPIO libraries read to tell the board and its chip apart, with
// the values the Raspberry Pi's own trees give them. A scratch directory,
// made for the board's chip and removed after the run.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli/cli.h"

namespace tavrel_sim::cli {

namespace {

// A property file; its value is a list of NUL-ended strings, as the
// kernel shows them.
struct Property {
    const char* path;
    std::string bcm2835, bcm2711;
};

const std::vector<Property>& properties()
{
    using namespace std::string_literals;
    static const std::vector<Property> list = {
        {"compatible", "raspberrypi,model-zero\0brcm,bcm2835\0"s, "raspberrypi,4-model-b\0brcm,bcm2711\0"s},
        {"model", "Raspberry Pi Zero\0"s, "Raspberry Pi 4 Model B\0"s},
        {"__symbols__/gpio", "/soc/gpio@7e200000\0"s, "/soc/gpio@7e200000\0"s},
        {"soc/name", "soc\0"s, "soc\0"s},
        {"soc/gpio@7e200000/name", "gpio\0"s, "gpio\0"s},
        {"soc/gpio@7e200000/compatible", soc_model(Soc::kBcm2835).gpio_compatible + "\0"s,
         soc_model(Soc::kBcm2711).gpio_compatible + "\0"s},
        // The board's revision code, big-endian, as the firmware sets it:
        // a Pi Zero 1.3 (900093), a Pi 4 B 4 GB 1.1 (c03111).
        {"system/linux,revision", "\x00\x90\x00\x93"s, "\x00\xc0\x31\x11"s},
    };
    return list;
}

const char* const kNodes[] = {"__symbols__", "soc", "soc/gpio@7e200000", "system"};

}  // namespace

bool DeviceTree::make(Soc soc)
{
    std::vector<char> buf = scratch_template("device-tree");
    if (!mkdtemp(buf.data())) {
        fprintf(stderr, "tavrel-sim: cannot create the device tree: %s\n", strerror(errno));
        return false;
    }
    dir = buf.data();
    for (const char* node : kNodes)
        if (mkdir((dir + "/" + node).c_str(), 0755) != 0) return failed();
    for (const Property& p : properties()) {
        const std::string& value = soc == Soc::kBcm2711 ? p.bcm2711 : p.bcm2835;
        FILE* f = fopen((dir + "/" + p.path).c_str(), "wbx");
        if (!f) return failed();
        bool ok = fwrite(value.data(), 1, value.size(), f) == value.size();
        if (fclose(f) != 0 || !ok) return failed();
    }
    return true;
}

bool DeviceTree::failed()
{
    fprintf(stderr, "tavrel-sim: cannot write the device tree in %s: %s\n", dir.c_str(), strerror(errno));
    remove();
    return false;
}

void DeviceTree::remove()
{
    if (dir.empty()) return;
    for (const Property& p : properties()) unlink((dir + "/" + p.path).c_str());
    for (size_t i = sizeof kNodes / sizeof *kNodes; i-- > 0;) rmdir((dir + "/" + kNodes[i]).c_str());
    rmdir(dir.c_str());
    dir.clear();
}

}  // namespace tavrel_sim::cli
