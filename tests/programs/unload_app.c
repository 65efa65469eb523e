/* SPDX-License-Identifier: MIT */
/* Loads libtavrel by path, as a plugin host would, and unloads it again:
 *   unload_app LIBRARY CYCLES
 * Each cycle opens access, makes pin 7 an output, starts the listener and
 * unloads the library. Then it prints how many mappings of the GPIO block
 * it holds, and sends itself SIGTERM. */
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 3) return 2;
    int cycles = atoi(argv[2]);
    for (int i = 0; i < cycles; ++i) {
        void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            fprintf(stderr, "%s\n", dlerror());
            return 2;
        }
        int (*init)(void) = (int (*)(void))dlsym(lib, "tavrel_gpio_init");
        void (*config_io)(int, int) = (void (*)(int, int))dlsym(lib, "tavrel_gpio_config_io");
        int (*start)(void) = (int (*)(void))dlsym(lib, "tavrel_gpio_start_quit_listener");
        if (!init || !config_io || !start || init() != 0) return 3;
        config_io(7, 1);
        if (start() != 0) return 4;
        dlclose(lib);
    }
    int (*mapped)(void) = (int (*)(void))dlsym(RTLD_DEFAULT, "tavrel_sim_blocks_mapped");
    printf("mapped %d\n", mapped ? mapped() : -1);
    fflush(stdout);
    alarm(20);
    raise(SIGTERM);
    for (;;) pause();
}
