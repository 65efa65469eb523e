#!/bin/sh
# SPDX-License-Identifier: MIT
# The virtual Pi Zero: QEMU's raspi0 machine (an ARM1176 with its MMU and
# QEMU's model of the BCM2835 GPIO block) booting Debian's own rpi kernel,
# with the armhf release packages installed in it, unmodified. With
# --model 3b, a virtual 64-bit Pi 3: QEMU's raspi3b (the BCM2837's block,
# the same design) booting Debian's arm64 kernel, with the arm64 release.
#
#   tavrel-pizero [--with FILE]... run PROGRAM [ARGS...]
#       runs a program of the board's there (a file here, or a command
#       the guest has), prints its output and then the pin table, and
#       exits with its status
#   tavrel-pizero shell
#       an interactive shell there (Ctrl-A X ends QEMU)
#   tavrel-pizero [--with FILE]... script FILE
#       runs the shell script FILE there and exits with its status
#   --model zero|3b the board (zero, the default); --with FILE puts FILE
#   in the guest's /run as well (repeatable); --build DIR the release
#   build to boot; --help prints this, --version the version
#
# The guest's C library is glibc, the one Raspberry Pi OS has, built for
# the ARM1176 from Debian's source (pizero/build-glibc.sh). Installed, it
# boots the release and the glibc that the tavrel-pizero package holds. As
# pizero/tavrel-pizero.sh [--build DIR] in the tree, it extracts the armhf
# packages libtavrel1 and tavrel-tools of an ARMv6 release build (default
# build-armv6) and takes the glibc that build-glibc.sh builds and caches.
# The kernel and busybox are fetched once, for armel, with a private apt
# configuration (/etc/apt untouched), and cached in
# ${XDG_CACHE_HOME:-~/.cache}/tavrel-pizero. The Pi 3 boots an AArch64
# release build (--build DIR, default build-aarch64 in the tree) with
# Debian 12's arm64 kernel, busybox and C library, fetched the same way and
# cached in its 3b folder.
#
# The kernel has no gpiomem driver: a test-only preloaded stand-in opens
# /dev/mem for /dev/gpiomem and maps the block's physical page.
set -eu
self=$(cd "$(dirname "$0")" && pwd)
# Installed (tavrel-pizero, from the tavrel-pizero package) or in the tree.
installed=""
[ -d "$self/../lib/tavrel-pizero/root" ] && installed=$(cd "$self/../lib/tavrel-pizero" && pwd)
here=$(cd "$self/.." && pwd)
build=$here/build-armv6

# The run's scratch files, and QEMU with its pipeline: a signal ends them
# all, removes the files, and ends this script as the signal says.
tmp=$(mktemp -d)
output=""
cleanup() {
    set +e
    if [ -s "$tmp/qemu.pid" ]; then kill "$(cat "$tmp/qemu.pid")" 2>/dev/null; fi
    # QEMU gone, its pipeline writes its last file and ends: only then go.
    if [ -n "$output" ]; then wait "$output" 2>/dev/null; fi
    rm -rf "$tmp"
}
trap cleanup EXIT
for sig in INT TERM HUP; do
    # shellcheck disable=SC2064
    trap "cleanup; trap - $sig EXIT; kill -$sig \$\$" $sig
done

usage() { sed -n '9,19p' "$0" | sed 's/^# \{0,1\}//'; }
version="@PROJECT_VERSION@"
case $version in @*) version=$(sed -n 's/^project(tavrel VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt" 2>/dev/null) ;; esac
# What the tree's own copy needs: a release build (ARMv6 for the Pi Zero).
build_hint="build one first, from the source tree: cmake -S . -B build-armv6
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/armv6-rpi.cmake -DCMAKE_BUILD_TYPE=Release &&
    cmake --build build-armv6 -j\"\$(nproc)\" && sh scripts/armv6-release.sh build-armv6"

mkdir "$tmp/with"
model=zero build_arg=""
while :; do
    case ${1:-} in
    -h | --help) usage && exit 0 ;;
    --version) echo "tavrel-pizero $version" && exit 0 ;;
    --build)
        build_arg=${2:-} && shift
        [ $# -gt 0 ] && shift
        ;;
    --model)
        case ${2:-} in
        zero | 3b) model=$2 && shift 2 ;;
        *) echo "tavrel-pizero: --model ${2:-}: the models are zero (the default) and 3b" >&2 && exit 2 ;;
        esac
        ;;
    --with)
        [ -f "$2" ] || { echo "tavrel-pizero: --with $2: no such file" >&2; exit 2; }
        cp "$2" "$tmp/with/" && shift 2
        ;;
    *) break ;;
    esac
