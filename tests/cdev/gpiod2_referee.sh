#!/bin/sh
# SPDX-License-Identifier: MIT
# Debian 13's libgpiod 2 tools refereed by a real kernel: the same commands
# (gpiod2_referee.steps) on the virtual Pi 3, Debian's arm64 kernel, with
# the tools of a Debian 13 arm64 root run by that root's loader, and under
# tavrel-sim with those of a Debian 13 amd64 root; the answers must agree.
# QEMU's board raises no GPIO interrupt and models no pulls, so the steps
# watch no edges and read only a line pulled down at reset (17).
# Usage: gpiod2_referee.sh TAVREL_SIM AMD64_ROOT ARM64_ROOT "PI3_COMMAND"
set -eu
sim=$1 root=$2 arm=$3 pi3=$4
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Tool paths differ on the two sides: messages keep the tool's name only.
tidy() { sed 's|[^ ]*/\(gpio[a-z]*\):|\1:|; s/[[:space:]]\{1,\}/ /g; s/ $//'; }

lib=$root/usr/lib/x86_64-linux-gnu
g() { "$sim" --board "$tmp/board" -- "$lib/ld-linux-x86-64.so.2" --library-path "$lib" "$root/usr/bin/$@"; }
hold() {
    tool=$1
    shift
    "$sim" --board "$tmp/board" -- "$lib/ld-linux-x86-64.so.2" --library-path "$lib" "$root/usr/bin/$tool" "$@" &
    holder=$!
}
held() { "$sim" --board "$tmp/board" wait "$1" held --timeout 30000; }
"$sim" --board "$tmp/board" --reset -- true
(set +e && . "$here/gpiod2_referee.steps") 2>&1 | tidy >"$tmp/sim"

alib=$arm/usr/lib/aarch64-linux-gnu
set --
for f in "$alib/ld-linux-aarch64.so.1" "$alib/libc.so.6" "$alib/libgpiod.so.3" \
    "$arm"/usr/bin/gpiodetect "$arm"/usr/bin/gpioinfo "$arm"/usr/bin/gpioget "$arm"/usr/bin/gpioset; do
    set -- "$@" --with "$f"
done
{
    echo 'g() { tool=$1; shift; /run/ld-linux-aarch64.so.1 --library-path /run "/run/$tool" "$@"; }'
    echo 'hold() { tool=$1; shift; /run/ld-linux-aarch64.so.1 --library-path /run "/run/$tool" "$@" & holder=$!; }'
    echo 'held() { i=0; while [ $i -lt 300 ] && ! g gpioinfo -c 0 "$1" | grep -q consumer; do sleep 0.1; i=$((i + 1)); done; }'
    cat "$here/gpiod2_referee.steps"
} >"$tmp/payload"
# shellcheck disable=SC2086
$pi3 "$@" script "$tmp/payload" 2>"$tmp/pi3.err" | tidy >"$tmp/kernel" || { cat "$tmp/pi3.err"; exit 1; }
if diff -u "$tmp/kernel" "$tmp/sim"; then
    echo "ok   Debian 13's gpiod tools answer under tavrel-sim as on Debian's kernel ($(grep -c '^==' "$tmp/sim") steps)"
else
    echo "FAIL Debian 13's gpiod tools answer otherwise under tavrel-sim (- kernel, + tavrel-sim)"
    exit 1
fi
