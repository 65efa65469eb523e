#!/bin/sh
# SPDX-License-Identifier: MIT
# A scratch root of Debian packages from a suite this machine does not run
# (Debian 13, "trixie", say), for running them as they are: the packages
# and everything they depend on, fetched once from Debian's archive with a
# private apt configuration (/etc/apt untouched) and unpacked, cached in
# ${XDG_CACHE_HOME:-~/.cache}/tavrel-debian. Prints the root's path.
# Programs run there with the root's own loader and libraries:
#   ROOT/usr/lib/TRIPLET/ld-linux-*.so.* --library-path ROOT/usr/lib/TRIPLET PROGRAM
# Usage: debian-root.sh SUITE ARCH PACKAGE...
set -eu
[ $# -ge 3 ] || { echo "usage: debian-root.sh SUITE ARCH PACKAGE..." >&2; exit 2; }
suite=$1 arch=$2
shift 2
# The layout's version, then the packages asked for.
key="4 $(printf '%s\n' "$@" | sort | tr '\n' ' ')"
cache=${XDG_CACHE_HOME:-$HOME/.cache}/tavrel-debian/$suite-$arch-$(printf '%s' "$key" | md5sum | cut -c1-12)
if [ -f "$cache/ready" ]; then
    echo "$cache/root"
    exit 0
fi
rm -rf "$cache"
mkdir -p "$cache/apt/lists/partial" "$cache/apt/cache/archives/partial" "$cache/debs" "$cache/root"
: >"$cache/apt/status"
# The host's mirrors, for the other suite.
uris=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v security | head -n 1)
[ -n "$uris" ] || uris=$(sed -n 's/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\) .*/\2/p' /etc/apt/sources.list 2>/dev/null |
    grep -v security | head -n 1)
[ -n "$uris" ] || uris=http://deb.debian.org/debian
cat >"$cache/apt/debian.sources" <<EOF
Types: deb
URIs: $uris
Suites: $suite
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
cat >"$cache/apt/apt.conf" <<EOF
APT::Architecture "$arch";
APT::Architectures { "$arch"; };
Dir::Etc::SourceList "/dev/null";
Dir::Etc::SourceParts "$cache/apt";
Dir::State::Lists "$cache/apt/lists";
Dir::State::status "$cache/apt/status";
Dir::Cache "$cache/apt/cache";
APT::Sandbox::User "root";
Acquire::http::Timeout "60";
Acquire::Retries "2";
EOF
export APT_CONFIG="$cache/apt/apt.conf"
echo "debian-root: fetching $* ($suite, $arch) and what they depend on, once" >&2
timeout 600 apt-get update -qq >&2 || { echo "debian-root: apt-get update of $suite failed" >&2; exit 1; }
# With an empty status every dependency is to be installed: the closure.
packages=$(apt-get -s -qq install "$@" | awk '$1 == "Inst" { print $2 }')
[ -n "$packages" ] || { echo "debian-root: $suite has none of $*" >&2; exit 1; }
# shellcheck disable=SC2086
(cd "$cache/debs" && timeout 900 apt-get download -qq $packages >&2) ||
    { echo "debian-root: downloading from $suite failed" >&2; exit 1; }
for deb in "$cache"/debs/*.deb; do dpkg-deb -x "$deb" "$cache/root"; done
# Merged /usr, as an installed Debian 13 has it: programs name their loader
# under /lib.
for dir in bin sbin lib lib64; do
    [ -d "$cache/root/usr/$dir" ] && [ ! -e "$cache/root/$dir" ] && ln -s "usr/$dir" "$cache/root/$dir"
done
# What maintainer scripts would have made: the mount points, and cc, the
# alternative gcc's scripts set.
mkdir -p "$cache/root/dev" "$cache/root/proc" "$cache/root/run" "$cache/root/tmp"
chmod 1777 "$cache/root/tmp"
[ -e "$cache/root/usr/bin/gcc" ] && [ ! -e "$cache/root/usr/bin/cc" ] && ln -s gcc "$cache/root/usr/bin/cc"
# dpkg's record of them as installed, so that apt-get can install more
# into a copy of the root.
mkdir -p "$cache/root/var/lib/dpkg/info" "$cache/root/var/lib/dpkg/updates"
: >"$cache/root/var/lib/dpkg/available"
for deb in "$cache"/debs/*.deb; do
    dpkg-deb --field "$deb"
    printf 'Status: install ok installed\n\n'
done >"$cache/root/var/lib/dpkg/status"
touch "$cache/ready"
echo "$cache/root"
