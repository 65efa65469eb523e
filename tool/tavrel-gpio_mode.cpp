// SPDX-License-Identifier: MIT
// tavrel-gpio_mode: puts one GPIO pin into input, output or an alternate
// function.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "cli.h"
#include "tavrel.h"

namespace {

constexpr const char kUsage[] =
    "Usage:\n\ttavrel-gpio_mode -p PIN_NUM -f FUNC_NUM\nor\n\ttavrel-gpio_mode -p PIN_NUM -i\n"
    "or\n\ttavrel-gpio_mode -p PIN_NUM -o\n";

constexpr int kLastPin = 59;

}  // namespace

int main(int argc, char** argv)
{
    bool have_pin = false, have_func = false, have_dir = false;
    int pin = 0, func = 0, output = 0;
    const char* pin_text = "0";
    long long pin_value = 0;

    int opt;
    while ((opt = getopt(argc, argv, "hiop:f:")) != -1) {
        switch (opt) {
        case 'p':
            pin = atoi(optarg);
            pin_text = optarg;
            pin_value = tavrel_cli::pin_as_written(optarg, kLastPin);
            have_pin = true;
            break;
        case 'f':
            func = atoi(optarg);
            have_func = true;
            break;
        case 'i':
            output = 0;
            have_dir = true;
            break;
        case 'o':
            output = 1;
            have_dir = true;
            break;
        case 'h': break;
        case '?': return 1;  // getopt has already said why
        default: abort();
        }
    }

    if (!have_pin || have_func == have_dir) {
        fputs(kUsage, stderr);
        return 1;
    }
    // The library ignores pins it has no field for; saying "Set pin" for
    // one of those would report a change that never happened.
    if (pin_value < 0 || pin_value > kLastPin) {
        if (pin_value == pin)
            fprintf(stderr, "Pin %i is out of range (0 to %i).\n", pin, kLastPin);
        else
            fprintf(stderr, "Pin %s is out of range (0 to %i).\n", pin_text, kLastPin);
        return 1;
    }
    // Without the exit handler, so the mode reported below stays in force
    // after this program ends.
    if (tavrel_gpio_init_noatexit() != 0) {
        fputs("Failed to initialise GPIO access.\n", stderr);
        return 1;
    }

    if (have_func) {
        tavrel_gpio_set_alt(pin, func);
        printf("Set pin %i to alternative-function %i\n", pin, func);
    } else {
        tavrel_gpio_config_io(pin, output);
        printf("Set pin %i to %s\n", pin, output ? "output" : "input");
    }
    // The change stands either way.
    return tavrel_cli::report_written("tavrel-gpio_mode");
}
