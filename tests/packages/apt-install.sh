#!/bin/sh
# SPDX-License-Identifier: MIT
# As root: installs a host build's packages with apt-get, exactly as the
# README says, in a copy-on-write view of this machine (an overlay on /,
# in a mount namespace of its own, so the machine itself is untouched),
# then builds and runs a program with no further step: the ldconfig
# trigger, the real /opt/tavrel/VERSION and man-db's index are all in play.
# Usage: apt-install.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
if [ "$(id -u)" -ne 0 ]; then
    echo "skip apt-get install of the packages: needs root (install.sh checks them without)"
    exit 0
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/upper" "$tmp/work" "$tmp/view"
mkdir -p "$tmp/in"
cp "$build"/libtavrel1_"$version"_*.deb "$build"/libtavrel-dev_"$version"_*.deb \
    "$build"/tavrel-tools_"$version"_*.deb "$build"/tavrel-sim_"$version"_*.deb "$here/app.c" "$tmp/in/"

cat >"$tmp/in/steps.sh" <<'STEPS'
set -eu
cd /run/tavrel-in
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /run/tavrel-in/*.deb >apt.log 2>&1 || { cat apt.log; exit 1; }
cc app.c $(pkg-config --cflags --libs libtavrel) -o app
echo "built with: cc app.c \$(pkg-config --cflags --libs libtavrel)"
echo "/opt/tavrel/VERSION: $(cat /opt/tavrel/VERSION)"
tavrel-sim --board /run/tavrel-in/board --reset -- ./app
tavrel-sim --board /run/tavrel-in/board --changes -- tavrel-gpio_mode -p 18 -f 5 | tail -n 1
man -w tavrel-sim
man -w tavrel-gpio_mode
STEPS

if ! unshare --mount sh -eu -c '
    t=$1
    mount --make-rprivate /
    mount -t overlay overlay -o "lowerdir=/,upperdir=$t/upper,workdir=$t/work" "$t/view"
    mount --rbind /dev "$t/view/dev"
    mount -t proc proc "$t/view/proc"
    mount -t tmpfs tmpfs "$t/view/run"
    mkdir "$t/view/run/tavrel-in"
    mount --bind "$t/in" "$t/view/run/tavrel-in"
    exec chroot "$t/view" sh /run/tavrel-in/steps.sh' sh "$tmp" >"$tmp/out" 2>&1; then
    if grep -q "mount:.*permission denied\|unshare failed\|Operation not permitted" "$tmp/out"; then
        echo "skip apt-get install of the packages: no mount namespace here (install.sh checks them without)"
        cat "$tmp/out"
        exit 0
    fi
    echo "FAIL apt-get install of the packages"
    cat "$tmp/out"
    exit 1
fi
major=${version%%.*} rest=${version#*.}
minor=${rest%%.*} patch=${rest#*.}
text=$(printf '%d.%02d%b' "$major" "$minor" "\\$(printf %03o $((65 + patch)))")
sed 's/^/     /' "$tmp/out"
status=0
grep -q "^version $text, header $major.$minor.$patch, pin 17 1$" "$tmp/out" || status=1
grep -q "^/opt/tavrel/VERSION: $text$" "$tmp/out" || status=1
grep -q "/usr/share/man/man1/tavrel-sim.1.gz" "$tmp/out" || status=1
if [ $status -eq 0 ]; then echo "ok   apt-get install ./*.deb, then cc and run with no further step"; else
    echo "FAIL apt-get install ./*.deb, then cc and run"; fi
exit $status
