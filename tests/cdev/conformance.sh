#!/bin/sh
# SPDX-License-Identifier: MIT
# The character device's answers to the conformance program, on a fresh
# simulated board or on a virtual board, against conformance.expected:
# what Debian's rpi kernel answered on the virtual Pi Zero (its arm64
# kernel answers the same on the virtual Pi 3).
# Usage: conformance.sh sim TAVREL_SIM PROGRAM
#        conformance.sh pizero|pi3 "TAVREL_PIZERO_COMMAND" PROGRAM
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
case $1 in
sim) "$2" --board "$tmp/board" --reset -- "$3" >"$tmp/out" ;;
# shellcheck disable=SC2086
pizero | pi3) $2 run "$3" | sed '/^--- the pins after it ---$/,$d' >"$tmp/out" ;;
*) echo "usage: conformance.sh sim|pizero|pi3 COMMAND PROGRAM" >&2; exit 2 ;;
esac
grep -v "^#" "$here/conformance.expected" >"$tmp/expected"
if diff -u "$tmp/expected" "$tmp/out"; then
    echo "ok   the $1's GPIO character device answers as Debian's kernel does ($(wc -l <"$tmp/out") answers)"
else
    echo "FAIL the $1's GPIO character device answers otherwise than Debian's kernel (- kernel, + $1)"
    exit 1
fi
