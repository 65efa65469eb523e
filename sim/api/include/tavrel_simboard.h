/* SPDX-License-Identifier: MIT */
/*
 * The simulated board, for a program's own tests: while the program runs
 * under tavrel-sim, a test drives its inputs and watches its outputs on the
 * same board file, as a person with a button and a meter would.
 *
 * Error convention: functions returning int give 0, or -1 with errno set;
 * the getters give -1 for a pin the board's chip lacks (past 53 on the
 * BCM2835 and the Pi 5's RP1, past 57 on the BCM2711). Pins take the GPIO
 * numbers. The board handle belongs to the caller, who closes it.
 * Thread-safe: the board serialises every access, in this process and
 * against the program under test.
 */
#ifndef TAVREL_SIMBOARD_H
#define TAVREL_SIMBOARD_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct tavrel_simboard tavrel_simboard;

/*
 * Opens the board file at path, or the default board for a null path (the
 * one tavrel-sim uses without --board). Returns the handle, or null with
 * errno, the reason then written to why (when not null, up to why_size
 * bytes with its NUL): an unsafe or corrupt board is refused as tavrel-sim
 * refuses it.
 */
tavrel_simboard* tavrel_simboard_open(const char* path, char* why, size_t why_size);

/* Releases the handle; the board keeps its state. Null is ignored. */
void tavrel_simboard_close(tavrel_simboard* board);

/* Every register, latch, driven level and pull back to 0; the chip stays.
 * Returns 0. */
int tavrel_simboard_reset(tavrel_simboard* board);

/* The chips a board can be: the BCM2835 of the Pi Zero and Pi 1 to 3 (a new
 * board's), the Pi 4's BCM2711, with its own pull controls and 58 pins, or
 * the Pi 5's BCM2712, whose 54 GPIOs are the RP1's (/dev/gpiomem0). */
#define TAVREL_SIMBOARD_BCM2835 2835
#define TAVREL_SIMBOARD_BCM2711 2711
#define TAVREL_SIMBOARD_BCM2712 2712

/* Makes the board that chip's, as tavrel-sim --soc does: a board of the
 * other chip is reset first. 0, or -1 with EINVAL for another number. */
int tavrel_simboard_set_soc(tavrel_simboard* board, int32_t soc);

/* The board's chip: TAVREL_SIMBOARD_BCM2835, _BCM2711 or _BCM2712. */
int32_t tavrel_simboard_soc(tavrel_simboard* board);

/* Drives level (0 or 1) onto pin, as a device outside would: an input
 * reads it until the pin is released. 0, or -1 with EINVAL. */
int tavrel_simboard_drive(tavrel_simboard* board, int32_t pin, int32_t level);

/* Stops driving pin: as an input it then reads its pull. 0, or -1 with
 * EINVAL. */
int tavrel_simboard_release(tavrel_simboard* board, int32_t pin);

/* The level the pin reads now (an output's latch, else what is driven or
 * its pull): 0 or 1. */
int32_t tavrel_simboard_level(tavrel_simboard* board, int32_t pin);

/* The pin's function-select code: 0 input, 1 output, 4 alt0 ... 3 alt4,
 * 2 alt5, as the BCM2835 encodes them. On the RP1, function N below 5 is
 * altN's code, its software GPIO (function 5) input or output, and then
 * TAVREL_SIMBOARD_ALT6, _ALT7, _ALT8 or TAVREL_SIMBOARD_NO_FUNCTION. */
#define TAVREL_SIMBOARD_ALT6 8
#define TAVREL_SIMBOARD_ALT7 9
#define TAVREL_SIMBOARD_ALT8 10
#define TAVREL_SIMBOARD_NO_FUNCTION 11
int32_t tavrel_simboard_function(tavrel_simboard* board, int32_t pin);

/* The pin's pull: 0 off, 1 down, 2 up, on any chip; 3 on an RP1 pad with
 * both enabled, which keeps its level. */
int32_t tavrel_simboard_pull(tavrel_simboard* board, int32_t pin);

/* Malformed accesses to the block (not one aligned 32-bit access) so far. */
uint32_t tavrel_simboard_errors(tavrel_simboard* board);

/* Waits until the pin reads level, or has function code function, for at
 * most timeout_ms milliseconds. 0 once it does, or -1 with ETIMEDOUT, or
 * EINVAL for a bad pin, level or code. */
int tavrel_simboard_wait_level(tavrel_simboard* board, int32_t pin, int32_t level, int32_t timeout_ms);
int tavrel_simboard_wait_function(tavrel_simboard* board, int32_t pin, int32_t function, int32_t timeout_ms);

/* Waits until a request of the GPIO character device, in any process on
 * the board, holds the pin's line (wait_held), or none does (wait_free),
 * for at most timeout_ms milliseconds: what a test waits for before it
 * drives a pin whose edges another program watches. A line counts as held
 * once its request is whole, its edge detection running, as its line
 * information then shows it used; a holder whose process ended is freed
 * first. 0 once it is so, or -1 with ETIMEDOUT, or EINVAL for a bad pin. */
int tavrel_simboard_wait_held(tavrel_simboard* board, int32_t pin, int32_t timeout_ms);
int tavrel_simboard_wait_free(tavrel_simboard* board, int32_t pin, int32_t timeout_ms);

#ifdef __cplusplus
}
#endif

#endif
