/* SPDX-License-Identifier: MIT */
/* Blinks a pin: blink [PIN [TIMES [PERIOD_MS]]], by default pin 17, 5
 * times, every 500 ms. The pin's function is put back at exit. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "tavrel.h"

static void sleep_ms(long ms)
{
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, NULL);
}

int main(int argc, char** argv)
{
    int pin = argc > 1 ? atoi(argv[1]) : 17;
    int times = argc > 2 ? atoi(argv[2]) : 5;
    long period = argc > 3 ? atol(argv[3]) : 500;

    if (tavrel_gpio_init() != 0) return 1; /* close registered for exit */
    tavrel_gpio_config_io(pin, 1);
    for (int i = 0; i < times; ++i) {
        tavrel_gpio_set_val(pin, 1);
        sleep_ms(period / 2);
        tavrel_gpio_set_val(pin, 0);
        sleep_ms(period / 2);
    }
    printf("blinked pin %d %d times\n", pin, times);
    return 0;
}
