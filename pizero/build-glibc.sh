#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds glibc for the ARM1176 (ARMv6KZ, VFPv2, hard-float) from Debian's
# source package: the C library that Raspberry Pi OS gives programs, at the
# version whose headers and link stubs the cross compiler and the SDK link
# against. Debian's own armhf glibc, libgcc and startup objects are ARMv7
# Thumb-2 code, which the ARM1176 cannot run; this one takes the SDK
# runtime's ARM-mode libgcc routines and crt-glibc.c's startup objects.
#
# The result is cached, keyed by everything that goes into it, under
# ${XDG_CACHE_HOME:-~/.cache}/tavrel-pizero/glibc: only the first build
# pays (about 15 minutes on 2 cores).
# Usage: build-glibc.sh     (prints the directory of the root file system
#                            part it made: lib/ld-linux-armhf.so.3 and
#                            lib/arm-linux-gnueabihf/lib*.so.*)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tree=$(cd "$here/.." && pwd)
rt=$tree/runtime/armv6
cache=${XDG_CACHE_HOME:-$HOME/.cache}/tavrel-pizero/glibc
key=$(cat "$0" "$here/crt-glibc.c" "$rt"/*.c "$rt"/*.h "$rt"/*.S | sha256sum | cut -c1-16)
out=$cache/$key
[ -f "$out/done" ] && { echo "$out/root"; exit 0; }
mkdir -p "$cache" || { echo "build-glibc: cannot write $cache" >&2; exit 1; }
exec 9>"$cache/lock"
flock 9
[ -f "$out/done" ] && { echo "$out/root"; exit 0; }
rm -rf "$out"
mkdir -p "$out/rt" "$out/build"
echo "build-glibc: building glibc for the ARM1176 from Debian's source, once (about 15 minutes on 2 cores)" >&2

# ---- Debian's source, downloaded once -----------------------------------
apt=$cache/apt
if ! ls "$cache"/src/glibc_*.dsc >/dev/null 2>&1; then
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$cache/src"
    # A private apt configuration with deb-src entries derived from the
    # machine's own sources; /etc/apt stays as it is.
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f"
    done >"$apt/deb-src.sources"
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] && sed -n 's/^deb /deb-src /p' "$f"
    done >"$apt/deb-src.list"
    set -- -o "Dir::Etc::SourceList=$apt/deb-src.list" -o "Dir::Etc::SourceParts=$apt" \
        -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o APT::Sandbox::User=root \
        -o Acquire::http::Timeout=60 -o Acquire::Retries=2
    timeout 600 apt-get "$@" update -qq >&2 &&
        (cd "$cache/src" && timeout 900 apt-get "$@" source --download-only -qq glibc >&2) || {
        rm -f "$cache"/src/glibc_*.dsc
        echo "build-glibc: fetching Debian's glibc source failed or took too long" >&2
        exit 1
    }
fi
dpkg-source --no-check -x "$(ls "$cache"/src/glibc_*.dsc | head -n 1)" "$out/src" >/dev/null
src=$out/src
# The Debian tarball leaves the manual out.
sed -i 's/ manual / /' "$src/Makeconfig"
# iWMMXt is an XScale extension the ARM1176 lacks: the code that saves
# its registers behind a HWCAP test never runs there, and is dropped so
# that every instruction left is one the ARM1176 has.
for f in sysdeps/arm/setjmp.S sysdeps/arm/__longjmp.S \
    sysdeps/unix/sysv/linux/arm/getcontext.S sysdeps/unix/sysv/linux/arm/setcontext.S; do
    sed -i '/tst.*HWCAP_ARM_IWMMXT/,/^\.Lno_iwmmxt[_a-z]*:/d' "$src/$f"
done

# ---- the ARM-mode runtime in place of libgcc and GCC's startup objects ---
flags="-mcpu=arm1176jzf-s -marm -mfpu=vfp -mfloat-abi=hard"
cc="arm-linux-gnueabihf-gcc $flags"
for unit in divide bits int64 convert complex cache; do
    $cc -O2 -fPIC -c "$rt/$unit.c" -o "$out/rt/$unit.o"
done
$cc -c "$rt/divmod.S" -o "$out/rt/divmod.o"
(cd "$out/rt" && arm-linux-gnueabihf-ar rcs libgcc.a divide.o divmod.o bits.o int64.o convert.o complex.o cache.o &&
    arm-linux-gnueabihf-ar rcs libgcc_eh.a)
$cc -O2 -fPIC -DSHARED -c "$here/crt-glibc.c" -o "$out/rt/crtbeginS.o"
$cc -O2 -c "$here/crt-glibc.c" -o "$out/rt/crtbegin.o"
cp "$out/rt/crtbegin.o" "$out/rt/crtbeginT.o"
$cc -O2 -DCRTEND -c "$here/crt-glibc.c" -o "$out/rt/crtend.o"
cp "$out/rt/crtend.o" "$out/rt/crtendS.o"

# ---- configure and build --------------------------------------------------
# -B puts the stand-ins ahead of GCC's own, for -lgcc and the startup files.
# Debian's layout: the loader in /lib, the libraries in the multiarch
# directories; /lib and /usr/lib are searched as well, as there.
cat >"$out/build/configparms" <<EOF
slibdir=/lib/arm-linux-gnueabihf
rtlddir=/lib
user-defined-trusted-dirs=/lib:/usr/lib
EOF
(cd "$out/build" && CC="$cc -B$out/rt/" CFLAGS="-O2 -g0" "$src/configure" \
    --host=arm-linux-gnueabihf --build="$(gcc -dumpmachine)" --prefix=/usr \
    --libdir=/usr/lib/arm-linux-gnueabihf --with-headers=/usr/arm-linux-gnueabihf/include \
    --disable-werror --enable-kernel=3.2 --disable-profile --disable-nscd --without-selinux \
    --disable-crypt --disable-timezone-tools >"$out/configure.log" 2>&1) || {
    echo "build-glibc: configure failed; see $out/configure.log" >&2
    exit 1
}
nice make -C "$out/build" -j"$(nproc)" >"$out/make.log" 2>&1 || {
    echo "build-glibc: make failed; see $out/make.log" >&2
    exit 1
}

# ---- the loader and the libraries a program may need ----------------------
set -- elf/ld.so libc.so.6 math/libm.so.6 resolv/libresolv.so.2 dlfcn/libdl.so.2 nptl/libpthread.so.0 \
    rt/librt.so.1 login/libutil.so.1 resolv/libanl.so.1 nss/libnss_files.so.2 resolv/libnss_dns.so.2
# What it made must be code the ARM1176 runs: the checker stands guard,
# before stripping drops the mapping symbols that tell code from data.
(cd "$out/build" && "$tree/sdk/tavrel-armv6-check" "$@") >"$out/check.log" 2>&1 || {
    cat "$out/check.log" >&2
    echo "build-glibc: what it built holds code the ARM1176 cannot run" >&2
    exit 1
}
mkdir -p "$out/root/lib/arm-linux-gnueabihf"
for lib; do
    case $lib in
    elf/ld.so) to=lib/ld-linux-armhf.so.3 ;;
    *) to=lib/arm-linux-gnueabihf/${lib##*/} ;;
    esac
    arm-linux-gnueabihf-strip --strip-unneeded -o "$out/root/$to" "$out/build/$lib"
done
chmod 644 "$out"/root/lib/arm-linux-gnueabihf/*
chmod 755 "$out/root/lib/ld-linux-armhf.so.3" # the kernel executes it
rm -rf "$out/src" "$out/build" "$out"/*.orig.tar.*
: >"$out/done"
echo "$out/root"
