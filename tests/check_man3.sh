#!/bin/sh
# SPDX-License-Identifier: MIT
# Every name the library exports has its section-3 page, tavrel_simboard(3)
# has every function of the test API, and each page renders without a
# warning.
# Usage: check_man3.sh VERSION_SCRIPT SIMBOARD_HEADER MAN3_DIR
set -u
map=$1 simboard=$2 man3=$3
status=0
fail() { echo "FAIL $*"; status=1; }
names=$(awk '/^[[:space:]]*[A-Za-z_][A-Za-z0-9_]*;/ { sub(/;.*/, ""); gsub(/[[:space:]]/, ""); print }' "$map")
for name in $names libtavrel; do
    [ -f "$man3/dev/$name.3.gz" ] || fail "$name has no page"
done
pages=$(ls "$man3/dev" | wc -l)
[ "$pages" -eq "$(($(echo "$names" | wc -l) + 1))" ] || fail "$pages pages for $(echo "$names" | wc -l) exported names and libtavrel(3)"
for name in $(sed -n 's/^[a-z].* \**\(tavrel_simboard_[a-z_]*\)(.*/\1/p' "$simboard"); do
    zcat "$man3/sim/tavrel_simboard.3.gz" | grep -q "$name(" || fail "tavrel_simboard(3) lacks $name"
done
for page in "$man3"/dev/*.3.gz "$man3"/sim/*.3.gz; do
    warnings=$(zcat "$page" | LC_ALL=C.UTF-8 groff -man -ww -z -Tutf8 2>&1)
    [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
    zcat "$page" | grep -q '^\.SH NAME' || fail "$(basename "$page") has no NAME"
done
[ $status -eq 0 ] && echo "ok   $(echo "$names" | wc -l) exported names, each with its page; tavrel_simboard(3) whole"
exit $status
