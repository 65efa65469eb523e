#!/bin/sh
# SPDX-License-Identifier: MIT
# Installs a host build's packages with dpkg --root into a throwaway root,
# without root privileges, then uses them as a user would: builds a
# program with pkg-config and runs it and the tools on the simulated
# board, and finds the man pages. The version file is read where the
# packages put it.
# Usage: install.sh BUILD_DIR TRIPLET
set -eu
build=$(cd "$1" && pwd) triplet=$2
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
expect() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; status=1; fi; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
r=$tmp/root
mkdir -p "$r/var/lib/dpkg/info" "$r/var/lib/dpkg/updates"
: >"$r/var/lib/dpkg/status"
# The throwaway root has no C library package: the host's serves.
expect "dpkg installs the four packages" 'dpkg --root="$r" --force-not-root --force-depends --force-script-chrootless \
    --log=/dev/null -i "$build"/libtavrel1_"$version"_*.deb "$build"/libtavrel-dev_"$version"_*.deb \
    "$build"/tavrel-tools_"$version"_*.deb "$build"/tavrel-sim_"$version"_*.deb >"$tmp/dpkg.log" 2>&1'
expect "all four are installed" '[ "$(dpkg-query --root="$r" -W -f="\${db:Status-Status} " libtavrel1 libtavrel-dev \
    tavrel-tools tavrel-sim)" = "installed installed installed installed " ]'

export PKG_CONFIG_SYSROOT_DIR="$r" PKG_CONFIG_LIBDIR="$r/usr/lib/$triplet/pkgconfig"
expect "pkg-config: libtavrel $version" '[ "$(pkg-config --modversion libtavrel)" = "$version" ]'
flags=$(pkg-config --cflags --libs libtavrel)
expect "pkg-config paths are normalised" '! printf "%s\n" "$flags" "$(cat "$PKG_CONFIG_LIBDIR/libtavrel.pc")" | grep -q "\.\./"'
expect "cc app.c \$(pkg-config --cflags --libs libtavrel) builds" \
    'cc -std=c99 -Wall -Wextra -Werror -I"$r/usr/include" "$here/app.c" $flags -o "$tmp/app" 2>"$tmp/cc.log"'

major=${version%%.*} rest=${version#*.}
minor=${rest%%.*} patch=${rest#*.}
text=$(printf '%d.%02d%b' "$major" "$minor" "\\$(printf %03o $((65 + patch)))")
export LD_LIBRARY_PATH="$r/usr/lib/$triplet"
# The simulator's shim opens the packaged version file for /opt/tavrel/VERSION.
export TAVREL_SIM_VERSION="$r/opt/tavrel/VERSION"
sim() { "$r/usr/bin/tavrel-sim" --board "$tmp/board" "$@"; }
got=$(sim --reset -- "$tmp/app" 2>&1) || true
expect "the program reads version $text: $got" '[ "$got" = "version $text, header $major.$minor.$patch, pin 17 1" ]'
got=$(sim --reset --changes -- "$r/usr/bin/tavrel-gpio_mode" -p 18 -f 5 2>&1) || true
expect "installed tavrel-gpio_mode runs under installed tavrel-sim" \
    'printf "%s\n" "$got" | grep -q "^pin 18: input -> alt5"'
for page in tavrel-sim tavrel-gpio_mode tavrel-gpio_state tavrel-gpio_pull tavrel-gpio_wait; do
    expect "man $page finds its page" 'MANPATH="$r/usr/share/man" man -w "$page" >/dev/null 2>&1'
done
[ $status -eq 0 ] || cat "$tmp/dpkg.log" "$tmp/cc.log" 2>/dev/null
exit $status
