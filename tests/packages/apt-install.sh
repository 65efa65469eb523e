#!/bin/sh
# SPDX-License-Identifier: MIT
# As root: installs Debian packages with apt-get, exactly as the README
# says, in a copy-on-write view of this machine (an overlay on /, in a mount
# namespace of its own, so the machine itself is untouched), then runs
# STEPS there (a shell script, run in the directory holding the packages
# and FILEs) and prints what it printed. STEPS checks what it needs. With
# TAVREL_APT_ROOT, the view is of that root instead (a Debian 13 one from
# scripts/debian-root.sh, say). A root of another architecture (arm64,
# armhf) runs under Debian's qemu-user-static, registered with binfmt_misc
# in a user namespace of this run's own: Linux 6.7 and later give each one
# its own registrations, so the machine's stay as they are.
# Usage: [TAVREL_APT_ROOT=DIR] apt-install.sh STEPS DEB... [-- FILE...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
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

root=${TAVREL_APT_ROOT:-/}
arch=$(awk '/^Package: libc6$/ { on = 1 } on && /^Architecture:/ { print $2; exit }' "$root/var/lib/dpkg/status")
binfmt=""
# The ELF header of the architecture's programs, and the bytes to compare.
elf_mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
case $arch in
arm64) qemu=aarch64 elf='\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00' ;;
armhf) qemu=arm elf='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x28\x00' ;;
*) qemu="" ;;
esac
if [ -n "$qemu" ] && [ "$arch" != "$(dpkg --print-architecture)" ]; then
    [ "$(uname -m)" = x86_64 ] || { echo "skip apt-get install of $(basename "$steps" .sh) on $arch: needs an x86-64 host"; exit 0; }
    static=$(sh "$here/../../scripts/debian-root.sh" bookworm amd64 qemu-user-static)/usr/bin/qemu-$qemu-static
    # F: the kernel opens the interpreter now, so it need not be in the root.
    binfmt=":tavrel-$qemu:M::$elf:$elf_mask:$static:FP"
fi

status=0
unshare --mount sh -eu -c '
    t=$1 lower=$2 binfmt=$3
    mount --make-rprivate /
    mount -t overlay overlay -o "lowerdir=$lower,upperdir=$t/upper,workdir=$t/work" "$t/view"
    mount --rbind /dev "$t/view/dev"
    mount -t tmpfs tmpfs "$t/view/run"
    mkdir "$t/view/run/tavrel-in"
    mount --bind "$t/in" "$t/view/run/tavrel-in"
    if [ -z "$binfmt" ]; then
        mount -t proc proc "$t/view/proc"
        exec chroot "$t/view" sh /run/tavrel-in/steps.sh
    fi
    # binfmt_misc mounted in a user namespace is that namespace'"'"'s own.
    exec unshare --map-root-user --pid --fork --mount sh -eu -c "
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
        printf %s '"'"'$binfmt'"'"' >/proc/sys/fs/binfmt_misc/register
        mount -t proc proc $t/view/proc
        exec chroot $t/view sh /run/tavrel-in/steps.sh"' sh "$tmp" "$root" "$binfmt" >"$tmp/out" 2>&1 || status=$?
if [ $status -ne 0 ] && grep -q "mount:.*permission denied\|unshare failed\|Operation not permitted" "$tmp/out"; then
    echo "skip apt-get install of $(basename "$steps" .sh): no mount namespace here"
    exit 0
fi
sed 's/^/     /' "$tmp/out"
if [ $status -eq 0 ]; then echo "ok   apt-get install, then $(basename "$steps" .sh)"; else
    echo "FAIL apt-get install, then $(basename "$steps" .sh)"; fi
exit $status
