#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the board's Debian packages from a checked ARMv6 cross build. The
# binaries are checked unstripped; CPack strips them afterwards.
# Usage: armv6-release.sh BUILD_DIR
set -eu
build=$1
sdk/tavrel-armv6-check "$build/library/libtavrel.so" "$build"/tool/tavrel-gpio_* \
    "$build"/examples/tavrel-example-* "$build"/pizero/libtavrel-gpiomem.so
(cd "$build" && cpack >/dev/null)
sh tests/packages/check.sh "$build" armhf arm-linux-gnueabihf
echo "board packages:" "$build"/*_armhf.deb "$build"/tavrel-pizero_*_all.deb
