/* SPDX-License-Identifier: MIT */
/* Drives pin 17 high and waits until a device on pins 24 to 27 shows the
 * quit pattern (all low, then all high), or SIGTERM or SIGINT arrives.
 * The listener then ends the process with status 0, and the exit handler
 * registered by tavrel_gpio_init puts the pins' functions back. */
#include <stdio.h>
#include <unistd.h>

#include "tavrel.h"

int main(void)
{
    if (tavrel_gpio_init() != 0) return 1;
    tavrel_gpio_config_io(17, 1);
    tavrel_gpio_set_val(17, 1);
    if (tavrel_gpio_start_quit_listener() != 0) return 1;
    puts("running; quit with the pattern on pins 24 to 27, or Ctrl-C");
    fflush(stdout);
    for (;;) pause();
}