done
# What each board takes: its QEMU machine, the Debian architecture its
# kernel and busybox come from, the release's, and its programs' loader.
if [ $model = 3b ]; then
    board="Pi 3" build_kind=AArch64 qemu=qemu-system-aarch64 machine=raspi3b memory=1024 fetch_arch=arm64 deb_arch=arm64
    kernel_package=linux-image-arm64 dtb_name=bcm2837-rpi-3-b.dtb loader_path=/lib/ld-linux-aarch64.so.1
    triplet=aarch64-linux-gnu
    cache_dir=/3b
    build_hint="build one first, from the source tree: cmake -S . -B build-aarch64
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=Release &&
    cmake --build build-aarch64 -j\"\$(nproc)\" && sh scripts/arm64-release.sh build-aarch64"
    build=$here/build-aarch64
    # The installed package holds the Pi Zero's release only.
    if [ -n "$installed" ] && [ -z "$build_arg" ]; then
        echo "tavrel-pizero: --model 3b boots an AArch64 release build: give it with --build DIR; $build_hint" >&2
        exit 1
    fi
else
    board="Pi Zero" build_kind=ARMv6 qemu=qemu-system-arm machine=raspi0 memory=512 fetch_arch=armel deb_arch=armhf
    kernel_package=linux-image-rpi dtb_name=bcm2835-rpi-zero.dtb loader_path=/lib/ld-linux-armhf.so.3
    triplet=arm-linux-gnueabihf
    cache_dir=""
fi
if [ -n "$build_arg" ]; then
    [ -d "$build_arg" ] || { echo "tavrel-pizero: --build $build_arg: no such directory; $build_hint" >&2; exit 1; }
    build=$(cd "$build_arg" && pwd) && installed=""
fi
mode=${1:-}
[ $# -gt 0 ] && shift
case $mode in
run | script) [ $# -ge 1 ] || { echo "usage: $(basename "$0") [--build DIR] $mode FILE [ARGS...]" >&2; exit 2; } ;;
shell) ;;
*)
    usage >&2
    exit 2
    ;;
esac

# Checked before anything is installed or fetched: without the release
# there is nothing to boot.
if [ -z "$installed" ]; then
    [ -f "$build/CMakeCache.txt" ] || { echo "tavrel-pizero: no $build_kind build in $build; $build_hint" >&2; exit 1; }
    build_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
    for pkg in libtavrel1 tavrel-tools; do
        [ -f "$build/${pkg}_${build_version}_$deb_arch.deb" ] || {
            echo "tavrel-pizero: $build has no ${pkg}_${build_version}_$deb_arch.deb; $build_hint" >&2
            exit 1
        }
    done
fi

if [ -z "$installed" ] && [ -f "$here/scripts/deps.sh" ]; then
    . "$here/scripts/deps.sh"
    install_missing qemu-system-arm cpio dpkg-dev binutils gawk bison
fi
for tool in $qemu cpio dpkg-deb apt-get readelf; do
    command -v $tool >/dev/null || { echo "tavrel-pizero: $tool is missing" >&2; exit 1; }
done

