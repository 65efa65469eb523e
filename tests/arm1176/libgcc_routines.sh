#!/bin/sh
# SPDX-License-Identifier: MIT
# The ARMv6 runtime's libgcc routines against the host's: libgcc_routines.c
# built with the host's compiler and run here, and its ARMv6 build run on
# the ARM1176 model; the outputs must be equal, and the ARMv6 build must
# hold ARM-state ARMv6 code only.
# Usage: libgcc_routines.sh SOURCE ARMV6_PROGRAM CHECKER EMULATOR...
set -eu
source=$1 program=$2 checker=$3
shift 3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cc -std=gnu11 -O2 -o "$tmp/host" "$source"
"$tmp/host" >"$tmp/host.out"
"$@" "$program" >"$tmp/arm.out" 2>"$tmp/arm.err" || { cat "$tmp/arm.err"; exit 1; }
"$checker" "$program" >/dev/null
if ! cmp -s "$tmp/host.out" "$tmp/arm.out"; then
    echo "the ARMv6 runtime differs from the host's libgcc:"
    diff "$tmp/host.out" "$tmp/arm.out" | head -20
    exit 1
fi
echo "ok   $(wc -l <"$tmp/arm.out") results equal to the host's"
