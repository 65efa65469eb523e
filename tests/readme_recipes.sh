#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs each shell block the README marks as a recipe (a "<!-- recipe -->"
# line before it) as written, from a scratch directory in which "build" is
# the build tree and tavrel-sim and the tools are on the PATH, on a board
# of the recipe's own. A recipe passes when every command in it succeeds.
# Usage: readme_recipes.sh README BUILD_DIR
set -u
readme=$1 build=$(cd "$2" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
awk -v dir="$tmp" '
    /^<!-- recipe -->$/ { want = 1; next }
    want && /^```sh$/ { n++; file = sprintf("%s/recipe%d.sh", dir, n); inside = 1; want = 0; next }
    inside && /^```$/ { inside = 0; close(file); next }
    inside { print > file }
    { want = 0 }' "$readme"
passed=0 failed=0
for recipe in "$tmp"/recipe*.sh; do
    [ -f "$recipe" ] || { echo "FAIL no recipe is marked in $readme"; exit 1; }
    name=$(basename "$recipe" .sh)
    work=$tmp/$name.d
    mkdir -p "$work/run" && chmod 700 "$work/run"
    ln -s "$build" "$work/build"
    # A private runtime directory: the recipe's default board is its own.
    # A group of its own, ended afterwards, takes what it left running.
    (cd "$work" && PATH="$build/sim:$build/tool:$PATH" XDG_RUNTIME_DIR="$work/run" \
        setsid sh -c 'echo $$ >group; exec timeout 120 sh -e "$1"' sh "$recipe") >"$work/out" 2>&1
    status=$?
    [ -s "$work/group" ] && kill -KILL "-$(cat "$work/group")" 2>/dev/null
    if [ $status -eq 0 ]; then
        passed=$((passed + 1))
        echo "ok   $name: $(head -1 "$recipe")"
    else
        failed=$((failed + 1))
        echo "FAIL $name (status $status):"
        sed 's/^/     | /' "$recipe"
        sed 's/^/     > /' "$work/out"
    fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
