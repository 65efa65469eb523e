#!/bin/sh
# SPDX-License-Identifier: MIT
# CPU time of the two button examples over 10 s of waiting for a press on
# the simulated board: the polling one (button) and the event-driven one
# (button_events). Reads the example process's user and system time from
# /proc at 1 s, once it has started, and 10 s later. A benchmark: it
# prints figures and asserts nothing.
# Usage: wait_cpu.sh BUILD_DIR [SECONDS]
set -eu
build=$(cd "$1" && pwd)
seconds=${2:-10}
tick=$(getconf CLK_TCK)

# cpu_ticks PID: its utime + stime, in clock ticks.
cpu_ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"; }

for name in button button_events; do
    program=$build/examples/tavrel-example-$name
    "$build/sim/tavrel-sim" -- "$program" >/dev/null &
    sim=$!
    sleep 1
    pid=$(pgrep -n -f "^$program") || { echo "$name did not start"; kill $sim; exit 1; }
    before=$(cpu_ticks "$pid")
    sleep "$seconds"
    after=$(cpu_ticks "$pid")
    kill -TERM "$pid"
    wait $sim || true
    awk -v n="$name" -v t=$((after - before)) -v hz="$tick" -v s="$seconds" \
        'BEGIN { printf "%-14s %6.2f s of CPU in %d s waiting: %6.3f %% of a core\n", n, t / hz, s, 100 * t / hz / s }'
done
