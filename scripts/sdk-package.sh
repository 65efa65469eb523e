#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the tavrel-armv6-sdk package, for this machine's architecture,
# from the tree: an ARMv6 release build of its own (OUTDIR/build-armv6),
# whose runtime and library are checked before they are packaged. Prints
# the package's path.
# Usage: sdk-package.sh OUTDIR
set -eu
[ $# -eq 1 ] || { echo "usage: sdk-package.sh OUTDIR" >&2; exit 2; }
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_missing cmake make g++-arm-linux-gnueabihf binutils-arm-linux-gnueabihf dpkg-dev
mkdir -p "$1"
out=$(cd "$1" && pwd)
build=$out/build-armv6
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/armv6-rpi.cmake -DCMAKE_BUILD_TYPE=Release \
    -DTAVREL_BUILD_TESTS=OFF >"$out/configure.log" || { cat "$out/configure.log"; exit 1; }
cmake --build "$build" -j"$(nproc)" >"$out/build.log" 2>&1 || { tail -40 "$out/build.log"; exit 1; }
(cd "$build" && cpack -D CPACK_COMPONENTS_ALL=sdk >"$out/cpack.log") || { cat "$out/cpack.log"; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=tavrel-armv6-sdk_${version}_$(dpkg --print-architecture).deb
mv "$build/$deb" "$out/$deb"
# What users link into their programs, as packaged; the library before
# CPack strips it, as the check reads Thumb code from symbols.
rm -rf "$build/sdk-contents"
dpkg-deb -x "$out/$deb" "$build/sdk-contents"
sdk/tavrel-armv6-check "$build/library/libtavrel.so" "$build"/sdk-contents/usr/lib/tavrel-armv6-sdk/*.[oa] >&2
echo "$out/$deb"
