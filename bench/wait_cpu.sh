#!/bin/sh
# SPDX-License-Identifier: MIT
# CPU time of the two button examples over 10 s of waiting for a press on
# the simulated board: the polling one (button) and the event-driven one
# (button_events). Reads the CPU time of the example's threads (the
# simulated board's own among them) from /proc, in nanoseconds, at 1 s,
# once it has started, and 10 s later. A benchmark: it prints figures and
# asserts nothing.
# Usage: wait_cpu.sh BUILD_DIR [SECONDS]
set -eu
build=$(cd "$1" && pwd)
seconds=${2:-10}

# cpu_ns PID: the CPU time of its threads, in nanoseconds.
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ t += $1 } END { printf "%.0f\n", t }'; }

for name in button button_events; do
    program=$build/examples/tavrel-example-$name
    "$build/sim/tavrel-sim" -- "$program" >/dev/null &
    sim=$!
    sleep 1
    pid=$(pgrep -n -f "^$program") || { echo "$name did not start"; kill $sim; exit 1; }
    before=$(cpu_ns "$pid")
    sleep "$seconds"
    after=$(cpu_ns "$pid")
    kill -TERM "$pid"
    wait $sim || true
    awk -v n="$name" -v t=$((after - before)) -v s="$seconds" \
        'BEGIN { printf "%-14s %9.6f s of CPU in %d s waiting: %7.4f %% of a core\n", n, t / 1e9, s, 100 * t / 1e9 / s }'
done
