#!/bin/sh
# SPDX-License-Identifier: MIT
# Checks the Debian packages of a build: their names, metadata and
# dependencies, that each holds what it should (library with its SONAME
# links, version file, header, CMake and pkg-config files, tools, the
# simulator, compressed man pages, copyright and changelog), and that
# lintian reports no error or warning.
# Usage: check.sh BUILD_DIR ARCH TRIPLET
set -eu
build=$1 arch=$2 triplet=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
expect() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; status=1; fi; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
packages="libtavrel1 libtavrel-dev tavrel-tools"
# The board's release (armhf) carries the virtual Pi Zero; a development
# machine's (amd64, arm64) the simulated board and the Python module.
if [ "$arch" = armhf ]; then packages="$packages tavrel-pizero"; else packages="$packages tavrel-sim python3-tavrel"; fi
# The virtual Pi Zero's package and the Python module's are for any machine.
deb_of() {
    case $1 in
    tavrel-pizero | python3-tavrel) echo "$build/$1_${version}_all.deb" ;;
    *) echo "$build/$1_${version}_$arch.deb" ;;
    esac
}
lib=usr/lib/$triplet
real=libtavrel.so.$version

for pkg in $packages; do
    deb=$(deb_of $pkg)
    expect "$pkg: built as $(basename "$deb")" '[ -f "$deb" ]'
    [ -f "$deb" ] || continue
    field() { dpkg-deb --field "$deb" "$1"; }
    expect "$pkg: architecture $(basename "$deb" .deb | sed 's/.*_//')" \
        '[ "$(field Architecture)" = "$(basename "$deb" .deb | sed "s/.*_//")" ]'
    dpkg-deb --contents "$deb" | awk '{ print $6, $7, $8 }' | sed 's|^\./||' >"$tmp/$pkg.contents"
    has() { grep -q "^$1" "$tmp/$pkg.contents"; }
    expect "$pkg: /usr/share/doc/$pkg/copyright" 'has usr/share/doc/$pkg/copyright'
    expect "$pkg: /usr/share/doc/$pkg/changelog.gz" 'has usr/share/doc/$pkg/changelog.gz'
    expect "$pkg: nothing under /usr/local" '! has usr/local'
    dpkg-deb --extract "$deb" "$tmp/$pkg"
    for page in "$tmp/$pkg"/usr/share/man/man1/*; do
        [ -e "$page" ] || continue
        expect "$pkg: $(basename "$page") is compressed and formats" \
            'case $page in *.gz) man -l "$page" >/dev/null 2>&1 ;; *) false ;; esac'
    done
    for elf in "$tmp/$pkg"/usr/bin/* "$tmp/$pkg/$lib"/*.so* "$tmp/$pkg/$lib"/*/*.so; do
        [ -f "$elf" ] && [ ! -L "$elf" ] || continue
        expect "$pkg: no run path in ${elf#"$tmp/$pkg/"}" '! readelf -d "$elf" 2>/dev/null | grep -Eq "RPATH|RUNPATH"'
    done
    # The Depends the build states must be what dpkg-shlibdeps finds, where
    # it can look (the host's own architecture).
    if [ "$arch" = "$(dpkg --print-architecture)" ] && [ "$pkg" != libtavrel-dev ] && [ "$pkg" != python3-tavrel ]; then
        mkdir -p "$tmp/shlibdeps/debian"
        : >"$tmp/shlibdeps/debian/control"
        echo "libtavrel 1 libtavrel1 (>= $version)" >"$tmp/shlibdeps/debian/shlibs.local"
        elves=$(find "$tmp/$pkg" -type f \( -path '*/bin/*' -o -name '*.so*' \))
        found=$(cd "$tmp/shlibdeps" && dpkg-shlibdeps -O -l"$tmp/libtavrel1/$lib" $elves 2>/dev/null |
            sed -n 's/^shlibs:Depends=//p')
        expect "$pkg: Depends $(field Depends), as dpkg-shlibdeps finds" '[ -n "$found" ] && [ "$(field Depends)" = "$found" ]'
    fi
done

deps() { dpkg-deb --field "$build/${1}_${version}_$arch.deb" Depends; }
expect "libtavrel1 depends on libc6" 'deps libtavrel1 | grep -q "^libc6 (>= 2\.[0-9]*)$"'
expect "libtavrel-dev depends on libtavrel1 (= $version)" '[ "$(deps libtavrel-dev)" = "libtavrel1 (= $version)" ]'
expect "tavrel-tools depends on libtavrel1 (>= $version)" 'deps tavrel-tools | grep -qF "libtavrel1 (>= $version)"'

c() { grep -q "^$2" "$tmp/$1.contents"; }
expect "libtavrel1 holds /$lib/$real" 'c libtavrel1 "$lib/$real "'
expect "libtavrel1: libtavrel.so.1 links to $real" 'c libtavrel1 "$lib/libtavrel.so.1 -> $real"'
expect "libtavrel1 holds /opt/tavrel/VERSION" 'c libtavrel1 "opt/tavrel/VERSION"'
expect "libtavrel-dev: libtavrel.so links to libtavrel.so.1" 'c libtavrel-dev "$lib/libtavrel.so -> libtavrel.so.1"'
for path in usr/include/tavrel.h "$lib/pkgconfig/libtavrel.pc" "$lib/cmake/tavrel/tavrelConfig.cmake" \
    "$lib/cmake/tavrel/tavrelConfigVersion.cmake" "$lib/cmake/tavrel/tavrelTargets.cmake"; do
    expect "libtavrel-dev holds /$path" 'c libtavrel-dev "$path"'
