#!/bin/sh
# SPDX-License-Identifier: MIT
# The tavrel-armv6-sdk package, unpacked under a scratch root (no root
# needed), used as a user would: use-sdk.sh's steps on the sample project,
# with the tree's virtual Pi Zero and the ARMv6 build's release; and
# lintian on the package.
# Usage: sdk.sh SDK_DEB ARMV6_BUILD_DIR
set -eu
deb=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
build=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")/../.." && pwd)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
if lintian --fail-on error,warning "$deb" >"$root/lintian" 2>&1; then
    echo "ok   tavrel-armv6-sdk: lintian reports no error or warning"
else
    grep -v "running with root privileges" "$root/lintian"
    echo "FAIL tavrel-armv6-sdk: lintian"
    exit 1
fi
dpkg-deb -x "$deb" "$root/sdk"
mkdir "$root/app"
cp "$here"/examples/pizero-app/* "$root/app/"
cd "$root/app"
PATH=$root/sdk/usr/bin:$PATH TOOLCHAIN=$root/sdk/usr/share/tavrel/armv6-rpi.cmake \
    PIZERO="sh $here/pizero/tavrel-pizero.sh --build $build" sh "$here/tests/packages/use-sdk.sh"
