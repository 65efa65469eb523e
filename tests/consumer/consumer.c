/* SPDX-License-Identifier: MIT */
/* A program of a library user, built against the installed tree. */
#include <stdio.h>
#include <tavrel.h>

int main(void)
{
    tavrel_version v;
    tavrel_gpio_set_val(17, 1); /* access is closed: does nothing */
    printf("level %d, version file %s\n", tavrel_gpio_get_val(17),
           tavrel_get_version(&v) == 0 ? "valid" : "absent");
    return 0;
}
