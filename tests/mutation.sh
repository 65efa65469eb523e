#!/bin/sh
# SPDX-License-Identifier: MIT
# A mutation pass over the library, the tools, the Python module and the
# simulated board: each mutant below is applied in
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
library/pins.cpp@    if (!model || static_cast<uint32_t>(pin) >= model->pins) return;@    if (!model || static_cast<uint32_t>(pin) > model->pins) return;@set_pull accepts pin 54
library/registers.h@for (unsigned i = 600; i != 0; --i)@for (unsigned i = 1; i != 0; --i)@no pull settling wait
library/pins.cpp@    if (pins1 & ~levels1) reg_write(block, GPCLR0 + 1, pins1 & ~levels1);@@set_mask never clears bank 1
library/pins.cpp@(1u << (kMaskPins - 32)) - 1@(1u << (kMaskPins - 31)) - 1@set_mask reaches pin 54
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
library/libtavrel.cpp@    mark_process_exiting();@@the exit handler does not mark the process exiting
library/quit_listener.cpp@    quit_signal.store(0);@@a forked child keeps the quit its parent recorded
library/edges.cpp@int32_t want = max - got < 16 ? max - got : 16;@int32_t want = 16;@edge_read stores up to 16 events whatever max
library/edges.cpp@    if (pins >> model->pins) {\n        close(chip_fd);\n        return fail(EINVAL);\n    }@    pins &= (uint64_t{1} << model->pins) - 1;@edge_open drops pins the chip lacks
library/edges.cpp@if (edges & TAVREL_EDGE_RISING) req@if (edges & TAVREL_EDGE_FALLING) req@edge_open asks for falling edges for rising
library/chip.cpp@    return static_cast<int32_t>(model->pins);@    return 54;@the pin count is the BCM2835's on every chip
tool/tavrel-gpio_state.cpp@bool high = pin < 54 ?@bool high = true ?@state reads pins 54 to 57 from the 54-pin snapshot
tool/tavrel-gpio_wait.cpp@case 'r': o->edges = TAVREL_EDGE_RISING;@case 'r': o->edges = TAVREL_EDGE_FALLING;@-r waits for falling edges
tool/tavrel-gpio_wait.cpp@return seen == o.count ? 0 : kTimedOut;@return seen > 0 ? 0 : kTimedOut;@one event of COUNT is success
tool/tavrel-gpio_wait.cpp@%llu.%09llu@%llu.%llu@nanoseconds printed without their leading zeros
tool/tavrel-gpio_wait.cpp@(left + 999999) / 1000000@left / 1000000@the wait rounded down to whole milliseconds
tool/tavrel-gpio_wait.cpp@if (!parse_number(optarg, count - 1, &value))@if (!parse_number(optarg, count, &value))@-p accepts the pin past the chip's last
python/tavrel/__init__.py@int(timeout * 1000 + 0.999999)@int(timeout * 1000)@read's timeout rounded down
python/tavrel/__init__.py@if operator.index(max_events) < 1:@if operator.index(max_events) < 0:@max_events 0 reaches the library
python/tavrel/__init__.py@0 <= operator.index(pin) < count@0 <= operator.index(pin) < count - 1@EdgeEvents refuses the chip's last pin
python/tavrel/pinfactory.py@"alt4": 3, "alt5": 2@"alt4": 2, "alt5": 3@the factory swaps alt4 and alt5
python/tavrel/pinfactory.py@        self._stop = threading.Event()\n        self._watcher = threading.Thread@        self._stop.clear()\n        self._watcher = threading.Thread@watchers share one stop event
sim/chardev/request.cpp@                periods[i] = 0;\n                v2_debounce(lc, i, &periods[i]);@                v2_debounce(lc, i, &periods[i]);@SET_CONFIG without debounce keeps the period
sim/model/board_edges.cpp@        if (l.level == l.debounced) continue;\n@@a pulse within the debounce period gives an event
sim/model/board_edges.cpp@        if (q.v1) return;@@a full v1 queue drops its oldest
sim/model/board.cpp@        if (!stopped_holder()) {@        if (true) {@time a holder is stopped counts against it
sim/decode/x86_64.cpp@    if (width == 1 && !rex && reg >= 4 && reg < 8) return@    if (width == 1 && (rex || !rex) && reg >= 4 && reg < 8) return@REX byte registers read as AH to BH
sim/decode/x86_64.cpp@        insn->mem_width = 1;\n        f->imm_bytes = 1;@        insn->mem_width = 4;\n        f->imm_bytes = 1;@MOV r/m8, imm8 stores 4 bytes
sim/decode/arm_decode.cpp@((in >> 4) & 0xF0) | (in & 15)@(in & 15)@LDRH/STRH immediate loses its high nibble
sim/decode/arm_decode.cpp@: r[kPc] + 8;@: r[kPc] + 4;@the PC reads 4 ahead in ARM state
sim/decode/aarch64_decode.cpp@    case 1:\n        a->addr = b;@    case 1:\n        a->addr = b + off;@post-index addresses the moved base
sim/decode/aarch64_decode.cpp@sign_bits(in >> 15, 7)) * a->width;@sign_bits(in >> 15, 7));@LDP/STP offsets not scaled
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