# ---- the kernel and busybox, fetched once --------------------------------
cache=${XDG_CACHE_HOME:-$HOME/.cache}/tavrel-pizero$cache_dir
# Fails at once, naming the directory, when the cache cannot take the
# fetch (about 60 MiB): read-only, full, or not ours.
check_cache() {
    if ! mkdir -p "$cache/apt/lists/partial" "$cache/apt/cache/archives/partial" "$cache/debs" 2>/dev/null ||
        ! dd if=/dev/zero of="$cache/.probe" bs=1M count=64 2>/dev/null; then
        rm -f "$cache/.probe"
        echo "tavrel-pizero: cannot write the cache $cache (read-only or full; it needs about 64 MiB);" \
            "set XDG_CACHE_HOME to another directory" >&2
        exit 1
    fi
    rm -f "$cache/.probe"
}
fetch() {
    [ -f "$cache/ready" ] && return 0
    check_cache
    : >"$cache/apt/status"
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && { cat "$f"; echo; }
    done >"$cache/apt/debian.sources"
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] && grep '^deb ' "$f"
    done >"$cache/apt/debian.list" || true
    cat >"$cache/apt/apt.conf" <<EOF
APT::Architecture "$fetch_arch";
APT::Architectures { "$fetch_arch"; };
Dir::Etc::SourceList "$cache/apt/debian.list";
Dir::Etc::SourceParts "$cache/apt";
Dir::State::Lists "$cache/apt/lists";
Dir::State::status "$cache/apt/status";
Dir::Cache "$cache/apt/cache";
APT::Sandbox::User "root";
Acquire::http::Timeout "60";
Acquire::Retries "2";
EOF
    export APT_CONFIG="$cache/apt/apt.conf"
    echo "tavrel-pizero: fetching Debian's $kernel_package and busybox ($fetch_arch), once" >&2
    timeout 600 apt-get update -qq >&2 || { echo "tavrel-pizero: apt-get update failed or took over 10 minutes" >&2; exit 1; }
    kernel=$(apt-cache depends $kernel_package | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -n 1)
    [ -n "$kernel" ] || { echo "tavrel-pizero: no $kernel_package in the archive" >&2; exit 1; }
    # The Pi 3's C library is Debian's; the Pi Zero's is built for it.
    libc=""
    [ $model = 3b ] && libc=libc6
    (cd "$cache/debs" && timeout 900 apt-get download -qq "$kernel" busybox-static $libc >&2) ||
        { echo "tavrel-pizero: downloading the kernel and busybox failed or took over 15 minutes" >&2; exit 1; }
    rm -rf "$cache/kernel" "$cache/busybox" "$cache/libc"
    # Of the kernel package, only the kernel and the board's device tree.
    dpkg-deb --fsys-tarfile "$cache"/debs/linux-image-*.deb |
        (mkdir "$cache/kernel" && cd "$cache/kernel" && tar -x --wildcards './boot/vmlinuz-*' "*/$dtb_name")
    dpkg-deb -x "$cache"/debs/busybox-static_*.deb "$cache/busybox"
    [ -z "$libc" ] || dpkg-deb -x "$cache"/debs/libc6_*.deb "$cache/libc"
    unset APT_CONFIG
    touch "$cache/ready"
}
fetch
vmlinuz=$(ls "$cache"/kernel/boot/vmlinuz-* | head -n 1)
dtb=$(find "$cache/kernel/usr/lib" -name "$dtb_name" | head -n 1)

# ---- the root file system: busybox, glibc, the release --------------------
root=$tmp/root
mkdir -p "$root/bin" "$root/lib" "$root/etc" "$root/proc" "$root/sys" "$root/dev" "$root/tmp" "$root/run"
cp "$cache/busybox/bin/busybox" "$root/bin/busybox"
if [ -n "$installed" ]; then
    cp -R "$installed/root/." "$root/"
    cp "$installed/libtavrel-gpiomem.so" "$root/lib/"
