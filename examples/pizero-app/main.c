/* SPDX-License-Identifier: MIT */
/* pizero-app [PIN [PATTERN]]: drives PIN (default 17) through PATTERN
 * (default 1011001) and reads each level back. Exits 0 when every level
 * read back as written. */
#include <stdio.h>
#include <stdlib.h>

#include "pattern.h"
#include "tavrel.h"

int main(int argc, char** argv)
{
    int pin = argc > 1 ? atoi(argv[1]) : 17;
    const char* text = argc > 2 ? argv[2] : "1011001";
    struct pattern* p = pattern_new(text);
    if (!p) {
        fprintf(stderr, "pizero-app: a pattern is 1 to 64 of 0 and 1\n");
        return 2;
    }
    if (!pattern_runtime_ready()) {
        fprintf(stderr, "pizero-app: the C++ static objects were not constructed\n");
        return 1;
    }
    if (tavrel_gpio_init() != 0) return 1; /* the pin's function is put back at exit */
    tavrel_gpio_config_io(pin, 1);
    int wrong = 0;
    for (int i = 0; i < pattern_length(p); ++i) {
        tavrel_gpio_set_val(pin, pattern_level(p, i));
        wrong += tavrel_gpio_get_val(pin) != pattern_level(p, i);
    }
    printf("pizero-app: pin %d followed %s, %d level changes, %d read back wrong\n", pin, text,
           pattern_changes(p), wrong);
    pattern_free(p);
    return wrong != 0;
}
