#!/bin/sh
# SPDX-License-Identifier: MIT
# As root: installs Debian packages with apt-get, exactly as the README
# says, in a copy-on-write view of this machine (an overlay on /, in a mount
# namespace of its own, so the machine itself is untouched), then runs
# STEPS there (a shell script, run in the directory holding the packages
# and FILEs) and prints what it printed. STEPS checks what it needs. With
# TAVREL_APT_ROOT, the view is of that root instead (a Debian 13 one from
# scripts/debian-root.sh, say), of this machine's architecture.
# Usage: [TAVREL_APT_ROOT=DIR] apt-install.sh STEPS DEB... [-- FILE...]
set -eu
steps=$1
shift
if [ "$(id -u)" -ne 0 ]; then
    echo "skip apt-get install of $(basename "$steps" .sh): needs root"
    exit 0
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/upper" "$tmp/work" "$tmp/view" "$tmp/in"
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    cp "$1" "$tmp/in/"
    shift
done
[ $# -gt 0 ] && shift
for f in "$@"; do cp "$f" "$tmp/in/"; done
{
    echo "set -eu"
    echo "cd /run/tavrel-in"
    echo 'DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /run/tavrel-in/*.deb >apt.log 2>&1 || { cat apt.log; exit 1; }'
    cat "$steps"
} >"$tmp/in/steps.sh"

status=0
unshare --mount sh -eu -c '
    t=$1 lower=$2
    mount --make-rprivate /
    mount -t overlay overlay -o "lowerdir=$lower,upperdir=$t/upper,workdir=$t/work" "$t/view"
    mount --rbind /dev "$t/view/dev"
    mount -t proc proc "$t/view/proc"
    mount -t tmpfs tmpfs "$t/view/run"
    mkdir "$t/view/run/tavrel-in"
    mount --bind "$t/in" "$t/view/run/tavrel-in"
    exec chroot "$t/view" sh /run/tavrel-in/steps.sh' sh "$tmp" "${TAVREL_APT_ROOT:-/}" >"$tmp/out" 2>&1 || status=$?
if [ $status -ne 0 ] && grep -q "mount:.*permission denied\|unshare failed\|Operation not permitted" "$tmp/out"; then
    echo "skip apt-get install of $(basename "$steps" .sh): no mount namespace here"
    exit 0
fi
sed 's/^/     /' "$tmp/out"
if [ $status -eq 0 ]; then echo "ok   apt-get install, then $(basename "$steps" .sh)"; else
    echo "FAIL apt-get install, then $(basename "$steps" .sh)"; fi
exit $status
