#!/bin/sh
# SPDX-License-Identifier: MIT
# Run inside a virtual board (pizero/tavrel-pizero.sh script), with the
# release packages installed and the examples, the fork check and the
# shell tests' check.sh in /run: the registers are read with busybox's
# devmem, apart from the library.
# Prints a line per check and "N passed, M failed"; exits 1 on a failure.
# The block sits at bus address 0x7e200000: its physical address is where
# the device tree's soc ranges put the peripherals (0x20000000 on the
# BCM2835, 0x3f000000 on the BCM2837).
base=$((0x$(od -An -tx1 -j4 -N4 /proc/device-tree/soc/ranges | tr -d ' \n') + 0x200000))
. /run/check.sh

word() { devmem $((base + 4 * $1)) 32; }
fsel() { echo $((($(word $(($1 / 10))) >> (3 * ($1 % 10))) & 7)); }

# The tool, on a pin of each of the six function-select words.
codes="4 5 6 7 3 2" # alt0 .. alt5
for pin in 3 17 24 36 45 53; do
    f=0
    for code in $codes; do
        out=$(tavrel-gpio_mode -p $pin -f $f)
        check "pin $pin alt$f: reply, and code $code in GPFSEL$((pin / 10))" \
            "Set pin $pin to alternative-function $f $code" "$out $(fsel $pin)"
        f=$((f + 1))
    done
    tavrel-gpio_mode -p $pin -o >/dev/null
    check "pin $pin -o makes an output" 1 "$(fsel $pin)"
    tavrel-gpio_mode -p $pin -i >/dev/null
    check "pin $pin -i makes an input" 0 "$(fsel $pin)"
done

# Function numbers outside 0 to 5 are clamped; the reply keeps the number.
check "-f 9 is alt5" "Set pin 22 to alternative-function 9 2" "$(tavrel-gpio_mode -p 22 -f 9) $(fsel 22)"
check "-f -3 is alt0" "Set pin 22 to alternative-function -3 4" "$(tavrel-gpio_mode -p 22 -f -3) $(fsel 22)"

# Only the pin's own field changes.
tavrel-gpio_mode -p 10 -o >/dev/null
tavrel-gpio_mode -p 19 -f 3 >/dev/null
before=$(word 1)
tavrel-gpio_mode -p 14 -f 1 >/dev/null
mask=$((~(7 << 12) & 0xFFFFFFFF))
check "setting pin 14 leaves the rest of GPFSEL1" $((before & mask)) $(($(word 1) & mask))

# The library puts back at exit the pins 0 to 29 it changed, and only them.
tavrel-gpio_mode -p 17 -i >/dev/null
tavrel-gpio_mode -p 12 -f 0 >/dev/null
out=$(/run/tavrel-example-blink 17 2 10)
check "blink runs, and pin 17 is an input again after it" "blinked pin 17 2 times 0" "$out $(fsel 17)"
check "a pin blink never touched keeps its function" 4 "$(fsel 12)"
for p in 4 5 6 7 8 9 10 11; do tavrel-gpio_mode -p $p -i >/dev/null; done
tavrel-gpio_mode -p 9 -f 2 >/dev/null
/run/tavrel-example-counter 16 >/dev/null
check "counter's pins 4 to 11 are put back (pin 9 to alt2)" "0 0 0 0 0 6 0 0" \
    "$(for p in 4 5 6 7 8 9 10 11; do printf '%s ' "$(fsel $p)"; done | sed 's/ $//')"
# QEMU's model reads an input back at its output latch's level.
devmem $((base + 0x28)) 32 0xFF0
check "read_byte reads pins 4 to 11, their latches clear" "pins 4 to 11: 0x00" "$(/run/tavrel-example-read_byte)"
devmem $((base + 0x1C)) 32 0x5A0
check "read_byte reads them with latches 0x5a" "pins 4 to 11: 0x5a" "$(/run/tavrel-example-read_byte)"
devmem $((base + 0x28)) 32 0xFF0

# SIGTERM with the listener: status 0, pins put back; under a real kernel.
for example in wait_quit button; do
    tavrel-gpio_mode -p 17 -i >/dev/null
    /run/tavrel-example-$example >/dev/null &
    pid=$!
    for i in 1 2 3 4 5 6 7 8 9 10; do [ "$(fsel 17)" = 1 ] && break; sleep 0.2; done
    check "$example makes pin 17 an output" 1 "$(fsel 17)"
    kill -TERM $pid
    wait $pid
    check "$example ends on SIGTERM with status 0 and puts pin 17 back" "0 0" "$? $(fsel 17)"
done

# A forked child leaves the parent's pins alone.
check "fork: the child's exit leaves the parent's pins" "parent pin 7 output, child's pin 8 put back" \
    "$(/run/tavrel-pizero-fork-check)"

# The other tools on the real kernel.
out=$(tavrel-gpio_pull -p 4 -u)
check "tavrel-gpio_pull" "Set pin 4 pull-up 0" "$out $?"
tavrel-gpio_mode -p 18 -f 5 >/dev/null
check "tavrel-gpio_state reads pin 18 as alt5" "GPIO 18: alt5 lo pull unknown" "$(tavrel-gpio_state -p 18)"
# The chip is the device tree's: QEMU's block reads word 60 as 0, which
# the block's own test would take for a BCM2711.
# The Pi Zero's tree names the node by a symbol; Debian's arm64 one has no
# symbols, and the library takes the node where the trees put it.
node=/soc/gpio@7e200000
[ -e /proc/device-tree/__symbols__/gpio ] && node=$(tr -d '\000' </proc/device-tree/__symbols__/gpio)
check "the kernel's device tree names the BCM2835's block" "/soc/gpio@7e200000 brcm,bcm2835-gpio " \
    "$node $(tr '\000' ' ' </proc/device-tree$node/compatible)"
out=$(tavrel-gpio_pull -p 54 -u 2>&1)
check "tavrel-gpio_pull knows a BCM2835 by it" "Pin 54 is out of range (0 to 53). 1" "$out $?"
check "the version file of the package" "$(cat /opt/tavrel/VERSION)" "$(cat /opt/tavrel/VERSION | grep -x '[0-9]*\.[0-9][0-9][A-Z]')"

# Edge events through Debian's kernel, on the real pinctrl-bcm2835 chip.
# QEMU raises no GPIO interrupt, so no edge ever comes: the waits time out.
# The first wait's 10 s leave an emulated, loaded machine time to start it
# and then the second.
tavrel-gpio_mode -p 21 -o >/dev/null
tavrel-gpio_wait -p 21 -t 10000 >/dev/null 2>&1 &
pid=$!
i=0
while [ "$(fsel 21)" != 0 ] && [ $i -lt 40 ]; do sleep 0.2; i=$((i + 1)); done
check "tavrel-gpio_wait's request makes pin 21 an input" 0 "$(fsel 21)"
out=$(tavrel-gpio_wait -p 21 -t 10 2>&1)
check "a second process gets EBUSY" \
    "tavrel-gpio_wait: cannot watch the pins: Device or resource busy (another program holds one of the pins) 1" \
    "$out $?"
wait $pid
check "the tool exits 3 at its time-out, the pin left an input" "3 0" "$? $(fsel 21)"

checks_done
