#!/bin/sh
# SPDX-License-Identifier: MIT
# Reads a dump of the counter example with sigrok-cli, PulseView's engine,
# and checks that it takes every signal, with no warning.
# Usage: sigrok_load.sh TAVREL_SIM COUNTER_EXAMPLE
set -eu
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$1" --board "$tmp/board" --reset --vcd "$tmp/counter.vcd" -- "$2" 32
declared=$(grep -c '^\$var ' "$tmp/counter.vcd")
# Log level 2: warnings and errors, each a line of its own.
sigrok-cli -l 2 -I vcd -i "$tmp/counter.vcd" -O csv >"$tmp/out" 2>&1 || { cat "$tmp/out"; exit 1; }
if grep -qE '^(sr|srd|cli): ' "$tmp/out" ||
    ! grep -q "^; Channels ($declared/$declared): gpio4, gpio4_fn2," "$tmp/out"; then
    grep -v '^[0-9]' "$tmp/out" | head -20
    exit 1
fi
echo "sigrok-cli read all $declared signals of the counter dump, with no warning"
