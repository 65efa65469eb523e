#!/bin/sh
# SPDX-License-Identifier: MIT
# Proves the access discipline on the built library as it runs: every
# access to the block has a full barrier before it, one between it and the
# next, and one after the last, before the operation returns.
#
# bench/op_paths runs under qemu-user one instruction per block, logging
# each instruction it executes, on the simulated board, whose trap logs the
# address of each instruction that accessed the block. The barriers are
# found by disassembling the library: the CP15 barrier on ARMv6
# (mcr p15, 0, rX, c7, c10, 5), dmb on ARMv7 and AArch64, a locked add or
# mfence on x86-64. Each call of an exported function, to the next, is
# one operation. On x86-64, where the fence is the costly part, an
# operation also has exactly one fence more than it has accesses.
# Usage: check_barriers.sh BUILD_DIR [LIBRARY]
#   LIBRARY, a libtavrel.so.1 to check instead of the build's own.
set -eu
build=$(cd "$1" && pwd)
lib=$build/library/libtavrel.so
libdir=""
if [ $# -ge 2 ]; then
    lib=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
    libdir=$(dirname "$lib")
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

machine=$(readelf -h "$lib" | sed -n 's/^ *Machine: *//p')
case $machine in
ARM)
    tools=arm-linux-gnueabihf- qemu="qemu-arm -L /usr/arm-linux-gnueabihf"
    barrier='^(mcr[ \t]+p?15, 0, [a-z0-9]+, cr7, cr10, .?5|dmb)'
    ;;
AArch64)
    tools=aarch64-linux-gnu- qemu="qemu-aarch64 -L /usr/aarch64-linux-gnu"
    barrier='^dmb'
    ;;
*X86-64*)
    tools="" qemu="qemu-x86_64"
    barrier='^(lock add|mfence)'
    ;;
*) echo "check_barriers: no check for $machine" >&2; exit 2 ;;
esac

# The library's executable code: instruction offsets, and which are barriers.
"${tools}objdump" -d --no-show-raw-insn "$lib" |
    awk -F'\t' '/^ *[0-9a-f]+:\t/ { a = $1; gsub(/[ :]/, "", a); i = $2; if (NF > 2) i = i " " $3; print a "\t" i }' \
        >"$tmp/code"
"${tools}nm" -D --defined-only "$lib" | awk '$2 == "T" { sub(/@.*/, "", $3); print $1 "\t" $3 }' >"$tmp/exports"
entry=$(awk -F'\t' '$2 == "tavrel_gpio_set_val" { print $1 }' "$tmp/exports")

preload="LD_PRELOAD=$build/sim/libtavrel-sim.so"
[ -n "$libdir" ] && preload="$preload,LD_LIBRARY_PATH=$libdir"
exact=0
case $machine in *X86-64*) exact=1 ;; esac

# Device trees naming the Pi 4's block and the Pi 5's, for the later runs.
mkdir -p "$tmp/tree/soc/gpio@7e200000" "$tmp/pi5/__symbols__" "$tmp/pi5/axi/pcie@120000/rp1/gpio@d0000"
printf 'brcm,bcm2711-gpio\000' >"$tmp/tree/soc/gpio@7e200000/compatible"
printf '/axi/pcie@120000/rp1/gpio@d0000\000' >"$tmp/pi5/__symbols__/gpio"
printf 'raspberrypi,rp1-gpio\000' >"$tmp/pi5/axi/pcie@120000/rp1/gpio@d0000/compatible"

# check NAME TREE EXEMPT [SOC]: runs op_paths with the device tree TREE (""
# for none) on a fresh board of chip SOC and checks every operation it
# calls; EXEMPT may make no access there.
check() {
    echo "$1:"
    rm -f "$tmp/board" "$tmp/pcs" "$tmp/trace"
    : >"$tmp/board"  # empty: made a fresh board at first use
    if [ $# -ge 4 ]; then
        # shellcheck disable=SC2086
        $qemu "$build/sim/tavrel-sim" --board "$tmp/board" --soc "$4" pins >/dev/null
    fi
    # shellcheck disable=SC2086
    TAVREL_SIM_BOARD=$tmp/board TAVREL_SIM_PC_LOG=$tmp/pcs TAVREL_SIM_DEVICE_TREE=$2 QEMU_SET_ENV="$preload" \
        $qemu -singlestep -d exec,nochain -D "$tmp/trace" "$build/bench/tavrel-op-paths" >"$tmp/address" || {
        echo "FAIL bench/op_paths did not run on the simulated board"
        exit 1
    }
    [ -s "$tmp/pcs" ] || { echo "FAIL the simulated board trapped no access"; exit 1; }
    awk -F'\t' -v exact=$exact -v entry="$entry" -v loaded="$(sed -n '1s/^0x//p' "$tmp/address")" -v barrier="$barrier" \
        -v code="$tmp/code" -v exports="$tmp/exports" -v exempt="$3" -v pcs="$tmp/pcs" '
        function hex(s,    i, v) {
            v = 0; s = tolower(s); sub(/^0x/, "", s)
            for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
            return v
        }
        function show(off) { return sprintf("0x%x: %s", off, text[off]) }
        function fail(what, off) {
            if (!failed) first = sprintf("FAIL %s: %s at %s", op, what, show(off))
            failed = 1; bad[n]++
        }
        function finish() {
            if (op == "") return
            # Edge events are the kernel'"'"'s: their functions touch no register.
            edge = op ~ /^tavrel_gpio_edge_/
            if (edge && accesses) fail("a register access in an edge-event function", last)
            if (accesses && !pending) fail("no barrier after the last access", last)
            if (exact && accesses && barriers != accesses + 1)
                fail(sprintf("%d fences for %d accesses, not one more", barriers, accesses), last)
            printf "%-4s %-30s %2d accesses, %2d barriers\n", bad[n] ? "FAIL" : "ok", op, accesses, barriers
            if (!accesses && !edge && op != "tavrel_gpio_deinit" && op != exempt) { missing = missing " " op }
        }
        BEGIN {
            base = hex(loaded) - hex(entry)
            while ((getline line < code) > 0) {
                split(line, f, "\t"); off = hex(f[1]); text[off] = f[2]
                if (f[2] ~ barrier) is_barrier[off] = 1
            }
            while ((getline line < exports) > 0) { split(line, f, "\t"); name[hex(f[1])] = f[2] }
            while ((getline line < pcs) > 0) is_access[hex(line) - base] = 1
        }
        # "Trace CPU: 0xHOST [CS_BASE/PC/FLAGS/...] ...": the main thread only.
        /^Trace 0:/ {
            split($0, f, "/"); off = hex(f[2]) - base
            if (!(off in text)) next
            if (off in name) { finish(); n++; op = name[off]; accesses = barriers = 0; pending = 0 }
            if (op == "") next
            if (off in is_barrier) { barriers++; pending = 1 }
            if (off in is_access) {
                if (!pending) fail(accesses ? "no barrier since the previous access" : "no barrier before the first access", off)
                accesses++; pending = 0; last = off
            }
        }
        END {
            finish()
            if (missing != "") { print "FAIL no access seen in" missing; failed = 1 }
            if (failed) { if (first) print first; exit 1 }
        }' "$tmp/trace"
}

# No tree: the first pull operation reads the block to tell the chip (a
# BCM2835 here, which cannot read a pull back); then the BCM2711's paths.
check "no device tree, the block read" "" tavrel_gpio_get_pull
check "the BCM2711's pull controls" "$tmp/tree" ""
check "the Pi 5's RP1" "$tmp/pi5" "" bcm2712
