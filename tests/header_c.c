/* SPDX-License-Identifier: MIT */
/* The public header as a C program sees it: every operation is a no-op
 * while access is closed. */
#include <stdio.h>

#include "tavrel.h"

int main(void)
{
    tavrel_gpio_config_io(3, 1);
    tavrel_gpio_set_alt(3, 2);
    tavrel_gpio_set_val(3, 1);
    tavrel_gpio_set_byte(0, 0xFF);
    if (tavrel_gpio_get_val(3) != 0 || tavrel_gpio_get_byte(0) != 0) {
        puts("closed access returned a level");
        return 1;
    }
    tavrel_gpio_deinit();
    return 0;
}
