#!/bin/sh
# SPDX-License-Identifier: MIT
# Debian 13's libgpiod 2 (its gpiod tools and python3-libgpiod), unmodified,
# under tavrel-sim: they find the chip (libgpiod 2 checks the node and its
# sysfs subsystem), list and name its lines, read, set and hold them, see
# edges and line-information changes, as on a Pi Zero. They run from a
# Debian 13 root (scripts/debian-root.sh) with that root's own loader.
# Usage: gpiod2_tools.sh TAVREL_SIM DEBIAN13_ROOT
set -u
sim=$1 root=$2
lib=$root/usr/lib/x86_64-linux-gnu
tmp=$(mktemp -d)
trap 'kill $holder $notify 2>/dev/null; rm -rf "$tmp"' EXIT
holder="" notify=""
. "$(dirname "$0")/../support/check.sh"
board() { "$sim" --board "$tmp/board" "$@"; }
# A program of the root, under tavrel-sim. Those that wait for something
# are run with a time limit: a lost event fails the check, not the stage.
on() {
    tool=$1
    shift
    board -- "$lib/ld-linux-x86-64.so.2" --library-path "$lib" "$root/usr/bin/$tool" "$@" 2>&1
}
pin() { board pins | awk -v p="$1" '$1 == p { print $2, $3 }'; }
held() { board wait "$1" held --timeout 30000; }
tidy() { tr -s ' \t' ' ' | sed 's/^ //; s/ $//'; }

[ -x "$lib/ld-linux-x86-64.so.2" ] && [ -x "$root/usr/bin/gpiodetect" ] ||
    { echo "FAIL no Debian 13 root with gpiod in $root"; exit 1; }
board --reset -- true
check "libgpiod 2.2" "gpiodetect (libgpiod) v2.2.1" "$(on gpiodetect --version | head -n 1)"
check "gpiodetect finds the chip" "gpiochip0 [pinctrl-bcm2835] (54 lines)" "$(on gpiodetect)"
check "gpioinfo lists its lines, named as the Pi Zero's device tree names them" \
    "gpiochip0 - 54 lines:|line 17: \"GPIO17\" input" \
    "$(on gpioinfo -c 0 | sed -n '1p; /line  17:/p' | tidy | paste -sd '|')"
check "gpioinfo finds a line by its name" "gpiochip0 17 \"GPIO17\" input" "$(on gpioinfo GPIO17 | tidy)"

board drive 4=1
check "gpioget reads a driven input" '"4"=active' "$(on gpioget -c 0 4)"
board drive 4=0
check "and again when it is driven low" '"4"=inactive' "$(on gpioget -c 0 4)"
check "gpioset -t 0 sets the line and releases it, an input again" "input 0" \
    "$(on gpioset -c 0 -t 0 17=1 >/dev/null; pin 17)"

# gpioset holds its lines until a signal: outputs at their levels, named.
"$sim" --board "$tmp/board" -- "$lib/ld-linux-x86-64.so.2" --library-path "$lib" "$root/usr/bin/gpioset" \
    -c 0 -C holder 20=1 21=0 &
holder=$!
held 21
check "gpioset makes its lines outputs at their levels" "output 1 output 0" "$(pin 20) $(pin 21)"
check "gpioinfo shows the line held, with its consumer" \
    'gpiochip0 20 "GPIO20" output consumer="holder"' "$(on gpioinfo GPIO20 | tidy)"
check "another process cannot take a held line" "gpioget: unable to request lines: Device or resource busy" \
    "$(on gpioget -c 0 20 | sed 's|.*/gpioget:|gpioget:|')"
kill -TERM $holder
wait $holder 2>/dev/null
holder=""
board wait 20 free --timeout 30000
check "the kernel's release leaves the lines inputs" "input 0 input 0" "$(pin 20) $(pin 21)"

# gpionotify reports the request and release of a line it watches. Its
# watch begins at no moment one can wait for: the line is requested and
# released over and over until it has seen four changes, which hold at
# least one whole pair.
timeout 60 "$sim" --board "$tmp/board" -- "$lib/ld-linux-x86-64.so.2" --library-path "$lib" "$root/usr/bin/gpionotify" \
    -c 0 -n 4 --format "%E %o %C" 20 >"$tmp/notify" 2>&1 &
notify=$!
i=0
while kill -0 $notify 2>/dev/null && [ $i -lt 300 ]; do
    on gpioset -c 0 -C lamp -t 0 20=1 >/dev/null
    i=$((i + 1))
done
wait $notify
notify=""
check "gpionotify sees the line requested and released" "requested 20 lamp|released 20 unused" \
    "$(sed 's/ *$//' "$tmp/notify" | grep -A1 '^requested' | head -n 2 | paste -sd '|')"

# gpiomon prints the edges of a button pressed with tavrel-sim drive.
timeout 60 "$sim" --board "$tmp/board" -- "$lib/ld-linux-x86-64.so.2" --library-path "$lib" "$root/usr/bin/gpiomon" \
    -c 0 -n 2 --format "%e %o" 4 >"$tmp/mon" 2>&1 &
holder=$!
held 4
board drive 4=1
board drive 4=0
wait $holder 2>/dev/null
holder=""
check "gpiomon sees the press and the release" "1 4|2 4" "$(paste -sd '|' "$tmp/mon")"

# python3-libgpiod 2.2: the chip, an edge request read as events come, and
# a watch of line information.
cat >"$tmp/edges.py" <<'PY'
import gpiod
from gpiod.line import Edge
with gpiod.Chip("/dev/gpiochip0") as chip:
    info = chip.get_info()
    print(info.name, info.label, info.num_lines, flush=True)
    print(chip.watch_line_info(6).consumer or "unused", flush=True)
    settings = gpiod.LineSettings(edge_detection=Edge.BOTH)
    with chip.request_lines(consumer="py", config={4: settings}) as request:
        events = []
        while len(events) < 2:
            events += [(e.event_type.name, e.line_offset) for e in request.read_edge_events()]
        print(events, flush=True)
    change = chip.read_info_event()
    print(change.event_type.name, change.line_info.offset, change.line_info.consumer, flush=True)
PY
timeout 60 "$sim" --board "$tmp/board" -- env PYTHONHOME="$root/usr" PYTHONPATH="$root/usr/lib/python3/dist-packages" \
    "$lib/ld-linux-x86-64.so.2" --library-path "$lib" "$root/usr/bin/python3.13" "$tmp/edges.py" >"$tmp/py" 2>&1 &
holder=$!
held 4
board drive 4=1
board drive 4=0
on gpioset -c 0 -C lamp -t 0 6=1 >/dev/null
wait $holder 2>/dev/null
holder=""
check "python3-libgpiod 2.2 finds the chip" "gpiochip0 pinctrl-bcm2835 54" "$(sed -n 1p "$tmp/py")"
check "and reads a request's edge events" "[('RISING_EDGE', 4), ('FALLING_EDGE', 4)]" "$(sed -n 3p "$tmp/py")"
check "and sees a watched line requested by another program" "LINE_REQUESTED 6 lamp" "$(sed -n 4p "$tmp/py")"

checks_done
