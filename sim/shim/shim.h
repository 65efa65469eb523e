// SPDX-License-Identifier: MIT
// What the preloaded shim's files share. The shim puts the simulated board
// behind /dev/gpiomem: the opening of the device is redirected to the board
// file (open.cpp); on x86-64, 32-bit ARM and AArch64 its mapping is a page
// that stays inaccessible for good (map.cpp), so that every access faults
// and the SIGSEGV handler emulates the instruction against the device model
// and appends the access to the trace (trap.cpp, trace_file.cpp). The
// program's own signal masks and actions are kept apart from the shim's
// (signals.cpp). With TAVREL_SIM_MODE=plain, the file's register page is
// mapped directly: plain storage, no trace.
#pragma once

#include <dlfcn.h>
#include <signal.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include <atomic>

#include "decode/emulate.h"
#include "model/board.h"

// What the shim defines for others to bind to; all else stays inside.
#define SHIM_API extern "C" __attribute__((visibility("default")))

namespace tavrel_sim::shim {

template <typename Fn>
Fn next(const char* name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

using Open = int (*)(const char*, int, ...);
using OpenAt = int (*)(int, const char*, int, ...);
using Mmap = void* (*)(void*, size_t, int, int, int, off_t);
using Munmap = int (*)(void*, size_t);
using Sigaction = int (*)(int, const struct sigaction*, struct sigaction*);
using Mask = int (*)(int, const sigset_t*, sigset_t*);

// The next definitions of the entries the shim interposes.
Mmap real_mmap();
Munmap real_munmap();
OpenAt real_openat();
Sigaction real_sigaction();
Mask real_mask();  // pthread_sigmask
// Makes every first lookup of a next definition now, at load, so that none
// happens in a signal handler or a forked child, where dlsym is not safe.
void resolve_entries();
void resolve_waits();  // signals.cpp's

// Accesses trap into the model, rather than reaching plain storage.
bool model_mode();

// The path named by environment variable `name` (null when unset or
// empty), absolute against the directory the program started in; null
// with ENAMETOOLONG when it does not fit.
const char* env_path(const char* name, char* buf, size_t size);
// A message on standard error, written at once (async-signal-safe).
void say(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Opens the board's GPIO character device (the chip), attaching the board
// first: a descriptor, or -1 with errno.
int open_chip_device(int flags);
// The chip's sysfs files, synthesized: a descriptor, -1 with errno, or -2
// for a path that is not one of them.
int open_sysfs(const char* path, int flags);
// Before a descriptor is closed, or replaced by dup2: takes it out of the
// device's tables, returning the line request it was a copy of (0 for
// none), for device_closed after the close: the request frees its lines
// when that was its last copy in any process.
uint32_t device_closing(int fd);
void device_closed(uint32_t request);
// The same for descriptors `first` to `last`: up to kMaxCopies requests.
constexpr unsigned kMaxCopies = 64;
void device_closing_range(unsigned first, unsigned last, uint32_t* requests, unsigned* n);
// A descriptor was copied (dup, fcntl's F_DUPFD): the copy is the same
// request, as the kernel's is the same file.
void device_copied(int fd, int copy);

// The descriptor was opened as the device, and is of the board the device
// was last opened as.
bool is_board(int fd);
// Descriptors `first` to `last` are closed, or replaced.
void device_fds_closed(unsigned first, unsigned last);
// That board's path, for messages.
const char* board_path();
// The address lies in a block this process mapped plain.
bool in_plain_block(uintptr_t addr);
// Puts the SIGBUS handler in place, once: a board file cut short under the
// program ends it with a message rather than a bare "Bus error".
void install_bus_handler();

// The shim's own view of the board, and the trace its accesses go to.
extern Board& model;
// Where accesses are traced; null when no trace is asked for, so that an
// access makes no record.
TraceSink* trace_sink();
bool open_trace();
// The trace's descriptor, kept from the program: see trace_file.cpp.
bool is_trace_fd(int fd);
int trace_fd();
bool trace_step_aside(int fd);

// A block mapped by this process. An unmapped one stays reserved, and is
// what the next mapping gets: a late access through a stale pointer is
// reported rather than crashing or reaching another mapping, and repeated
// open and close cycles hold one page.
struct Trapped {
    std::atomic<uintptr_t> base{0};
    std::atomic<uint32_t> bytes{0};  // the chip's block: a page, or the RP1's window
    std::atomic<bool> unmapped{false};
};
Trapped* find_block(uintptr_t addr);

// Puts the SIGSEGV handler in place, once.
void install_handler();

// Once the shim's handler is in place, the program's own SIGSEGV action
// lives here and the kernel keeps the shim's.
extern struct sigaction app_segv;
extern std::atomic<bool> segv_taken;
struct sigaction sigaction_default();

}  // namespace tavrel_sim::shim
