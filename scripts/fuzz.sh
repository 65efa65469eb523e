#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets with clang and runs each for a bounded time
# from the seed corpus in fuzz/corpus. Any crash, leak or sanitizer report
# fails the run.
# Usage: fuzz.sh [SECONDS_PER_TARGET]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVREL_FUZZ=ON \
    -DTAVREL_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target version_fuzz tool_fuzz >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in version tool; do
    mkdir -p "$work/$target"
    if ! build-fuzz/fuzz/${target}_fuzz -close_fd_mask=3 -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/" "$work/$target" "fuzz/corpus/$target" >"$work/$target.log" 2>&1; then
        tail -n 40 "$work/$target.log"
        for crash in "$work"/crash-* "$work"/leak-*; do
            [ -f "$crash" ] && { echo "input:"; od -c "$crash" | head -n 8; }
        done
        echo "fuzz target $target FAILED"
        exit 1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log")
    echo "fuzz target $target: $runs runs in $seconds s, no crash, leak or sanitizer report"
done
