// SPDX-License-Identifier: MIT
// tavrel-gpio_state: lists pins' functions, levels and pulls, or draws the
// 40-pin header with functions and levels. Reads only: it writes no
// register.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "cli.h"
#include "tavrel.h"

namespace {

constexpr const char kUsage[] =
    "Usage:\n\ttavrel-gpio_state [-p PIN | -p FIRST-LAST]...\nor\n\ttavrel-gpio_state -H\n";

constexpr const char kTool[] = "tavrel-gpio_state";
constexpr int kPinSlots = 64;  // more than any chip of the family has

// Function-select codes, and past them the Pi 5's RP1's functions that the
// BCM2835 lacks.
const char* function_name(int32_t code)
{
    static const char* const names[] = {"input", "output", "alt5", "alt4", "alt0", "alt1",
                                        "alt2",  "alt3",   "alt6", "alt7", "alt8", "none"};
    static_assert(sizeof names / sizeof *names == TAVREL_MODE_NONE + 1, "a name for every code");
    return code < 0 || code > TAVREL_MODE_NONE ? "?" : names[code];
}

// The pull as the block holds it; "unknown" where the chip cannot read a
// pull back (the BCM2835).
const char* pull_name(int pin)
{
    static const char* const names[] = {"off", "down", "up", "keep"};
    static_assert(sizeof names / sizeof *names == TAVREL_PULL_KEEP + 1, "a name for every code");
    int32_t pull = tavrel_gpio_get_pull(pin);
    return pull >= 0 && pull <= TAVREL_PULL_KEEP ? names[pull] : "unknown";
}

// Pins 0 to 53 from the one read of both banks; the BCM2711's pins 54 to
// 57 (bits 22 to 25 of its second bank) from their own.
const char* level_name(uint64_t levels, int pin)
{
    bool high = pin < 54 ? (levels >> pin) & 1 : tavrel_gpio_get_val(pin) != 0;
    return high ? "hi" : "lo";
}

// PIN or FIRST-LAST, within the chip's pins; marks them in `wanted`.
bool parse_pins(const char* text, int count, bool* wanted)
{
    const char* end;
    long long first, last;
    bool named;
    // A name stands for one pin, no range.
    if (tavrel_cli::pin_argument(text, count - 1, &first, &named)) {
        wanted[first] = true;
        return true;
    }
    if (named || !tavrel_cli::leading_number(text, 0, count - 1, &first, &end)) return false;
    last = first;
    if (*end == '-' && !tavrel_cli::leading_number(end + 1, 0, count - 1, &last, &end)) return false;
    if (*end != '\0' || first > last) return false;
    for (long long pin = first; pin <= last; ++pin) wanted[pin] = true;
    return true;
}

// The 40-pin header of the Pi Zero, Pi 1 A+/B+ and later boards: the GPIO
// at each physical pin, or -1 and what the pin carries instead.
struct HeaderPin {
    int gpio;
    const char* power;
};
constexpr HeaderPin kHeader[40] = {
    {-1, "3.3V"},  {-1, "5V"},    {2, nullptr},  {-1, "5V"},    {3, nullptr},  {-1, "GND"},   {4, nullptr},
    {14, nullptr}, {-1, "GND"},   {15, nullptr}, {17, nullptr}, {18, nullptr}, {27, nullptr}, {-1, "GND"},
    {22, nullptr}, {23, nullptr}, {-1, "3.3V"},  {24, nullptr}, {10, nullptr}, {-1, "GND"},   {9, nullptr},
    {25, nullptr}, {11, nullptr}, {8, nullptr},  {-1, "GND"},   {7, nullptr},  {0, nullptr},  {1, nullptr},
    {5, nullptr},  {-1, "GND"},   {6, nullptr},  {12, nullptr}, {13, nullptr}, {-1, "GND"},   {19, nullptr},
    {16, nullptr}, {26, nullptr}, {20, nullptr}, {-1, "GND"},   {21, nullptr},
};

// The header's pins are the same on every board that has it; the Pi 5's
// are the RP1's GPIOs 0 to 27.
void draw_header(uint64_t levels)
{
    puts(tavrel_gpio_chip() == TAVREL_CHIP_BCM2712
             ? "Raspberry Pi 40-pin header (Pi 5)"
             : "Raspberry Pi 40-pin header (Pi Zero, Pi 1 A+/B+ and later)");
    puts("GPIO  function  level  pin | pin  level  function  GPIO");
    for (int row = 0; row < 20; ++row) {
        const HeaderPin& l = kHeader[2 * row];
        const HeaderPin& r = kHeader[2 * row + 1];
        char lg[12] = "", rg[12] = "";
        if (l.gpio >= 0) snprintf(lg, sizeof lg, "%d", l.gpio);
        if (r.gpio >= 0) snprintf(rg, sizeof rg, "%d", r.gpio);
        char line[96];
        int n = snprintf(line, sizeof line, "%4s  %-8s  %-5s  %3d | %-3d  %-5s  %-8s  %s", lg,
                         l.gpio >= 0 ? function_name(tavrel_gpio_get_mode(l.gpio)) : l.power,
                         l.gpio >= 0 ? level_name(levels, l.gpio) : "", 2 * row + 1, 2 * row + 2,
                         r.gpio >= 0 ? level_name(levels, r.gpio) : "",
                         r.gpio >= 0 ? function_name(tavrel_gpio_get_mode(r.gpio)) : r.power, rg);
        while (n > 0 && line[n - 1] == ' ') line[--n] = '\0';
        puts(line);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    bool wanted[kPinSlots] = {}, some = false, header = false;
    int count = 0;

    int opt;
    while ((opt = getopt_long(argc, argv, "hHp:", tavrel_cli::kStandardOptions, nullptr)) != -1) {
        switch (opt) {
        case 'p':
            if (!count && !(count = tavrel_cli::chip_pins(kTool))) return 1;
            if (!parse_pins(optarg, count, wanted)) {
                fprintf(stderr,
                        "%s: bad pin '%s': expected a pin or a range from 0 to %d, as in 4, 2-5 or GPIO17\n",
                        kTool, optarg, count - 1);
                return 1;
            }
            some = true;
            break;
        case 'H': header = true; break;
        case 'h': fputs(kUsage, stdout); return tavrel_cli::report_written(kTool);
        case 'V': return tavrel_cli::print_version(kTool);
        default: fputs(kUsage, stderr); return 1;
        }
    }
    if (optind < argc || (header && some)) {
        fputs(kUsage, stderr);
        return 1;
    }
    if (!count && !(count = tavrel_cli::chip_pins(kTool))) return 1;
    if (!some) memset(wanted, 1, sizeof wanted);
    // No exit handler: this program changes nothing to put back.
    if (tavrel_gpio_init_noatexit() != 0) return tavrel_cli::no_access(kTool);
    uint64_t levels = tavrel_gpio_get_all();
    if (header) {
        draw_header(levels);
    } else {
        for (int pin = 0; pin < count && pin < kPinSlots; ++pin)
            if (wanted[pin])
                printf("GPIO %d: %s %s pull %s\n", pin, function_name(tavrel_gpio_get_mode(pin)),
                       level_name(levels, pin), pull_name(pin));
    }
    return tavrel_cli::report_written(kTool);
}
