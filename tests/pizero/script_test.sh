#!/bin/sh
# SPDX-License-Identifier: MIT
# tavrel-pizero itself, around the guest: a full or read-only cache fails at
# once, --with takes any file name, the guest's output appears as it is
# written, and a signal ends QEMU and the whole run, leaving no files.
# Usage: script_test.sh PIZERO_COMMAND...   (as pizero/tavrel-pizero.sh --build DIR)
# Prints a line per check and "N passed, M failed"; exits 1 on a failure.
set -u
passed=0 failed=0
check() { # NAME CONDITION...
    name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok   $name"
    else
        failed=$((failed + 1))
        echo "FAIL $name"
    fi
}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/tmp"

# A cache that cannot be written: no fetch, no hang, the directory named.
out=$(XDG_CACHE_HOME=/proc/self TMPDIR=$scratch/tmp timeout 60 "$@" script /dev/null 2>&1)
check "an unwritable cache fails at once, naming it" \
    test "$?" = 1 -a -n "$(printf '%s' "$out" | grep -F 'cannot write the cache /proc/self/tavrel-pizero')"
mkdir "$scratch/cache"
out=$( (ulimit -f 2048 && XDG_CACHE_HOME=$scratch/cache TMPDIR=$scratch/tmp timeout 60 "$@" script /dev/null) 2>&1)
check "a full cache fails at once, naming it" \
    test -n "$(printf '%s' "$out" | grep -F "cannot write the cache $scratch/cache/tavrel-pizero")"

# A payload that shows a file given with --with, then waits: its first
# line comes while the guest still runs, and SIGTERM ends it all.
printf 'precious\n' >"$scratch/my data.txt"
cat >"$scratch/payload.sh" <<'EOP'
cat "/run/my data.txt"
echo waiting
sleep 600
EOP
TMPDIR=$scratch/tmp "$@" --with "$scratch/my data.txt" script "$scratch/payload.sh" >"$scratch/out" 2>"$scratch/err" &
run=$!
i=0
while ! grep -q '^waiting$' "$scratch/out" 2>/dev/null && [ $i -lt 600 ]; do
    sleep 0.5
    i=$((i + 1))
done
check "--with takes a file name with a space" grep -qx precious "$scratch/out"
check "the guest's output appears as it is written" grep -qx waiting "$scratch/out"
kill -TERM $run
wait $run
status=$?
check "SIGTERM ends tavrel-pizero by SIGTERM (status $status)" test "$status" = 143
sleep 1
# No QEMU whose command line names the scratch root is left.
no_qemu_left() {
    for f in /proc/[0-9]*/cmdline; do
        c=$(tr '\0' ' ' <"$f" 2>/dev/null) || continue
        case $c in qemu-system-arm*"$scratch/tmp"*) return 1 ;; esac
    done
    return 0
}
check "and QEMU with it" no_qemu_left
check "and leaves no files" test -z "$(ls -A "$scratch/tmp")"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
