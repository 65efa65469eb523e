// The simulated board is a file. Its first page is the GPIO register block
// that /dev/gpiomem would map; the rest is reserved for the device model.
#pragma once

#include <sys/types.h>

namespace tavrel_sim {

constexpr unsigned kPageBytes = 4096;
constexpr unsigned kBoardBytes = 2 * kPageBytes;

// Environment read by the shim at each redirected open.
constexpr const char kBoardEnv[] = "TAVREL_SIM_BOARD";      // board file
constexpr const char kVersionEnv[] = "TAVREL_SIM_VERSION";  // version file

constexpr const char kDevicePath[] = "/dev/gpiomem";
constexpr const char kVersionPath[] = "/opt/tavrel/VERSION";

// Writes the default board path for this user into buf.
void default_board_path(char* buf, size_t size);

}  // namespace tavrel_sim
