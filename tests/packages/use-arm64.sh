#!/bin/sh
# SPDX-License-Identifier: MIT
# The arm64 packages on a Debian 13 arm64 root, used as a user would, under
# qemu-aarch64: the tools, a C program built against libtavrel-dev through
# pkg-config and through CMake's find_package and run under the arm64
# tavrel-sim, and python3-tavrel's pin factory with Debian 13's Python and
# gpiozero. This is a cross-developer's view: the packages unpacked into a
# copy of the root as a sysroot, ldconfig run as the library's trigger
# would, and everything else run from this machine; apt-install.sh
# installs them with apt-get on the root itself.
# Usage: use-arm64.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
base=$(sh "$here/../../scripts/debian-root.sh" trixie arm64 libc6-dev python3 python3-gpiozero)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
root=$tmp/root
cp -al "$base" "$root"
for pkg in libtavrel1 libtavrel-dev tavrel-tools tavrel-sim; do dpkg-deb -x "$build/${pkg}_${version}_arm64.deb" "$root"; done
dpkg-deb -x "$build/python3-tavrel_${version}_all.deb" "$root"
ldconfig -r "$root"
status=0
check() { # NAME EXPECTED ACTUAL
    if [ "$2" = "$3" ]; then echo "ok   $1"; else echo "FAIL $1: expected [$2], got [$3]"; status=1; fi
}
arm() { qemu-aarch64 -L "$root" "$@"; }
# The arm64 tavrel-sim runs the command natively: an arm64 one goes through
# qemu too, which hands the shim tavrel-sim preloads on to the program (the
# host's loader says it cannot preload it, which is no error here).
sim() { arm "$root/usr/bin/tavrel-sim" --board "$tmp/board" "$@" 2>"$tmp/sim.err"; }

check "the arm64 tools run" "tavrel-gpio_state $version" "$(arm "$root/usr/bin/tavrel-gpio_state" --version)"
check "tavrel-sim runs the arm64 tool on the simulated board" \
    "Set pin 18 to alternative-function 5|pin 18: input -> alt5" \
    "$(sim --reset --changes -- qemu-aarch64 -L "$root" "$root/usr/bin/tavrel-gpio_mode" -p 18 -f 5 | paste -sd '|')"

flags=$(PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_LIBDIR=$root/usr/lib/aarch64-linux-gnu/pkgconfig \
    pkg-config --cflags --libs libtavrel)
# shellcheck disable=SC2086
aarch64-linux-gnu-gcc --sysroot="$root" "$here/app.c" $flags -o "$tmp/app"
file=$(cat "$root/opt/tavrel/VERSION")
check "a program built through pkg-config runs under tavrel-sim" "version $file, header $version, pin 17 1" \
    "$(sim --reset -- qemu-aarch64 -L "$root" "$tmp/app")"

mkdir "$tmp/cmake"
cp "$here/app.c" "$tmp/cmake/"
cat >"$tmp/cmake/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.18)
project(app C)
find_package(tavrel CONFIG REQUIRED)
add_executable(app app.c)
target_link_libraries(app PRIVATE tavrel::tavrel)
EOF
cmake -S "$tmp/cmake" -B "$tmp/cmake/build" -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=aarch64 \
    -DCMAKE_C_COMPILER=aarch64-linux-gnu-gcc -DCMAKE_SYSROOT="$root" -DCMAKE_FIND_ROOT_PATH="$root" \
    -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY \
    -DCMAKE_LIBRARY_ARCHITECTURE=aarch64-linux-gnu >"$tmp/cmake.log" 2>&1 &&
    cmake --build "$tmp/cmake/build" >>"$tmp/cmake.log" 2>&1 || { cat "$tmp/cmake.log"; status=1; }
check "a program built through find_package runs under tavrel-sim" "version $file" \
    "$(sim --reset -- qemu-aarch64 -L "$root" "$tmp/cmake/build/app" | cut -d, -f1)"

cat >"$tmp/led.py" <<'EOF'
from gpiozero import Device, LED
led = LED(17)
led.on()
print(type(Device.pin_factory).__name__, led.is_lit)
EOF
check "gpiozero on python3-tavrel's pin factory, with Debian 13's Python" "TavrelFactory True" \
    "$(sim --reset -- env GPIOZERO_PIN_FACTORY=tavrel qemu-aarch64 -L "$root" "$root/usr/bin/python3.13" "$tmp/led.py")"
[ $status -eq 0 ] || cat "$tmp/sim.err"
exit $status
