#!/bin/sh
# SPDX-License-Identifier: MIT
# Every tool of ours answers --help with its usage on standard output and
# status 0, and --version with the version; the pin-mode tool keeps its own
# -h. tavrel-pizero without an ARMv6 build says what to build, at once,
# having fetched nothing.
# Usage: conventions.sh VERSION TOOL_DIR TAVREL_SIM
set -u
version=$1 tools=$2 sim=$3
here=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
passed=0 failed=0
check() { # WHAT CONDITION...
    what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok   $what"
    else
        failed=$((failed + 1))
        echo "FAIL $what"
        sed 's/^/     > /' "$tmp/out" "$tmp/err" 2>/dev/null
    fi
}
answers() { # COMMAND...: status 0, something on standard output, nothing on standard error
    "$@" >"$tmp/out" 2>"$tmp/err" && [ -s "$tmp/out" ] && [ ! -s "$tmp/err" ]
}
for tool in "$tools/tavrel-gpio_state" "$tools/tavrel-gpio_pull" "$tools/tavrel-gpio_wait" "$sim" \
    "sh $here/pizero/tavrel-pizero.sh" "$here/sdk/tavrel-armv6-check"; do
    name=$(basename "${tool##* }" .sh)
    # shellcheck disable=SC2086
    check "$name --help" answers $tool --help
    check "$name --help shows the usage" grep -q "$name" "$tmp/out"
    # shellcheck disable=SC2086
    check "$name --version" answers $tool --version
    check "$name --version says $version" [ "$(cat "$tmp/out")" = "$name $version" ]
done

# Nothing to boot: said at once, with what to build, and nothing fetched.
mkdir "$tmp/empty" "$tmp/cache"
XDG_CACHE_HOME=$tmp/cache sh "$here/pizero/tavrel-pizero.sh" --build "$tmp/empty" run /bin/true >"$tmp/out" 2>"$tmp/err"
status=$?
check "tavrel-pizero without an ARMv6 build fails" [ $status -eq 1 ]
check "and says what to build" grep -q "no ARMv6 build in $tmp/empty; build one first" "$tmp/err"
check "with the toolchain to build it with" grep -q "DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/armv6-rpi.cmake" "$tmp/err"
check "having fetched nothing" [ -z "$(ls -A "$tmp/cache")" ]
XDG_CACHE_HOME=$tmp/cache sh "$here/pizero/tavrel-pizero.sh" --model 3b --build "$tmp/empty" run uname >"$tmp/out" 2>"$tmp/err"
check "the Pi 3 without an AArch64 build says what to build, fetching nothing" \
    [ $? -eq 1 -a -n "$(grep "no AArch64 build in $tmp/empty; .*cmake -S . -B build-aarch64" "$tmp/err")" -a \
    -z "$(ls -A "$tmp/cache")" ]
XDG_CACHE_HOME=$tmp/cache sh "$here/pizero/tavrel-pizero.sh" --build "$tmp/missing" run /bin/true >"$tmp/out" 2>"$tmp/err"
check "tavrel-pizero --build with no such directory says so" grep -q -- "--build $tmp/missing: no such directory" "$tmp/err"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
