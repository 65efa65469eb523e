/* SPDX-License-Identifier: MIT */
/* Opens access, calls each pin operation and the listener's sample once,
 * and closes access, so that an instruction trace of this program shows
 * the path each takes from entry to return; and reads an edge event that
 * is waiting. */
#include <poll.h>
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
    /* The pull-up raises pin 22, an input the kernel holds and nothing
     * drives: an edge waits when edge_read is called. */
    int fd = tavrel_gpio_edge_open(1u << 22, TAVREL_EDGE_RISING, 0);
    tavrel_gpio_set_pull(22, TAVREL_PULL_UP);
    (void)tavrel_gpio_get_pull(22);
    struct pollfd ready = {fd, POLLIN, 0};
    struct tavrel_edge_event event;
    if (fd >= 0 && poll(&ready, 1, 10000) == 1 && tavrel_gpio_edge_read(fd, &event, 1, 0) == 1)
        printf("edge on pin %d\n", (int)event.pin);
    tavrel_gpio_edge_close(fd);
    tavrel_gpio_set_mask(0x000F00000000000Full, 0x0005000000000005ull);
    (void)tavrel_gpio_get_all();
    (void)tavrel_gpio_should_quit();
    tavrel_gpio_deinit();
    return 0;
}
