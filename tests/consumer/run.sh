#!/bin/sh
# SPDX-License-Identifier: MIT
# Installs the library from a build tree into a scratch prefix, then builds
# and runs a user's program against it, through find_package and through
# pkg-config.
# Usage: run.sh BUILD_DIR
set -eu
build=$1
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# DESTDIR keeps the version file, at its fixed /opt path, in the scratch tree.
prefix=$tmp/root$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
for component in runtime dev; do
    DESTDIR=$tmp/root cmake --install "$build" --component $component >/dev/null
done
libdir=$(dirname "$(find "$prefix" -name libtavrel.so.1 | head -n 1)")
# The programs read the scratch tree's version file through the simulated
# board's shim, never the machine's /opt/tavrel/VERSION: the result is the
# same whatever is installed here.
version=$tmp/root/opt/tavrel/VERSION
[ -f "$version" ] || { echo "no version file installed at $version"; exit 1; }
run() { LD_PRELOAD="$build/sim/libtavrel-sim.so" TAVREL_SIM_VERSION="$version" "$@"; }
expected="level 0, version file valid"

cmake -S "$here" -B "$tmp/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_RPATH="$libdir" >/dev/null
cmake --build "$tmp/cmake" >/dev/null
got=$(run "$tmp/cmake/consumer")
[ "$got" = "$expected" ] || { echo "find_package consumer printed: $got"; exit 1; }
echo "ok   find_package(tavrel CONFIG): $got"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
cc -std=c99 -Wall -Wextra -Werror "$here/consumer.c" $(pkg-config --define-variable=prefix="$prefix" --cflags --libs libtavrel) \
    -Wl,-rpath,"$libdir" -o "$tmp/pc-consumer"
got=$(run "$tmp/pc-consumer")
[ "$got" = "$expected" ] || { echo "pkg-config consumer printed: $got"; exit 1; }
echo "ok   pkg-config libtavrel $(pkg-config --modversion libtavrel): $got"
