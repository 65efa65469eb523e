#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs the unmodified ARMv6 release binaries on qemu's ARM1176 model, on
# the virtual Pi Zero's glibc (built for the ARM1176, as the board's C
# library): the tool's usage and error paths, and setting pins' functions
# in the plain simulated block.
# Usage: smoke.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
glibc=$(sh "$here/../../pizero/build-glibc.sh") || {
    echo "building glibc for the ARM1176 failed"
    exit 1
}
tool=$build/tool/tavrel-gpio_mode
shim=$build/sim/libtavrel-sim.so
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0 passed=0

loader() { qemu-arm -cpu arm1176 "$glibc/lib/ld-linux-armhf.so.3" --library-path "$glibc/lib/arm-linux-gnueabihf" "$@"; }
arm1176() { loader "$@"; }
# The same with the simulated board's shim preloaded in the guest.
arm1176_sim() { loader --preload "$shim" "$@"; }

# check NAME STATUS STDOUT STDERR -- COMMAND...: STDERR is a pattern, or empty
# for no error output.
check() {
    name=$1 want_status=$2 want_out=$3 want_err=$4
    shift 5
    status=0
    "$@" >"$tmp/out" 2>"$tmp/err" || status=$?
    if [ -z "$want_err" ]; then err_ok=$([ -s "$tmp/err" ] && echo no || echo yes)
    else err_ok=$(grep -q -- "$want_err" "$tmp/err" && echo yes || echo no); fi
    if [ "$status" = "$want_status" ] && [ "$(cat "$tmp/out")" = "$want_out" ] && [ "$err_ok" = yes ]; then
        echo "ok   $name"
        passed=$((passed + 1))
    else
        echo "FAIL $name: status $status, stdout [$(cat "$tmp/out")], stderr [$(cat "$tmp/err")]"
        failures=$((failures + 1))
    fi
}

# Function-select code of a pin, read from the board file's register page.
fsel() {
    word=$(od -An -tu4 -j $(($1 / 10 * 4)) -N4 "$tmp/board" | tr -d ' ')
    echo $(((word >> (3 * ($1 % 10))) & 7))
}

usage='Usage:'
check "usage without arguments" 1 "" "$usage" -- arm1176 "$tool"
check "usage for -p with -f and -o" 1 "" "$usage" -- arm1176 "$tool" -p 4 -f 2 -o
check "missing option argument" 1 "" "p" -- arm1176 "$tool" -p
check "pin out of range" 1 "" "out of range (0 to 59)" -- arm1176 "$tool" -p 60 -o
check "no device" 1 "gpio open failed" "Failed to initialise GPIO access." -- arm1176 "$tool" -p 4 -o

: >"$tmp/board"  # empty: made a fresh board at first use
export TAVREL_SIM_BOARD="$tmp/board" TAVREL_SIM_MODE=plain
check "alternate function" 0 "Set pin 18 to alternative-function 5" "" -- \
    arm1176_sim "$tool" -p 18 -f 5
check "output" 0 "Set pin 4 to output" "" -- arm1176_sim "$tool" -p 4 -o
check "input" 0 "Set pin 53 to input" "" -- arm1176_sim "$tool" -p 53 -i
for expect in "18 2" "4 1" "53 0"; do
    set -- $expect
    if [ "$(fsel "$1")" = "$2" ]; then
        echo "ok   pin $1 reads back function-select code $2"
        passed=$((passed + 1))
    else
        echo "FAIL pin $1 reads back $(fsel "$1"), not $2"
        failures=$((failures + 1))
    fi
done
echo "arm1176: $passed passed, $failures failed"
[ "$failures" = 0 ]
