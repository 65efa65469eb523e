/* SPDX-License-Identifier: MIT */
/* On the virtual Pi Zero: a forked child's exit leaves the parent's pins
 * alone, and puts back only what the child itself changed.
 * Prints "parent pin 7 output, child's pin 8 put back" when sound. */
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tavrel.h"

int main(void)
{
    if (tavrel_gpio_init() != 0) return 1;
    tavrel_gpio_config_io(7, 1);
    tavrel_gpio_config_io(8, 0);
    pid_t pid = fork();
    if (pid < 0) return 1;
    if (pid == 0) {
        tavrel_gpio_config_io(8, 1);
        return 0; /* exit: the child's close runs */
    }
    int status;
    waitpid(pid, &status, 0);
    printf("parent pin 7 %s, child's pin 8 %s\n", tavrel_gpio_get_mode(7) == 1 ? "output" : "lost",
           tavrel_gpio_get_mode(8) == 1 ? "left as output" : "put back");
    return 0;
}
