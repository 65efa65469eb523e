#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the arm64 Debian packages (64-bit Raspberry Pi OS on a Pi 3 or 4;
# an arm64 laptop or CI runner) from the AArch64 cross build, and checks
# them: contents, metadata, lintian.
# Usage: arm64-release.sh BUILD_DIR
set -eu
build=$1
(cd "$build" && cpack >/dev/null)
sh tests/packages/check.sh "$build" arm64 aarch64-linux-gnu
echo "arm64 packages:" "$build"/*_arm64.deb "$build"/python3-tavrel_*_all.deb