else
    for pkg in libtavrel1 tavrel-tools; do
        dpkg-deb -x "$build/${pkg}_${build_version}_$deb_arch.deb" "$root"
    done
    if [ $model = 3b ]; then
        cp -R "$cache/libc/." "$root/"
    else
        glibc=$(sh "$here/pizero/build-glibc.sh") || { echo "tavrel-pizero: building glibc for the ARM1176 failed" >&2; exit 1; }
        cp -R "$glibc/." "$root/"
    fi
    cp "$build/pizero/libtavrel-gpiomem.so" "$root/lib/"
fi
cp -R "$tmp/with/." "$root/run/"

# The payload, run by /init with the stand-in preloaded.
quote() { printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"; }
# A program the guest cannot run is refused before the boot, saying why,
# rather than left to fail there in a way that reads like its own fault.
refuse() {
    echo "tavrel-pizero: $program: $*" >&2
    exit 1
}
check_runnable() {
    program=$1
    [ -f "$program" ] || refuse "no such file"
    header=$(LC_ALL=C readelf -h "$program" 2>/dev/null) || refuse "not an ELF program"
    if [ $model = 3b ]; then
        case $header in *"Class:"*ELF64*"Machine:"*AArch64*) ;; *) refuse "not a 64-bit ARM (AArch64) program" ;; esac
    else
        case $header in *"Class:"*ELF32*"Machine:"*ARM*) ;; *) refuse "not a 32-bit ARM program" ;; esac
        case $header in *hard-float*) ;; *) refuse "built for soft-float (armel); the Pi Zero's programs are hard-float (armhf)" ;; esac
    fi
    info=$(LC_ALL=C readelf -W -l -d -V "$program" 2>/dev/null)
    loader=$(printf '%s\n' "$info" | sed -n 's/.*Requesting program interpreter: \(.*\)]$/\1/p')
    [ -z "$loader" ] || [ "$loader" = $loader_path ] ||
        refuse "its loader is $loader; the virtual $board has glibc's $loader_path"
    # Where glibc's loader looks, less the cache the board's ldconfig keeps.
    dirs=$(printf '%s\n' "$info" | sed -n 's/.*(R[UN]*PATH).*\[\(.*\)\]$/\1/p' | tr ':' '\n' | sed 's|\$ORIGIN|/run|; s|\${ORIGIN}|/run|')
    dirs="$dirs /lib/$triplet /usr/lib/$triplet /lib /usr/lib"
    for lib in $(printf '%s\n' "$info" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p'); do
        found=""
        for d in $dirs; do [ -e "$root$d/$lib" ] && found=$root$d/$lib && break; done
        [ -n "$found" ] || refuse "it needs $lib, which the virtual $board does not have" \
            "(it has glibc $glibc_version, libtavrel, and what --with puts in /run)"
        # A symbol version the guest's library lacks: built against a newer one.
        for v in $(printf '%s\n' "$info" | awk -v lib="$lib" '/File: /{on = index($0, "File: " lib "  ") > 0} on && / Name: /{print $3}'); do
            LC_ALL=C readelf -W -V "$found" | grep -q "Name: $v\$" ||
                refuse "it needs $v of $lib, which the virtual $board's lacks: it was built against a newer" \
                    "$lib (the guest has glibc $glibc_version, as Raspberry Pi OS 12, and this release's libtavrel)"
        done
    done
}
glibc_version=$(LC_ALL=C readelf -W -V "$root/lib/$triplet/libc.so.6" |
    sed -n 's/.*Name: GLIBC_\([0-9.]*\)$/\1/p' | sort -t. -k1,1n -k2,2n | tail -n 1)

