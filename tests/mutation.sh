#!/bin/sh
# SPDX-License-Identifier: MIT
# A mutation pass over library/ and tool/: each mutant below is applied in
# turn to a scratch copy of the tree, built, and the host test suite run
# (ctest, which includes the barrier check). A mutant is killed when a
# test fails. Prints one line per mutant, then the score.
# Usage: [MUTANTS="1 5 9"] mutation.sh [WORK_DIR]
#   WORK_DIR defaults to a fresh temporary directory; MUTANTS picks some.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$(mktemp -d)}
mkdir -p "$work"
src=$work/src build=$work/build
rm -rf "$src" && mkdir -p "$src"
(cd "$here" && git ls-files -z | xargs -0 tar -cf - 2>/dev/null) | tar -xf - -C "$src"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$work/configure.log"
cmake --build "$build" -j"$(nproc)" >"$work/build.log" 2>&1
(cd "$build" && ctest -j"$(nproc)" >"$work/baseline.log" 2>&1) || { echo "the unmutated suite fails"; exit 1; }

# FILE@FROM@TO@what the mutant does; FROM and TO are literal, \n a newline.
mutants() {
    cat <<'LIST'
library/registers.h@    if (TAVREL_BARRIER_KEPT(1)) barrier();@@no barrier after a read
library/registers.h@    if (TAVREL_BARRIER_KEPT(2)) barrier();@@no barrier after a write
library/pins.cpp@    if (TAVREL_BARRIER_KEPT(3)) barrier();@@no barrier before set_val's store
library/pins.cpp@    if (TAVREL_BARRIER_KEPT(4)) barrier();@@no barrier between the busy mark and the access check
library/registers.h@asm volatile("lock addl $0, -4(%%rsp)" : : : "memory", "cc");@asm volatile("" : : : "memory");@the x86 fence a compiler-only barrier
library/pins.cpp@unsigned shift = 3 * (pin % 10);@unsigned shift = 3 * (pin % 10) + 1;@function field shifted by one bit
library/pins.cpp@if (static_cast<uint32_t>(mode) > 7) return;@if (static_cast<uint32_t>(mode) > 8) return;@config_io accepts mode 8
library/pins.cpp@if (alt > 5) alt = 5;@if (alt > 6) alt = 5;@set_alt accepts alternative 6
library/pins.cpp@    if (static_cast<uint32_t>(pin) >= kPinCount) return;\n    unsigned word@    if (static_cast<uint32_t>(pin) > kPinCount) return;\n    unsigned word@function select accepts pin 60
library/pins.cpp@for (uint32_t i = 0; i < 8; ++i) {@for (uint32_t i = 0; i < 7; ++i) {@set_byte drives 7 pins
library/pins.cpp@return (levels >> (pin & 31)) & 1;@return (levels >> (pin & 31)) & 3;@get_val returns two bits
library/pins.cpp@int32_t levels = static_cast<int32_t>(reg_read(@uint32_t levels = static_cast<uint32_t>(reg_read(@get_byte shifts in zeros beyond pin 31
library/pins.cpp@static_cast<uint32_t>(pin) >= kBondedPins@static_cast<uint32_t>(pin) > kBondedPins@set_pull accepts pin 54
library/registers.h@for (unsigned i = 600; i != 0; --i)@for (unsigned i = 1; i != 0; --i)@no pull settling wait
library/pins.cpp@    if (pins1 & ~levels1) reg_write(block, GPCLR0 + 1, pins1 & ~levels1);@@set_mask never clears bank 1
library/pins.cpp@(1u << (kBondedPins - 32)) - 1@(1u << (kBondedPins - 31)) - 1@set_mask reaches pin 54
library/libtavrel.cpp@    stop_quit_listener();\n    // Taken out@    // Taken out@close leaves the listener running
library/libtavrel.cpp@    for (unsigned w = 0; w < kFselWordsSaved; ++w) {@    for (unsigned w = kFselWordsSaved; w-- > 0;) {@close writes words in descending order
library/libtavrel.cpp@    if (Block block = open_block()) take_snapshot(block);@@a forked child keeps the parent's snapshot
library/libtavrel.cpp@        wait_for_updates_under_way();@@close does not wait for updates under way
library/quit_listener.cpp@int quit = torav_prevquitstate == 0 && code == kAllHigh;@int quit = code == kAllHigh;@quit on all high without the low sample first
library/fd_io.cpp@ssize_t n = read(fd, p + got, len - got);@ssize_t n = read(fd, p + got, len);@timed read asks for more than is missing
library/fd_io.cpp@        if (n == 0) return -1;@        if (n == 0) continue;@timed read waits out the deadline at end of file
library/fd_io.cpp@} else if (errno != EINTR) {@} else {@exact write gives up on EINTR
library/version.cpp@ || !S_ISREG(st.st_mode)@@version file need not be a regular file
library/version.cpp@O_RDONLY | O_CLOEXEC | O_NONBLOCK@O_RDONLY | O_CLOEXEC@version file opened blocking
tool/tavrel-gpio_mode.cpp@            output = 0;\n            have_dir = true;@            if (!have_dir) output = 0;\n            have_dir = true;@-o then -i keeps the first
tool/tavrel-gpio_mode.cpp@if (pin_value < 0 || pin_value > kLastPin) {@if (pin_value < 0 || pin_value > kLastPin + 1) {@the tool accepts pin 54
tool/tavrel-gpio_mode.cpp@    return tavrel_cli::report_written("tavrel-gpio_mode");@    (void)tavrel_cli::report_written("tavrel-gpio_mode");\n    return 0;@the tool ignores a failed report
LIST
}

i=0
mutants | while IFS='@' read -r file from to what; do
    i=$((i + 1))
    case " ${MUTANTS:-$i} " in *" $i "*) ;; *) continue ;; esac
    cp "$src/$file" "$work/original"
    if ! FROM=$(printf '%b' "$from") TO=$(printf '%b' "$to") perl -0pi -e \
        '$n += s/\Q$ENV{FROM}\E/$ENV{TO}/; END { exit($n ? 0 : 3) }' "$src/$file"; then
        echo "ERROR    $i $what: not found in $file"
        continue
    fi
    if ! cmake --build "$build" -j"$(nproc)" >"$work/m$i.build" 2>&1; then
        echo "killed   $i $what (does not build)"
    elif (cd "$build" && ctest -j"$(nproc)" --timeout 120 >"$work/m$i.log" 2>&1); then
        echo "SURVIVED $i $what"
    else
        echo "killed   $i $what: $(sed -n '/tests FAILED:/,$ s/^[[:space:]]*[0-9]* - \([^ ]*\) .*/\1/p' "$work/m$i.log" |
            head -3 | tr '\n' ' ')"
    fi
    cp "$work/original" "$src/$file"
done | tee "$work/results"
k=$(grep -c '^killed' "$work/results" || true)
s=$(grep -c '^SURVIVED' "$work/results" || true)
echo "score: $k killed, $s survived, of $((k + s)) mutants"
