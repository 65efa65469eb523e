/* SPDX-License-Identifier: MIT */
/* A button between pin 4 and ground, with the pin's pull-up on: pin 4
 * reads 1 until the button is pressed. Pin 17 (an LED) is lit while it is
 * pressed. Runs until SIGTERM, Ctrl-C or the quit pattern on pins 24 to 27;
 * the exit handler then puts both pins' functions back. */
#include <stdio.h>
#include <unistd.h>

#include "tavrel.h"

enum { BUTTON = 4, LED = 17 };

int main(void)
{
    if (tavrel_gpio_init() != 0) return 1;
    tavrel_gpio_config_io(BUTTON, 0);
    tavrel_gpio_set_pull(BUTTON, TAVREL_PULL_UP);
    tavrel_gpio_config_io(LED, 1);
    if (tavrel_gpio_start_quit_listener() != 0) return 1;
    puts("press the button on pin 4; quit with Ctrl-C");
    fflush(stdout);
    for (;;) {
        tavrel_gpio_set_val(LED, !tavrel_gpio_get_val(BUTTON));
        usleep(5000);
    }
}
