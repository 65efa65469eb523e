#!/bin/sh
# SPDX-License-Identifier: MIT
# Counts the instructions each pin operation executes from entry to return
# with access open, barriers and the library's own calls included, in an
# ARMv6 or AArch64 release build: qemu runs bench/op_paths one instruction
# per block and logs every block it executes; each instruction of the
# library counts for the exported function last entered, and a function's
# count is shared out over its calls. On the Pi Zero's block, the Pi 4's
# pulls and the Pi 5's RP1.
# Usage: count_instructions.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
lib=$build/library/libtavrel.so
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

case $(readelf -h "$lib" | sed -n 's/^ *Machine: *//p') in
ARM) tools=arm-linux-gnueabihf- qemu="qemu-arm -L /usr/arm-linux-gnueabihf" ;;
AArch64) tools=aarch64-linux-gnu- qemu="qemu-aarch64 -L /usr/aarch64-linux-gnu" ;;
*) echo "count_instructions: an ARMv6 or AArch64 build, please" >&2; exit 2 ;;
esac

# Device trees naming the Pi Zero's block, the Pi 4's and the Pi 5's, as on
# a Pi: the chip is known at open.
for chip in bcm2835 bcm2711; do
    mkdir -p "$tmp/$chip/soc/gpio@7e200000"
    printf 'brcm,%s-gpio\000' $chip >"$tmp/$chip/soc/gpio@7e200000/compatible"
done
mkdir -p "$tmp/bcm2712/__symbols__" "$tmp/bcm2712/axi/pcie@120000/rp1/gpio@d0000"
printf '/axi/pcie@120000/rp1/gpio@d0000\000' >"$tmp/bcm2712/__symbols__/gpio"
printf 'raspberrypi,rp1-gpio\000' >"$tmp/bcm2712/axi/pcie@120000/rp1/gpio@d0000/compatible"

# run CHIP [MODE]: op_paths' trace on a fresh board of CHIP with its tree,
# the block plain memory (the default) or trapping each access (trap).
run() {
    rm -f "$tmp/trace" "$tmp/board"
    : >"$tmp/board"  # empty: made a fresh board at first use
    # shellcheck disable=SC2086
    [ "$1" = bcm2835 ] || $qemu "$build/sim/tavrel-sim" --board "$tmp/board" --soc "$1" pins >/dev/null
    # shellcheck disable=SC2086
    TAVREL_SIM_BOARD=$tmp/board TAVREL_SIM_MODE=${2:-plain} TAVREL_SIM_DEVICE_TREE=$tmp/$1 \
        QEMU_SET_ENV="LD_PRELOAD=$build/sim/libtavrel-sim.so" \
        $qemu -singlestep -d exec,nochain -D "$tmp/trace" "$build/bench/tavrel-op-paths" >"$tmp/address"
}
# The library's load address: where the program found tavrel_gpio_set_val.
entry=$("${tools}nm" "$lib" | awk '$3 == "tavrel_gpio_set_val" { print $1 }')
"${tools}nm" -S --defined-only "$lib" | awk '$3 == "T" || $3 == "t"' >"$tmp/symbols"
"${tools}nm" -D --defined-only "$lib" | awk '$2 == "T" { sub(/@.*/, "", $3); print $1, $3 }' >"$tmp/exports"
count() {
    loaded=$(sed -n '1s/^0x//p' "$tmp/address")
    # One executed instruction per Trace line: "Trace 0: 0x... [00000000/0001f1c4/...]".
    awk -v entry="$entry" -v loaded="$loaded" -v list="$1" -v suffix="$2" -v exports="$tmp/exports" '
        function hex(s,    i, c, v) {
            v = 0; s = tolower(s)
            for (i = 1; i <= length(s); i++) { c = index("0123456789abcdef", substr(s, i, 1)); v = v * 16 + c - 1 }
            return v
        }
        BEGIN { while ((getline line < exports) > 0) { split(line, f, " "); name[hex(f[1])] = f[2] } }
        FNR == NR { if (hex($1) < low || !low) low = hex($1); if (hex($1) + hex($2) > high) high = hex($1) + hex($2); next }
        /^Trace 0:/ {
            split($0, f, "/"); pc = hex(f[2]) - (hex(loaded) - hex(entry))
            if (pc < low || pc >= high) next
            if (pc in name) { op = name[pc]; calls[op]++ }
            if (op != "") n[op]++
        }
        END {
            nops = split(list, ops, " ")
            for (i = 1; i <= nops; i++)
                printf "%-24s %3d instructions%s\n", ops[i], calls[ops[i]] ? n[ops[i]] / calls[ops[i]] : 0, suffix
        }' "$tmp/symbols" "$tmp/trace"
}

ops="tavrel_gpio_set_val tavrel_gpio_get_val tavrel_gpio_config_io tavrel_gpio_set_alt tavrel_gpio_set_byte"
ops="$ops tavrel_gpio_get_byte tavrel_gpio_get_mode tavrel_gpio_set_pull tavrel_gpio_set_mask tavrel_gpio_get_all"
run bcm2835
count "$ops" ""
run bcm2711
count "tavrel_gpio_set_pull tavrel_gpio_get_pull" " (BCM2711)"
run bcm2712
count "$ops tavrel_gpio_get_pull" " (RP1)"
# An edge needs the board to see the pull change: a trapping run. Its poll
# and read, in the C library and the kernel, are not counted.
run bcm2835 trap
count "tavrel_gpio_edge_read" " in the library, an event waiting (poll, read and clock_gettime apart)"
