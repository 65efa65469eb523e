#!/bin/sh
# Packs the checked ARMv6 binaries of a cross build into a release archive,
# stripped only after the check has passed.
# Usage: armv6-release.sh BUILD_DIR
set -eu
build=$1
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
stage=$build/release/libtavrel-$version-armv6hf
tests/check_armv6.sh "$build/library/libtavrel.so" "$build/tool/tavrel-gpio_mode"
rm -rf "$stage"
cmake --install "$build" --prefix "$stage" --strip --component tavrel >/dev/null
tar -C "$build/release" -czf "$stage.tar.gz" "$(basename "$stage")"
echo "release archive: $stage.tar.gz"
tar -tzf "$stage.tar.gz" | sed 's/^/  /'