done
for tool in tavrel-gpio_mode tavrel-gpio_state tavrel-gpio_pull tavrel-gpio_wait; do
    expect "tavrel-tools holds $tool and $tool(1)" 'c tavrel-tools "usr/bin/$tool" && c tavrel-tools "usr/share/man/man1/$tool.1.gz"'
done
if [ "$arch" != armhf ]; then
    expect "tavrel-sim holds tavrel-sim, its shim and tavrel-sim(1)" 'c tavrel-sim usr/bin/tavrel-sim &&
        c tavrel-sim "$lib/tavrel-sim/libtavrel-sim.so" && c tavrel-sim usr/share/man/man1/tavrel-sim.1.gz'
    expect "tavrel-sim holds the board API: header, library, pkg-config and CMake files" \
        'c tavrel-sim usr/include/tavrel_simboard.h && c tavrel-sim "$lib/libtavrel-simboard.a" &&
        c tavrel-sim "$lib/pkgconfig/tavrel-sim.pc" && c tavrel-sim "$lib/cmake/tavrel-sim/tavrel-simConfig.cmake"'
fi

if [ "$arch" != armhf ]; then
    py=usr/lib/python3/dist-packages
    expect "python3-tavrel holds the module, its pin factory and test helper, and gpiozero's entry point" \
        'c python3-tavrel $py/tavrel/__init__.py && c python3-tavrel $py/tavrel/pinfactory.py &&
        c python3-tavrel $py/tavrel/testing.py &&
        grep -qx "tavrel = tavrel.pinfactory:TavrelFactory" "$tmp/python3-tavrel/$py/tavrel-$version.dist-info/entry_points.txt"'
    expect "python3-tavrel depends on python3 and libtavrel1 (>= $version)" \
        '[ "$(dpkg-deb --field "$(deb_of python3-tavrel)" Depends)" = "python3:any, libtavrel1 (>= $version)" ]'
    expect "python3-tavrel enhances gpiozero" \
        '[ "$(dpkg-deb --field "$(deb_of python3-tavrel)" Enhances)" = "python3-gpiozero" ]'
fi

expect "SONAME libtavrel.so.1" 'readelf -d "$tmp/libtavrel1/$lib/$real" | grep -q "SONAME.*\[libtavrel.so.1\]"'
dpkg-deb --ctrl-tarfile "$build/libtavrel1_${version}_$arch.deb" | tar -x -C "$tmp" ./shlibs ./triggers
expect "libtavrel1's shlibs: libtavrel 1 libtavrel1 (>= $version)" \
    '[ "$(cat "$tmp/shlibs")" = "libtavrel 1 libtavrel1 (>= $version)" ]'
expect "libtavrel1 activates the ldconfig trigger" 'grep -qx "activate-noawait ldconfig" "$tmp/triggers"'
# MAJOR.MINOR.PATCH is MAJOR, a full stop, MINOR in two digits, and the
# PATCH-th letter from A.
major=${version%%.*} rest=${version#*.}
minor=${rest%%.*} patch=${rest#*.}
want=$(printf '%d.%02d%b' "$major" "$minor" "\\$(printf %03o $((65 + patch)))")
text=$(cat "$tmp/libtavrel1/opt/tavrel/VERSION")
expect "the version file holds $want, for release $version" '[ "$text" = "$want" ]'

# Overrides in the packages carry their reasons as comments.
if [ "$arch" = armhf ]; then
    expect "tavrel-pizero holds tavrel-pizero(1), the guest's glibc and stand-in, and the release" \
        'c tavrel-pizero usr/bin/tavrel-pizero && c tavrel-pizero usr/share/man/man1/tavrel-pizero.1.gz &&
        c tavrel-pizero usr/lib/tavrel-pizero/root/lib/ld-linux-armhf.so.3 &&
        c tavrel-pizero usr/lib/tavrel-pizero/root/lib/arm-linux-gnueabihf/libc.so.6 && c tavrel-pizero usr/lib/tavrel-pizero/libtavrel-gpiomem.so &&
        c tavrel-pizero "usr/lib/tavrel-pizero/root/$lib/$real" && c tavrel-pizero usr/lib/tavrel-pizero/root/usr/bin/tavrel-gpio_mode &&
        c tavrel-pizero usr/lib/tavrel-pizero/root/opt/tavrel/VERSION'
fi
debs=$(for p in $packages; do deb_of $p; done)
expect "lintian: no error or warning" 'lintian --fail-on error,warning $debs >"$tmp/lintian" 2>&1'
grep -v "running with root privileges" "$tmp/lintian" | sed 's/^/     /' || true
exit $status
