// SPDX-License-Identifier: MIT
/* Functions the simulated-board shim offers to programs it is preloaded
 * into, such as tests. Look them up with dlsym(RTLD_DEFAULT, ...) so that
 * a program still runs without the shim. */
#ifndef TAVREL_SIM_H
#define TAVREL_SIM_H

#ifdef __cplusplus
extern "C" {
#endif

/* The flags of the last redirected open of path ("/dev/gpiomem" or
 * "/opt/tavrel/VERSION"), or -1 if there was none. */
int tavrel_sim_last_open_flags(const char* path);

/* Mappings of the GPIO block this process holds now. */
int tavrel_sim_blocks_mapped(void);

/* 1 when accesses are trapped and run against the device model, 0 when the
 * block is plain shared memory. */
int tavrel_sim_trapping(void);

#ifdef __cplusplus
}
#endif

#endif
