/* SPDX-License-Identifier: MIT */
/* Reads eight pins as a byte: read_byte [FIRST_PIN], by default pins 4
 * to 11, from one sample of the level register. */
#include <stdio.h>
#include <stdlib.h>

#include "tavrel.h"

int main(int argc, char** argv)
{
    int first = argc > 1 ? atoi(argv[1]) : 4;

    if (tavrel_gpio_init() != 0) return 1;
    for (int pin = first; pin < first + 8; ++pin) tavrel_gpio_config_io(pin, 0);
    int byte = tavrel_gpio_get_byte(first);
    printf("pins %d to %d: 0x%02x\n", first, first + 7, byte);
    return 0;
}
