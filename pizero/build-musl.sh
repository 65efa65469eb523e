#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds musl's libc.so for the ARM1176 (ARMv6KZ, VFPv2, hard-float) from
# Debian's source package. Its dynamic loader runs the unmodified
# glibc-linked release binaries on qemu's arm1176 model, which Debian's
# own armhf C library (built for ARMv7) cannot.
# Usage: build-musl.sh OUTPUT_DIR      (prints the path of libc.so)
set -eu
out=$(mkdir -p "$1" && cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
lib=$out/libc.so
[ -f "$lib" ] && { echo "$lib"; exit 0; }
mkdir -p "$out/apt/lists/partial" "$out/apt/cache/archives/partial" "$out/src"

src=$(find "$out/src" -maxdepth 1 -type d -name 'musl-*' | head -n 1)
if [ -z "$src" ]; then
    # A private apt configuration with deb-src entries derived from the
    # machine's own sources; /etc/apt stays as it is.
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f"
    done >"$out/apt/deb-src.sources"
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] && sed -n 's/^deb /deb-src /p' "$f"
    done >"$out/apt/deb-src.list"
    apt_opts="-o Dir::Etc::SourceList=$out/apt/deb-src.list -o Dir::Etc::SourceParts=$out/apt
      -o Dir::State::Lists=$out/apt/lists -o Dir::Cache=$out/apt/cache -o APT::Sandbox::User=root"
    # shellcheck disable=SC2086
    apt-get $apt_opts update -qq >&2
    # shellcheck disable=SC2086
    (cd "$out/src" && apt-get $apt_opts source -qq musl >&2)
    src=$(find "$out/src" -maxdepth 1 -type d -name 'musl-*' | head -n 1)
fi

cc=arm-linux-gnueabihf-gcc
flags="-mcpu=arm1176jzf-s -marm -mfpu=vfp -mfloat-abi=hard"
# libgcc.a is Thumb-2: musl takes the SDK runtime's ARM-mode libgcc
# routines instead, as the shipped binaries do.
rt=$root/runtime/armv6
for unit in divide bits int64 convert complex cache; do
    $cc $flags -O2 -fPIC -c "$rt/$unit.c" -o "$out/$unit.o"
done
$cc $flags -c "$rt/divmod.S" -o "$out/divmod.o"
(cd "$out" && arm-linux-gnueabihf-ar rcs libcc.a divide.o divmod.o bits.o int64.o convert.o complex.o cache.o)
# glibc's pthread_atfork lives in libc_nonshared.a and calls
# __register_atfork, which musl lacks; the released library calls it directly.
cat >"$src/src/thread/__register_atfork.c" <<'EOF2'
#include <pthread.h>
int __register_atfork(void (*prepare)(void), void (*parent)(void), void (*child)(void), void* dso)
{
    (void)dso;
    return pthread_atfork(prepare, parent, child);
}
EOF2
rm -f "$src/lib/libc.so"  # relinked with this libcc.a
(cd "$src" && CC=$cc CFLAGS="$flags -O2" LIBCC="$out/libcc.a" ./configure \
    --target=arm-linux-gnueabihf --disable-static >&2 && make -j"$(nproc)" lib/libc.so >&2)
cp "$src/lib/libc.so" "$lib"
echo "$lib"
