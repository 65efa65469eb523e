/*
 * libtavrel: direct GPIO register access for BCM2835-family boards
 * (Raspberry Pi Zero and Pi 1) through /dev/gpiomem.
 *
 * Error convention
 *   - tavrel_gpio_init*: 0 on success, 1 when the device cannot be opened
 *     ("gpio open failed" is printed to standard output). A failed mapping
 *     ends the process with status 1.
 *   - Pin operations report nothing. While access is closed, or for a pin
 *     outside 0 to 59, setters do nothing and getters return 0.
 *   - Version and descriptor routines return -1 and set errno.
 *
 * Ownership: buffers and the version record belong to the caller. The
 * library owns its register mapping and its listener thread; nothing it
 * returns needs freeing.
 *
 * Threads: open and close are made from one thread while no pin operation
 * runs. Pin operations may run on several threads; function-select updates
 * of pins that share a register word (pins n*10 to n*10+9) must be
 * serialised by the caller.
 *
 * Processes
 *   - fork: a child inherits open access but none of the parent's changes.
 *     Its close, at exit or explicit, puts back only the pins the child
 *     itself changed, to their functions at the fork. The quit listener
 *     does not run in a child (the child may start its own), and SIGTERM
 *     and SIGINT act there as they did before the listener was installed.
 *     A parent that leaves with exit() after forking still puts back its
 *     own changes: call tavrel_gpio_init after daemonising, or leave the
 *     parent with _exit as daemon(3) does.
 *   - Unloading: once loaded, the library stays loaded (dlclose leaves it
 *     mapped), so its listener, signal handlers and exit handler keep
 *     working until the process ends.
 *   - Exit: tavrel_gpio_deinit called while the process is already exiting
 *     returns instead of ending the process a second time.
 */
#ifndef TAVREL_H
#define TAVREL_H

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define TAVREL_API __attribute__((visibility("default")))
#else
#define TAVREL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- GPIO access ------------------------------------------------------ */

/*
 * Maps the GPIO register block and saves the function selection of pins
 * 0 to 29. Registers the close to run at process exit (once per call, even
 * when the open then fails), so that on any normal exit the pins 0 to 29
 * this process changed get their functions back. Returns 0 on success,
 * also when access is already open (the first mapping and snapshot are
 * kept); 1 when /dev/gpiomem cannot be opened, after printing "gpio open
 * failed" (usually: not in the gpio group). Exits the process with status
 * 1 if the mapping fails. Not thread-safe: call it before other threads use
 * the pins.
 */
TAVREL_API int tavrel_gpio_init(void);

/*
 * As tavrel_gpio_init, without registering the exit handler: nothing is put
 * back at exit unless the caller calls tavrel_gpio_deinit.
 */
TAVREL_API int tavrel_gpio_init_noatexit(void);

/*
 * Stops and joins the quit listener if it runs, puts back the function
 * selection of those pins 0 to 29 that this process changed through the
 * library since open, unmaps the block, and resets SIGTERM and SIGINT to
 * their default actions. Output levels are not put back. Safe to call when
 * access is closed, and more than once. If SIGTERM or SIGINT arrived while
 * the listener was being stopped, it ends the process with exit(0) instead
 * of returning. At process exit the block stays mapped until the process
 * is gone, so that other threads' pin operations cannot fault, and the
 * restore waits for function-select updates already under way. Pulls are
 * not put back either: the BCM2835 cannot read a pin's pull back, so
 * there is nothing to restore them to.
 */
TAVREL_API void tavrel_gpio_deinit(void);

/* ---- Pin operations --------------------------------------------------- */

/*
 * Sets the pin's function-select code: 0 input, 1 output (2 to 7 are the
 * raw alternate-function codes). Pins 0 to 59; a mode outside 0 to 7 is
 * ignored. One read and one write of the register word the pin shares
 * with nine others: serialise calls for pins of the same word.
 */
TAVREL_API void tavrel_gpio_config_io(int32_t pin, int32_t mode);

/*
 * Selects alternate function 0 to 5 for the pin (pins 0 to 59). A number
 * below 0 selects function 0, above 5 selects function 5.
 */
TAVREL_API void tavrel_gpio_set_alt(int32_t pin, int32_t alt);

/*
 * Drives the pin high when value is non-zero, low when 0 (pins 0 to 59);
 * it shows on the pin once the pin is an output. One write that touches
 * no other pin: safe from any thread.
 */
TAVREL_API void tavrel_gpio_set_val(int32_t pin, int32_t value);

/*
 * Drives pins first_pin to first_pin + 7 from bits 0 to 7 of byte, one
 * after the other in ascending order. Pins outside 0 to 59 are skipped.
 */
TAVREL_API void tavrel_gpio_set_byte(int32_t first_pin, int32_t byte);

/* Returns the pin's level, 1 or 0 (pins 0 to 59). Safe from any thread. */
TAVREL_API int32_t tavrel_gpio_get_val(int32_t pin);

/*
 * Returns the levels of pins first_pin to first_pin + 7 as bits 0 to 7,
 * from one read of the level register of first_pin's bank. Bits beyond
 * the bank's last pin repeat that pin's level.
 */
TAVREL_API int32_t tavrel_gpio_get_byte(int32_t first_pin);

/* ---- Pulls, function read-back, many pins at once (TAVREL_1.1) -------- */

/* Pull codes for tavrel_gpio_set_pull, in the BCM2835's own encoding. */
#define TAVREL_PULL_OFF 0
#define TAVREL_PULL_DOWN 1
#define TAVREL_PULL_UP 2

