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

// The chips a node or property is on: a bit per Soc.
constexpr unsigned kBcm2835 = 1, kBcm2711 = 2, kBcm2712 = 4, kBroadcomGpio = kBcm2835 | kBcm2711;

bool on(unsigned socs, Soc soc)
{
    return socs >> static_cast<unsigned>(soc) & 1;
}

// A property file; its value is a list of NUL-ended strings, as the
// kernel shows them.
struct Property {
    unsigned socs;
    const char* path;
    std::string value;
};

const std::vector<Property>& properties()
{
    using namespace std::string_literals;
    static const std::vector<Property> list = {
        {kBcm2835, "compatible", "raspberrypi,model-zero\0brcm,bcm2835\0"s},
        {kBcm2711, "compatible", "raspberrypi,4-model-b\0brcm,bcm2711\0"s},
        {kBcm2712, "compatible", "raspberrypi,5-model-b\0brcm,bcm2712\0"s},
        {kBcm2835, "model", "Raspberry Pi Zero\0"s},
        {kBcm2711, "model", "Raspberry Pi 4 Model B\0"s},
        {kBcm2712, "model", "Raspberry Pi 5 Model B Rev 1.0\0"s},
        {kBroadcomGpio, "__symbols__/gpio", "/soc/gpio@7e200000\0"s},
        {kBroadcomGpio, "soc/name", "soc\0"s},
        {kBroadcomGpio, "soc/gpio@7e200000/name", "gpio\0"s},
        {kBcm2835, "soc/gpio@7e200000/compatible", soc_model(Soc::kBcm2835).gpio_compatible + "\0"s},
        {kBcm2711, "soc/gpio@7e200000/compatible", soc_model(Soc::kBcm2711).gpio_compatible + "\0"s},
        // The Pi 5's GPIO is the RP1's, behind the second PCIe controller.
        {kBcm2712, "__symbols__/gpio", "/axi/pcie@120000/rp1/gpio@d0000\0"s},
        {kBcm2712, "axi/name", "axi\0"s},
        {kBcm2712, "axi/pcie@120000/rp1/gpio@d0000/name", "gpio\0"s},
        {kBcm2712, "axi/pcie@120000/rp1/gpio@d0000/compatible",
         soc_model(Soc::kBcm2712).gpio_compatible + "\0"s},
        // The board's revision code, big-endian, as the firmware sets it:
        // a Pi Zero 1.3 (900093), a Pi 4 B 4 GB 1.1 (c03111), a Pi 5 4 GB
        // 1.0 (c04170).
        {kBcm2835, "system/linux,revision", "\x00\x90\x00\x93"s},
        {kBcm2711, "system/linux,revision", "\x00\xc0\x31\x11"s},
        {kBcm2712, "system/linux,revision", "\x00\xc0\x41\x70"s},
    };
    return list;
}

struct Node {
    unsigned socs;
    const char* path;
};
// Parents first.
const Node kNodes[] = {
    {kBcm2835 | kBcm2711 | kBcm2712, "__symbols__"},
    {kBroadcomGpio, "soc"},
    {kBroadcomGpio, "soc/gpio@7e200000"},
    {kBcm2712, "axi"},
    {kBcm2712, "axi/pcie@120000"},
    {kBcm2712, "axi/pcie@120000/rp1"},
    {kBcm2712, "axi/pcie@120000/rp1/gpio@d0000"},
    {kBcm2835 | kBcm2711 | kBcm2712, "system"},
};

}  // namespace

bool DeviceTree::make(Soc soc)
{
    std::vector<char> buf = scratch_template("device-tree");
    if (!mkdtemp(buf.data())) {
        fprintf(stderr, "tavrel-sim: cannot create the device tree: %s\n", strerror(errno));
        return false;
    }
    dir = buf.data();
    for (const Node& node : kNodes)
        if (on(node.socs, soc) && mkdir((dir + "/" + node.path).c_str(), 0755) != 0) return failed();
    for (const Property& p : properties()) {
        if (!on(p.socs, soc)) continue;
        FILE* f = fopen((dir + "/" + p.path).c_str(), "wbx");
        if (!f) return failed();
        bool ok = fwrite(p.value.data(), 1, p.value.size(), f) == p.value.size();
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
    for (size_t i = sizeof kNodes / sizeof *kNodes; i-- > 0;) rmdir((dir + "/" + kNodes[i].path).c_str());
    rmdir(dir.c_str());
    dir.clear();
}

}  // namespace tavrel_sim::cli
