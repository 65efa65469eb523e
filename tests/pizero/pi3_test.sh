#!/bin/sh
# SPDX-License-Identifier: MIT
# tavrel-pizero --model 3b as a user drives it: the guest is a 64-bit Pi 3,
# a command of the guest's own runs by its name, an AArch64 program from
# here runs and its pins are shown after it, a program of another
# architecture or an unknown model is refused before any boot, and the
# status comes back even when the payload's last line has no newline.
# Usage: pi3_test.sh BUILD_DIR   (an AArch64 release build)
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/check.sh"
build=$1
pi3() { sh "$here/../../pizero/tavrel-pizero.sh" --model 3b --build "$build" "$@" 2>/dev/null; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

check "a command of the guest's own runs on a 64-bit board" aarch64 "$(pi3 run uname -m | head -n 1)"

out=$(pi3 run "$build/examples/tavrel-example-blink" 17 3 10)
check "an AArch64 program from here runs, and its status comes back" 0 "$?"
check "its output, then the pin table, pin 17 put back" "blinked pin 17 3 times|--- the pins after it ---|GPIO 17: input lo pull unknown" \
    "$(printf '%s\n' "$out" | grep -x 'blinked.*\|---.*\|GPIO 17: .*' | paste -sd '|')"

out=$(sh "$here/../../pizero/tavrel-pizero.sh" --model 3b --build "$build" run /bin/true 2>&1)
check "a program of the host's architecture is refused, saying why" \
    "tavrel-pizero: /bin/true: not a 64-bit ARM (AArch64) program 1" "$out $?"
out=$(sh "$here/../../pizero/tavrel-pizero.sh" --model 2 run /bin/true 2>&1)
check "an unknown model is refused, naming the models" \
    "tavrel-pizero: --model 2: the models are zero (the default) and 3b 2" "$out $?"

printf 'printf "no newline"\nexit 3\n' >"$scratch/payload.sh"
out=$(pi3 script "$scratch/payload.sh")
check "a payload's last line without its newline, and its status" "no newline 3" "$out $?"
checks_done
