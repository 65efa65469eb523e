#!/bin/sh
# Checks a built Debian package: its metadata, and that it holds the
# library with its SONAME link, the header, the tools and their man pages, and
# the CMake and pkg-config files.
# Usage: check_package.sh DEB ARCH TRIPLET
set -eu
deb=$1 arch=$2 triplet=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
expect() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; status=1; fi; }

info=$(dpkg-deb --info "$deb")
field() { printf '%s\n' "$info" | sed -n "s/^ $1: //p"; }
expect "package name libtavrel" '[ "$(field Package)" = libtavrel ]'
expect "architecture $arch" '[ "$(field Architecture)" = "$arch" ]'
expect "depends on libc6 (>= 2.34)" 'field Depends | grep -q "libc6 (>= 2.34)"'
expect "version $(field Version)" '[ -n "$(field Version)" ]'

dpkg-deb --contents "$deb" | awk '{ print $6, $7, $8 }' | sed 's|^\./||' >"$tmp/contents"
lib=usr/lib/$triplet
real=libtavrel.so.$(field Version)
for path in "$lib/$real" usr/include/tavrel.h usr/bin/tavrel-gpio_mode \
    usr/bin/tavrel-gpio_state usr/bin/tavrel-gpio_pull usr/share/man/man1/tavrel-gpio_mode.1 \
    usr/share/man/man1/tavrel-gpio_state.1 usr/share/man/man1/tavrel-gpio_pull.1 "$lib/pkgconfig/libtavrel.pc" \
    "$lib/cmake/tavrel/tavrelConfig.cmake" "$lib/cmake/tavrel/tavrelConfigVersion.cmake"; do
    expect "contains /$path" 'grep -q "^$path" "$tmp/contents"'
done
expect "libtavrel.so.1 links to $real" 'grep -q "^$lib/libtavrel.so.1 -> $real" "$tmp/contents"'
expect "libtavrel.so links to libtavrel.so.1" 'grep -q "^$lib/libtavrel.so -> libtavrel.so.1" "$tmp/contents"'

dpkg-deb --extract "$deb" "$tmp/root"
expect "SONAME libtavrel.so.1" 'readelf -d "$tmp/root/$lib/$real" | grep -q "SONAME.*\[libtavrel.so.1\]"'
for page in tavrel-gpio_mode tavrel-gpio_state tavrel-gpio_pull; do
    man=$tmp/root/usr/share/man/man1/$page.1
    expect "$page(1) formats" 'man -l "$man" >/dev/null 2>&1 || groff -man -Tutf8 "$man" >/dev/null'
done
exit $status
