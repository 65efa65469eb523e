#!/bin/sh
# SPDX-License-Identifier: MIT
# Loads a dump of the counter example into GTKWave, headless, and checks
# that it reads every signal without an error.
# Usage: gtkwave_load.sh TAVREL_SIM COUNTER_EXAMPLE
set -eu
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$1" --board "$tmp/board" --reset --vcd "$tmp/counter.vcd" -- "$2" 32
cat >"$tmp/load.tcl" <<'TCL'
set n [gtkwave::getNumFacs]
puts "signals: $n"
for {set i 0} {$i < $n} {incr i} { puts "signal [gtkwave::getFacName $i]" }
gtkwave::/File/Quit
TCL
timeout 120 xvfb-run -a gtkwave -S "$tmp/load.tcl" "$tmp/counter.vcd" >"$tmp/out" 2>&1 || true
if grep -qiE 'error|cannot|unable' "$tmp/out" || ! grep -q '^signals: 24$' "$tmp/out" ||
    ! grep -q '^signal gpio.gpio11_fn$' "$tmp/out"; then
    cat "$tmp/out"
    exit 1
fi
echo "GTKWave read $(grep -c '^signal ' "$tmp/out") signals from the counter dump"