case $mode in
run)
    # A bare name that is no file here is the guest's own command.
    case $1 in
    */*) guest="" ;;
    *) guest=$1 && [ -e "$1" ] && guest="" ;;
    esac
    if [ -z "$guest" ]; then
        check_runnable "$1"
        cp "$1" "$root/run/program"
        chmod +x "$root/run/program"
    fi
    shift
    {
        if [ -n "$guest" ]; then quote "$guest"; else printf '/run/program'; fi
        for a in "$@"; do printf ' %s' "$(quote "$a")"; done
        printf '\nstatus=$?\necho "@@tavrel-pizero pins"\ntavrel-gpio_state\nexit $status\n'
    } >"$root/run/payload"
    ;;
script)
    cp "$1" "$root/run/payload"
    ;;
shell)
    printf 'echo "the virtual %s: poweroff -f (or Ctrl-A X) ends it"\nsetsid cttyhack sh -l\n' "$board" >"$root/run/payload"
    ;;
esac
cat >"$root/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
export PATH=/usr/bin:/bin LD_PRELOAD=/lib/libtavrel-gpiomem.so
cd /tmp
echo "@@tavrel-pizero begin"
sh /run/payload
echo "@@tavrel-pizero status $?"
poweroff -f
EOF
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1 >"$tmp/initrd.gz")

# ---- boot ---------------------------------------------------------------
append="console=ttyAMA0 rdinit=/init panic=-1 quiet loglevel=1 iomem=relaxed"
# QEMU 7.2 lacks the power-domain block, whose driver would panic.
append="$append initcall_blacklist=bcm2835_power_driver_init"
set -- -M $machine -m $memory -kernel "$vmlinuz" -dtb "$dtb" -initrd "$tmp/initrd.gz" -append "$append" \
    -display none -no-reboot
if [ "$mode" = shell ]; then
    $qemu "$@" -serial mon:stdio
    exit 0
fi
# What the guest prints between the markers is the payload's; the kernel's
# own messages are left out. A guest that hangs is ended, and one that has
# reported its status but does not power off within 5 s too.
start=$(date +%s)
# mawk reads a pipe a block at a time unless asked for each line.
interactive=""
awk -W version 2>&1 | grep -q mawk && interactive="-W interactive"
{
    timeout "${TAVREL_PIZERO_TIMEOUT:-600}" $qemu "$@" -serial stdio -monitor none \
        -pidfile "$tmp/qemu.pid" </dev/null 2>"$tmp/qemu.err" || true
    : >"$tmp/ended"
    rm -f "$tmp/qemu.pid"
} | awk $interactive -v status="$tmp/status" '
    { sub(/\r$/, "") }
    /^@@tavrel-pizero begin$/ { on = 1; next }
    # The status follows the last line of the payload even when that line
    # lacks its newline.
    match($0, /@@tavrel-pizero status [0-9]+$/) {
        if (on && RSTART > 1) print substr($0, 1, RSTART - 1)
        split(substr($0, RSTART), word, " ")
        print word[3] > status; close(status); on = 0; next
    }
    /^@@tavrel-pizero pins$/ { if (on) print "--- the pins after it ---"; next }
    on { print; fflush() }' &
output=$!
# The reader gone too (its own output closed early) ends the wait.
while [ ! -s "$tmp/status" ] && [ ! -e "$tmp/ended" ] && kill -0 "$output" 2>/dev/null; do sleep 0.2; done
i=0
while [ ! -e "$tmp/ended" ] && [ $i -lt 25 ]; do
    sleep 0.2
    i=$((i + 1))
done
[ -e "$tmp/ended" ] || kill "$(cat "$tmp/qemu.pid")" 2>/dev/null || true
wait "$output" || true
# QEMU's raspi3b stays up after the guest powers off: its end by this
# script's signal is no news.
grep -v "terminating on signal 15 from pid $$ " "$tmp/qemu.err" >&2 || true
echo "tavrel-pizero: $(($(date +%s) - start)) s from power-on to power-off" >&2
[ -s "$tmp/status" ] || { echo "tavrel-pizero: the virtual $board ended without reporting a status" >&2; exit 1; }
status=$(cat "$tmp/status")
if [ "$status" = 132 ] && [ $model = zero ]; then
    echo "tavrel-pizero: the program died of SIGILL: it uses instructions the Pi Zero's ARM1176" \
        "lacks (ARMv7 or Thumb-2 code). sdk/tavrel-armv6-check PROGRAM shows the first one." >&2
fi
exit "$status"
