#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs bench/trapped_access against a scratch simulated board: natively for
# a host build, under the build's qemu-user for a cross build (then the
# figure is qemu's, not a board's).
# Usage: trapped_access_cost.sh BUILD_DIR [N]
set -eu
build=$(cd "$1" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
run=""
case $(sed -n 's/^CMAKE_C_COMPILER_AR:[A-Z]*=//p' "$build/CMakeCache.txt") in
*arm-linux-gnueabihf-*) run="qemu-arm -L /usr/arm-linux-gnueabihf" ;;
*aarch64-linux-gnu-*) run="qemu-aarch64 -L /usr/aarch64-linux-gnu" ;;
esac
export TAVREL_SIM_BOARD="$tmp/board"
if [ -n "$run" ]; then
    # shellcheck disable=SC2086
    QEMU_SET_ENV="LD_PRELOAD=$build/sim/libtavrel-sim.so" $run "$build/bench/tavrel-trapped-access" ${2:-}
else
    LD_PRELOAD="$build/sim/libtavrel-sim.so" "$build/bench/tavrel-trapped-access" ${2:-}
fi
