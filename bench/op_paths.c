/* SPDX-License-Identifier: MIT */
/* Opens access, calls each pin operation and the listener's sample once,
 * and closes access, so that an instruction trace of this program shows
 * the path each takes from entry to return. */
#include <stdio.h>

#include "tavrel.h"

int main(void)
{
    /* Where the library was loaded, for the trace's addresses. */
    printf("%p\n", (void*)tavrel_gpio_set_val);
    fflush(stdout);
    if (tavrel_gpio_init_noatexit() != 0) return 1;
    tavrel_gpio_set_val(17, 1);
    tavrel_gpio_set_val(17, 0);
    (void)tavrel_gpio_get_val(17);
    tavrel_gpio_config_io(17, 1);
    tavrel_gpio_set_alt(18, 5);
    tavrel_gpio_set_byte(4, 0xA5);
    (void)tavrel_gpio_get_byte(4);
    (void)tavrel_gpio_get_mode(17);
    tavrel_gpio_set_pull(4, TAVREL_PULL_UP);
    (void)tavrel_gpio_get_pull(4);
    tavrel_gpio_set_mask(0x000F00000000000Full, 0x0005000000000005ull);
    (void)tavrel_gpio_get_all();
    (void)tavrel_gpio_should_quit();
    tavrel_gpio_deinit();
    return 0;
}
