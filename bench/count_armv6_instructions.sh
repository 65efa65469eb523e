#!/bin/sh
# SPDX-License-Identifier: MIT
# Counts the ARMv6 instructions each pin operation executes from entry to
# return with access open, barriers included, in the release build: qemu
# runs bench/op_paths one instruction per block and logs every block it
# executes; the program counters inside each function are counted.
# Usage: count_armv6_instructions.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
lib=$build/library/libtavrel.so
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
: >"$tmp/board"  # empty: made a fresh board at first use

# Device trees naming the Pi Zero's block and the Pi 4's, as on a Pi: the
# chip is known at open.
for chip in bcm2835 bcm2711; do
    mkdir -p "$tmp/$chip/soc/gpio@7e200000"
    printf 'brcm,%s-gpio\000' $chip >"$tmp/$chip/soc/gpio@7e200000/compatible"
done

# run TREE [MODE]: op_paths' trace, with the device tree TREE, on the board
# as plain memory (the default) or trapping each access (trap).
run() {
    rm -f "$tmp/trace"
    TAVREL_SIM_BOARD=$tmp/board TAVREL_SIM_MODE=${2:-plain} TAVREL_SIM_DEVICE_TREE=$1 \
        QEMU_SET_ENV="LD_PRELOAD=$build/sim/libtavrel-sim.so" \
        qemu-arm -L /usr/arm-linux-gnueabihf -singlestep -d exec,nochain -D "$tmp/trace" \
        "$build/bench/tavrel-op-paths" >"$tmp/address"
}
# The library's load address: where the program found tavrel_gpio_set_val.
entry=$(arm-linux-gnueabihf-nm "$lib" | awk '$3 == "tavrel_gpio_set_val" { print $1 }')
arm-linux-gnueabihf-nm -S --defined-only "$lib" | awk '$3 == "T" || $3 == "t"' >"$tmp/symbols"
count() {
    loaded=$(sed -n '1s/^0x//p' "$tmp/address")
    # One executed instruction per Trace line: "Trace 0: 0x... [00000000/0001f1c4/...]".
    awk -v entry="$entry" -v loaded="$loaded" -v list="$1" -v suffix="$2" '
        function hex(s,    i, c, v) {
            v = 0; s = tolower(s)
            for (i = 1; i <= length(s); i++) { c = index("0123456789abcdef", substr(s, i, 1)); v = v * 16 + c - 1 }
            return v
        }
        FNR == NR { start[$4] = hex($1); size[$4] = hex($2); next }
        /^Trace/ {
            split($0, f, "/"); pc = hex(f[2])
            pc -= hex(loaded) - hex(entry)
            for (s in start) if (pc >= start[s] && pc < start[s] + size[s]) { n[s]++; break }
        }
        END {
            nops = split(list, ops, " ")
            calls["tavrel_gpio_set_val"] = 2
            # "a+b+c": a, with the local functions it calls.
            for (i = 1; i <= nops; i++) {
                parts = split(ops[i], part, "+"); total = 0
                for (j = 1; j <= parts; j++) total += n[part[j]]
                c = calls[part[1]] ? calls[part[1]] : 1; printf "%-24s %3d instructions%s\n", part[1], total / c, suffix
            }
        }' "$tmp/symbols" "$tmp/trace"
}

run "$tmp/bcm2835"
count "tavrel_gpio_set_val tavrel_gpio_get_val tavrel_gpio_config_io tavrel_gpio_set_alt tavrel_gpio_set_byte tavrel_gpio_get_byte tavrel_gpio_get_mode tavrel_gpio_set_pull tavrel_gpio_set_mask tavrel_gpio_get_all" ""
run "$tmp/bcm2711"
count "tavrel_gpio_set_pull tavrel_gpio_get_pull" " (BCM2711)"
# An edge needs the board to see the pull change: a trapping run. Its poll
# and read, in the C library and the kernel, are not counted.
run "$tmp/bcm2835" trap
count "tavrel_gpio_edge_read+_ZN6tavrel12_GLOBAL__N_111take_eventsEiP17tavrel_edge_eventi+_ZN6tavrel12monotonic_nsEv+_ZN6tavrel12remaining_msEx" \
    " in the library, an event waiting (poll, read and clock_gettime apart)"
