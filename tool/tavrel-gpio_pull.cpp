// SPDX-License-Identifier: MIT
// tavrel-gpio_pull: sets one pin's pull up, down or off.
#include <limits.h>
#include <stdio.h>
#include <unistd.h>

#include "cli.h"
#include "tavrel.h"

namespace {

constexpr const char kTool[] = "tavrel-gpio_pull";
constexpr const char kUsage[] = "Usage:\n\ttavrel-gpio_pull -p PIN_NUM -u|-d|-n\n";

}  // namespace

int main(int argc, char** argv)
{
    const char* pin_text = nullptr;
    int pull = -1;

    int opt;
    while ((opt = getopt_long(argc, argv, "hp:udn", tavrel_cli::kStandardOptions, nullptr)) != -1) {
        switch (opt) {
        case 'p': pin_text = optarg; break;
        case 'u': pull = TAVREL_PULL_UP; break;
        case 'd': pull = TAVREL_PULL_DOWN; break;
        case 'n': pull = TAVREL_PULL_OFF; break;
        case 'h': fputs(kUsage, stdout); return tavrel_cli::report_written(kTool);
        case 'V': return tavrel_cli::print_version(kTool);
        default: fputs(kUsage, stderr); return 1;
        }
    }
    if (!pin_text || pull < 0 || optind < argc) {
        fputs(kUsage, stderr);
        return 1;
    }
    long long pin;
    bool named;
    bool number = tavrel_cli::pin_argument(pin_text, LLONG_MAX, &pin, &named) ||
                  (!named && tavrel_cli::number_as_written(pin_text, LLONG_MIN, LLONG_MAX, &pin));
    // Every pin the chip bonds out has a pull.
    int count = tavrel_cli::chip_pins(kTool);
    if (!count) return 1;
    if (!number) {
        fprintf(stderr, "%s: bad pin '%s': expected a number from 0 to %d, or a line's name as GPIO17\n",
                kTool, pin_text, count - 1);
        return 1;
    }
    // The pull outlives this program, and is not put back.
    if (tavrel_gpio_init_noatexit() != 0) return tavrel_cli::no_access(kTool);
    if (pin < 0 || pin >= count) {
        fprintf(stderr, "Pin %s is out of range (0 to %d).\n", pin_text, count - 1);
        return 1;
    }
    tavrel_gpio_set_pull(static_cast<int32_t>(pin), pull);
    static const char* const names[] = {"no pull", "pull-down", "pull-up"};
    printf("Set pin %lld %s\n", pin, names[pull]);
    return tavrel_cli::report_written(kTool);
}
