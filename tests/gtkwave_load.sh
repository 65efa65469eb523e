#!/bin/sh
# SPDX-License-Identifier: MIT
# Loads a dump of the counter example into GTKWave, headless, and checks
# that it reads every signal without an error; then with the save file of
# --gtkw, that it shows the pins' functions by name.
# Usage: gtkwave_load.sh TAVREL_SIM COUNTER_EXAMPLE
set -eu
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$1" --board "$tmp/board" --reset --vcd "$tmp/counter.vcd" --gtkw "$tmp/counter.gtkw" -- "$2" 32
cat >"$tmp/load.tcl" <<'TCL'
set n [gtkwave::getNumFacs]
puts "signals: $n"
for {set i 0} {$i < $n} {incr i} { puts "signal [gtkwave::getFacName $i]" }
gtkwave::/File/Quit
TCL
timeout 120 xvfb-run -a gtkwave -S "$tmp/load.tcl" "$tmp/counter.vcd" >"$tmp/out" 2>&1 || true
if grep -qiE 'error|cannot|unable' "$tmp/out" || ! grep -q '^signals: 48$' "$tmp/out" ||
    ! grep -q '^signal gpio.gpio11_fn0$' "$tmp/out"; then
    cat "$tmp/out"
    exit 1
fi
echo "GTKWave read $(grep -c '^signal ' "$tmp/out") signals from the counter dump"

# Just after the first change, when the example has made pin 4 an output.
first=$(sed -n 's/^#\([0-9][0-9]*\)$/\1/p' "$tmp/counter.vcd" | sed -n 2p)
cat >"$tmp/names.tcl" <<TCL
gtkwave::setMarker $((first + 1))
set n [gtkwave::getTotalNumTraces]
for {set i 0} {\$i < \$n} {incr i} { puts "trace [gtkwave::getTraceNameFromIndex \$i] = [gtkwave::getTraceValueAtMarkerFromIndex \$i]" }
gtkwave::/File/Quit
TCL
timeout 120 xvfb-run -a gtkwave -S "$tmp/names.tcl" "$tmp/counter.vcd" "$tmp/counter.gtkw" >"$tmp/out" 2>&1 || true
if ! grep -q '^trace gpio4_fn = output$' "$tmp/out" || ! grep -q '^trace gpio11_pull = off$' "$tmp/out"; then
    cat "$tmp/out"
    exit 1
fi
echo "GTKWave shows the functions and pulls by name with the --gtkw save file"
