/* SPDX-License-Identifier: MIT */
/* The button example without polling: the LED on pin 17 is lit while the
 * button between pin 4 and ground is pressed, and the program sleeps in
 * poll until the kernel reports an edge, debounced, or a signal comes.
 * SIGTERM and Ctrl-C arrive through a signalfd in the same poll, so the
 * program leaves through its own close, which puts both pins' functions
 * back. Compare examples/button.c, which reads the pin every 5 ms. */
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "tavrel.h"

enum { BUTTON = 4, LED = 17, DEBOUNCE_US = 10000 };

int main(void)
{
    if (tavrel_gpio_init() != 0) return 1;
    tavrel_gpio_config_io(BUTTON, 0);
    tavrel_gpio_set_pull(BUTTON, TAVREL_PULL_UP);

    /* Blocked, the two signals wait for the signalfd instead of ending
     * the process. */
    sigset_t quit;
    sigemptyset(&quit);
    sigaddset(&quit, SIGINT);
    sigaddset(&quit, SIGTERM);
    sigprocmask(SIG_BLOCK, &quit, NULL);
    int signals = signalfd(-1, &quit, SFD_CLOEXEC);
    int edges = tavrel_gpio_edge_open(1u << BUTTON, TAVREL_EDGE_BOTH, DEBOUNCE_US);
    if (signals < 0 || edges < 0) {
        perror("button_events");
        return 1;
    }
    /* The LED shows the button from the start; made an output only once
     * it holds the right level, and once no edge can be missed. */
    tavrel_gpio_set_val(LED, !tavrel_gpio_get_val(BUTTON));
    tavrel_gpio_config_io(LED, 1);
    puts("press the button on pin 4; quit with Ctrl-C");
    fflush(stdout);

    struct pollfd fds[2] = {{edges, POLLIN, 0}, {signals, POLLIN, 0}};
    while (poll(fds, 2, -1) >= 0 && !(fds[1].revents & POLLIN)) {
        struct tavrel_edge_event ev[16];
        int n = tavrel_gpio_edge_read(edges, ev, 16, 0);
        /* The latest edge tells the button's state: falling is pressed. */
        if (n > 0) tavrel_gpio_set_val(LED, ev[n - 1].edge == TAVREL_EDGE_FALLING);
    }
    tavrel_gpio_edge_close(edges);
    close(signals);
    return 0; /* the exit handler of tavrel_gpio_init puts the pins back */
}
