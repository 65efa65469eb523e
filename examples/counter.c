/* SPDX-License-Identifier: MIT */
/* Counts from 0 to 255 on pins 4 to 11, one step per millisecond: a
 * waveform worth looking at under tavrel-sim --vcd. counter [STEPS]. */
#include <stdlib.h>
#include <time.h>

#include "tavrel.h"

int main(int argc, char** argv)
{
    int steps = argc > 1 ? atoi(argv[1]) : 256;
    struct timespec ms = {0, 1000000L};

    if (tavrel_gpio_init() != 0) return 1;
    for (int pin = 4; pin < 12; ++pin) tavrel_gpio_config_io(pin, 1);
    for (int i = 0; i < steps; ++i) {
        tavrel_gpio_set_byte(4, i & 0xFF);
        nanosleep(&ms, NULL);
    }
    return 0;
}
