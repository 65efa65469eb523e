#!/bin/sh
# SPDX-License-Identifier: MIT
# Checks that a shared library exports exactly the names of its version
# script, each at the version node the script puts it in, and needs nothing
# at run time but the C library.
# Usage: check_exports.sh LIBRARY VERSION_SCRIPT
set -eu
lib=$1 map=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# NAME@NODE for each name; "local: *;" names nothing.
awk '/^[A-Za-z_][A-Za-z0-9_.]*[[:space:]]*\{/ { node = $1 }
     /^[[:space:]]*[A-Za-z_][A-Za-z0-9_]*;/ { sub(/;.*/, ""); gsub(/[[:space:]]/, ""); print $0 "@" node }' \
    "$map" | sort >"$tmp/expected"
nm -D --defined-only "$lib" | awk '$2 != "A" { sub(/@@/, "@", $3); print $3 }' | sort >"$tmp/actual"
if ! diff -u "$tmp/expected" "$tmp/actual"; then
    echo "exports of $lib differ from $map (- expected, + actual)" >&2
    exit 1
fi

needed=$(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
if [ "$needed" != "libc.so.6 " ]; then
    echo "$lib needs [$needed]; only libc.so.6 is allowed" >&2
    exit 1
fi
echo "$(wc -l <"$tmp/actual") exports match; NEEDED: $needed"
