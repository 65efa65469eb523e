#!/bin/sh
# SPDX-License-Identifier: MIT
# Debian's gpiod tools and python3-libgpiod, unmodified, under tavrel-sim:
# they find the chip, name its lines, set and read them, see who holds a
# line, leave a released line an input, and watch a line's edges, as on a
# Pi Zero; and on a Pi 5 board, as its kernel's pinctrl-rp1 does.
# Usage: gpiod_tools.sh TAVREL_SIM
set -u
sim=$1
tmp=$(mktemp -d)
trap 'kill $holder 2>/dev/null; rm -rf "$tmp"' EXIT
holder=""
. "$(dirname "$0")/../support/check.sh"
on() { "$sim" --board "$tmp/board" -- "$@" 2>&1; }
pin() { "$sim" --board "$tmp/board" pins | awk -v p="$1" '$1 == p { print $2, $3 }'; }
# Waits (30 s at most) until LINE shows held by CONSUMER: its request is then
# wholly made, edge detection and all.
held_by() {
    i=0
    until "$sim" --board "$tmp/board" pins | awk -v p="$1" '$1 == p' | grep -q "held by \"$2\"" ||
        [ $i -ge 300 ]; do
        sleep 0.1
        i=$((i + 1))
    done
}
# gpiomon's two events on pin 4, pressed and released while it watches,
# into $tmp/mon.
press_pin_4() {
    "$sim" --board "$tmp/board" drive 4=0
    "$sim" --board "$tmp/board" -- gpiomon --num-events=2 --format="%e %o" gpiochip0 4 >"$tmp/mon" 2>&1 &
    holder=$!
    held_by 4 gpiomon
    "$sim" --board "$tmp/board" drive 4=1
    "$sim" --board "$tmp/board" drive 4=0
    wait $holder
    holder=""
}
for tool in gpiodetect gpioinfo gpioget gpioset gpiofind gpiomon; do
    command -v $tool >/dev/null || { echo "FAIL $tool is missing: apt-get install gpiod"; exit 1; }
done
"$sim" --board "$tmp/board" --reset -- true

check "gpiodetect finds the chip" "gpiochip0 [pinctrl-bcm2835] (54 lines)" "$(on gpiodetect)"
check "gpioinfo names the lines as the Pi Zero's device tree does" \
    "line 17: \"GPIO17\" unused input active-high" "$(on gpioinfo | grep 'line  17:' | tr -s ' \t' ' ' | sed 's/^ //; s/ $//')"
check "gpiofind finds a line by name" "gpiochip0 47" "$(on gpiofind STATUS_LED_N)"
check "ls and stat see a character device, 254:0" "gpiochip0 character special file 254 0" \
    "$(on ls /dev | grep -x gpiochip0) $(on stat -c '%F %Hr %Lr' /dev/gpiochip0)"

"$sim" --board "$tmp/board" drive 17=1
check "gpioget reads a driven input" "1" "$(on gpioget gpiochip0 17)"
"$sim" --board "$tmp/board" drive 17=0
check "and again when it is driven low" "0" "$(on gpioget gpiochip0 17)"

check "--changes shows the kernel's effects: output while held, input after" \
    "pin 17: input -> output -> input, 2 level changes" \
    "$("$sim" --board "$tmp/board" --changes -- gpioset gpiochip0 17=1 2>&1 | grep '^pin 17:')"

# gpioset holds its lines until a signal.
"$sim" --board "$tmp/board" -- gpioset --mode=signal gpiochip0 20=1 21=0 &
holder=$!
held_by 21 gpioset
check "gpioset makes its lines outputs at their levels" "output 1 output 0" "$(pin 20) $(pin 21)"
check "gpioinfo shows the line held, with its consumer" "line 20: \"GPIO20\" \"gpioset\" output active-high [used]" \
    "$(on gpioinfo | grep 'line  20:' | tr -s ' \t' ' ' | sed 's/^ //; s/ $//')"
check "tavrel-sim pins names the line's holder" 'held by "gpioset"' \
    "$("$sim" --board "$tmp/board" pins | awk '$1 == 20' | grep -o 'held by "gpioset"')"
check "another process cannot take a held line" "gpioget: error reading GPIO values: Device or resource busy" \
    "$(on gpioget gpiochip0 20)"
kill -TERM $holder
wait $holder
holder=""
check "the kernel's release leaves the lines inputs" "input 0 input 0" "$(pin 20) $(pin 21)"

# gpiomon prints the edges of a button pressed with tavrel-sim drive.
press_pin_4
check "gpiomon prints a press and a release driven live" "1 4 0 4" "$(tr '\n' ' ' <"$tmp/mon" | sed 's/ $//')"

cat >"$tmp/line.py" <<'PY'
import gpiod
chip = gpiod.Chip("gpiochip0")
line = chip.get_line(18)
line.request(consumer="python", type=gpiod.LINE_REQ_DIR_OUT, default_vals=[1])
print(chip.label(), line.name(), line.consumer(), line.is_used(), line.get_value())
PY
check "python3-libgpiod requests and reads a line" "pinctrl-bcm2835 GPIO18 python True 1" \
    "$(on /usr/bin/python3 "$tmp/line.py")"

# A Pi 5: the RP1's lines, through the same tools.
"$sim" --board "$tmp/board" --soc bcm2712 -- true
check "a Pi 5 board's chip is the RP1's" "gpiochip0 [pinctrl-rp1] (54 lines)" "$(on gpiodetect)"
check "its lines have the Pi 5's names" "gpiochip0 29 gpiochip0 45" "$(on gpiofind FAN_TACH) $(on gpiofind FAN_PWM)"
check "the kernel makes a line software GPIO through the RP1's registers" \
    "write SYS_RIO0_OUT.SET 0x00020000|write SYS_RIO0_OE.SET 0x00020000|read GPIO17_CTRL 0x0000001f|read GPIO17_PAD 0x00000000|write GPIO17_PAD 0x00000040|read GPIO17_PAD 0x00000040|write GPIO17_PAD 0x00000040|write GPIO17_CTRL 0x00000005|read GPIO17_CTRL 0x00000005" \
    "$("$sim" --board "$tmp/board" --trace -- gpioset gpiochip0 17=1 2>&1 | cut -d' ' -f2- | tr -s ' ' |
        sed 's/ (by the kernel.*//' | paste -sd'|')"
check "and leaves a released output driving, as its driver persists outputs" "output 1" "$(pin 17)"
"$sim" --board "$tmp/board" drive 22=1
check "gpioget reads a driven input through the synchronised inputs" "1" "$(on gpioget gpiochip0 22)"
press_pin_4
check "gpiomon sees a Pi 5's edges" "1 4 0 4" "$(tr '\n' ' ' <"$tmp/mon" | sed 's/ $//')"
checks_done
