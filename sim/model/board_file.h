// SPDX-License-Identifier: MIT
// Where the board file lives and how it is recognised: the environment
// that tavrel-sim hands the shim, the default board's private directory,
// and file identities.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tavrel_sim {

// Room for a path and a sentence about it.
constexpr size_t kMessageBytes = 4096 + 256;

// Environment read by the shim.
constexpr const char kBoardEnv[] = "TAVREL_SIM_BOARD";      // board file
constexpr const char kVersionEnv[] = "TAVREL_SIM_VERSION";  // version file
constexpr const char kTraceEnv[] = "TAVREL_SIM_TRACE";      // trace file
constexpr const char kModeEnv[] = "TAVREL_SIM_MODE";        // "plain": no model
constexpr const char kRunEnv[] = "TAVREL_SIM_RUN";          // the run's id
// The directory shown at /proc/device-tree; empty: no device tree.
constexpr const char kDeviceTreeEnv[] = "TAVREL_SIM_DEVICE_TREE";
// Where the instruction address of each trapped access is appended, one
// hex number a line: for checks of the code around the accesses.
constexpr const char kPcLogEnv[] = "TAVREL_SIM_PC_LOG";

constexpr const char kDevicePath[] = "/dev/gpiomem";
// The Pi 5's: the RP1's GPIO window.
constexpr const char kRp1DevicePath[] = "/dev/gpiomem0";
constexpr const char kVersionPath[] = "/opt/tavrel/VERSION";

// The default board, in a directory private to the user: the user's
// runtime directory ($XDG_RUNTIME_DIR) when it is a private one, else
// tavrel-sim-UID under $TMPDIR or /tmp, created 0700 and checked to be the
// user's own real directory. False, with the reason in `why`, when no safe
// place exists or the path does not fit.
bool default_board_path(char* buf, size_t size, char* why, size_t why_size);

// What identifies an open file. Taken with statx, whose layout the kernel
// fixes, so that the shim also works under a C library other than the one
// it was built against.
struct FileId {
    uint64_t dev = 0, ino = 0, size = 0;
    uint32_t uid = 0, mode = 0;
    bool regular = false;
};
bool identify(int fd, FileId* id);

}  // namespace tavrel_sim
