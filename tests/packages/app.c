/* SPDX-License-Identifier: MIT */
/* A user's program, built against the installed packages. */
#include <stdio.h>
#include <tavrel.h>

int main(void)
{
    tavrel_version v;
    if (tavrel_get_version(&v) != 0) {
        perror("tavrel_get_version");
        return 1;
    }
    if (tavrel_gpio_init_noatexit() != 0) return 1;
    tavrel_gpio_config_io(17, 1);
    tavrel_gpio_set_val(17, 1);
    printf("version %d.%02d%c, header %d.%d.%d, pin 17 %d\n", v.major, v.minor, v.letter,
           TAVREL_VERSION_MAJOR, TAVREL_VERSION_MINOR, TAVREL_VERSION_PATCH, tavrel_gpio_get_val(17));
    tavrel_gpio_deinit();
    return 0;
}