/*
 * Returns the pin's function-select code, 0 to 7: 0 input, 1 output, the
 * alternate functions as tavrel_gpio_set_alt writes them (alt0 4, alt1 5,
 * alt2 6, alt3 7, alt4 3, alt5 2). -1 while access is closed or for a pin
 * outside 0 to 59. One read.
 */
TAVREL_API int32_t tavrel_gpio_get_mode(int32_t pin);

/*
 * Sets the pin's pull: TAVREL_PULL_OFF, TAVREL_PULL_DOWN or TAVREL_PULL_UP
 * (pins 0 to 53; another pin or code is ignored). Follows the BCM2835
 * sequence: the code to GPPUD, a wait, the pin's bit to its GPPUDCLK, a
 * wait, then 0 to both; about 1.5 microseconds without a system call. The
 * pull holds until changed, also after the process ends, and is not put
 * back at close. GPPUD is shared by every pin: serialise calls, as for
 * function-select updates of one word, and against other processes that
 * set pulls.
 */
TAVREL_API void tavrel_gpio_set_pull(int32_t pin, int32_t pull);

/*
 * Drives each pin 0 to 53 whose bit is set in pins to the matching bit of
 * levels; bits 54 to 63 are ignored. One write to each of GPSET0, GPCLR0,
 * GPSET1 and GPCLR1 (in that order) that has a bit to write, and none to
 * the others, so the pins of one bank change together. Safe from any
 * thread.
 */
TAVREL_API void tavrel_gpio_set_mask(uint64_t pins, uint64_t levels);

/*
 * Returns the levels of pins 0 to 53 as bits 0 to 53, from one read of
 * GPLEV0 and then one of GPLEV1; 0 while access is closed. Safe from any
 * thread.
 */
TAVREL_API uint64_t tavrel_gpio_get_all(void);

/* ---- Quit listener ---------------------------------------------------- */

/*
 * The quit pattern: two consecutive samples of pins 24 to 27, the first
 * with all four low and the next with all four high.
 */

/*
 * Starts a thread that samples pins 24 to 27 about every 100 microseconds
 * and, on the quit pattern or on SIGTERM or SIGINT, ends the process with
 * exit(0), so that exit handlers (the close registered by tavrel_gpio_init
 * among them) run. Installs handlers for SIGTERM and SIGINT and makes pins
 * 24 to 27 inputs. Returns 0 when the listener runs (also when it already
 * did), 1 when access is closed, or pthread_create's error number, after
 * printing "Failed to create ToRav thread (ERR: n)." and handing the two
 * signals back to their previous handlers. Call it from the thread that
 * opens and closes access.
 */
TAVREL_API int tavrel_gpio_start_quit_listener(void);

/*
 * Takes one sample of pins 24 to 27 and returns 1 if it completes the quit
 * pattern, or if access is closed; else 0. The pattern state is shared
 * with the listener thread: call this only when the listener is not
 * running. The first sample in a process never completes the pattern.
 */
TAVREL_API int tavrel_gpio_should_quit(void);

/* The listener thread's body; only tavrel_gpio_start_quit_listener runs it. */
TAVREL_API void* torav_pthread_loop(void* unused);

/* Handle of the quit-listener thread, valid while the listener runs. */
TAVREL_API extern pthread_t tavrel_register_thread_id;

/* ---- Version file ----------------------------------------------------- */

/*
 * The installation's version, from the text "<major>.<minor><letter>":
 * major is one or more digits (at most 2147483647), minor exactly two
 * digits, letter one of A to Z. Filled by tavrel_get_version; owned by the
 * caller.
 */
typedef struct tavrel_version {
    int32_t major;
    int32_t minor;
    char letter;
} tavrel_version;

/*
 * Copies the version text of /opt/tavrel/VERSION (its first 63 bytes,
 * without leading and trailing space, tab, CR and LF) and a terminating NUL
 * into buf. Returns the text's length, or -1 with errno: EINVAL for a null
 * buf, a size of 0 or a malformed text; ENOSPC when the text and its NUL do
 * not fit (buf is then untouched); EINVAL also when the path is not a
 * regular file (a FIFO or device is never waited on); or the error of the
 * open or read. Thread-safe.
 */
TAVREL_API int tavrel_get_version_str(char* buf, size_t size);

/*
 * Reads and validates the version, and fills *version when it is not
 * null. Returns 0, or -1 with errno as tavrel_get_version_str; the record
 * is untouched on failure. Thread-safe.
 */
TAVREL_API int tavrel_get_version(tavrel_version* version);

/* ---- Descriptor I/O --------------------------------------------------- */

/*
 * Writes all len bytes of data to fd, continuing after short writes and
 * EINTR. Returns 0, or -1 with errno from the failing write (EIO when a
 * write makes no progress). The number of bytes written before a failure
 * is not reported.
 */
TAVREL_API int tavrel_write_exact(int fd, const void* data, size_t len);

/*
 * Reads exactly len bytes from fd into buf within timeout_ms milliseconds
 * of the call, waiting again after EINTR and EAGAIN. Bytes already waiting
 * are always read, however late the deadline comes. Returns len, or -1:
 * on time-out or end of file (errno not set), with EINVAL when len is above
 * INT_MAX, EBADF for a bad descriptor, or the error of poll or read. Bytes
 * received before a failure stay in buf. Any descriptor number works.
 */
TAVREL_API int tavrel_read_with_timeout(int fd, void* buf, size_t len, int timeout_ms);

#ifdef __cplusplus
}
#endif

#endif /* TAVREL_H */
