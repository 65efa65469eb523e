#!/bin/sh
# SPDX-License-Identifier: MIT
# Installs what is missing and runs every test, stage by stage:
#   sh scripts/test.sh             every stage, in order
#   sh scripts/test.sh STAGE...    the stages named
# Stages: checks host python debian13 packages asan tsan fuzz armv6 aarch64
# pizero pi3 sdk.
# A stage builds what it needs; each prints its time.
set -eu
cd "$(dirname "$0")/.."
. scripts/deps.sh

all_stages="checks host python debian13 packages asan tsan fuzz armv6 aarch64 pizero pi3 sdk"
jobs=$(nproc)

# Configures and builds DIR with the CMake options that follow.
build() {
    dir=$1
    shift
    cmake -S . -B "$dir" -DTAVREL_WERROR=ON "$@"
    cmake --build "$dir" -j"$jobs"
}

# Builds DIR as build does, then runs its tests with the ctest options in
# the second argument (a label, say).
build_and_test() {
    dir=$1
    ctest_options=$2
    shift 2
    build "$dir" "$@"
    # shellcheck disable=SC2086
    (cd "$dir" && ctest --output-on-failure -j"$jobs" $ctest_options)
}

host_build() { build build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo; }
# A Debian 13 root of ARCH as a user's machine has it, to install into.
debian13_root() {
    sh scripts/debian-root.sh trixie "$1" apt dash coreutils diffutils tar grep sed findutils libc-bin gcc libc6-dev \
        pkg-config python3-gpiozero man-db
}
armv6_build() {
    build build-armv6 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/armv6-rpi.cmake -DCMAKE_BUILD_TYPE=Release
}
aarch64_build() {
    build build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=Release
}

stage_checks() {
    echo "the sources keep to .clang-format, and name their licence"
    clang-format --dry-run --Werror $(git ls-files '*.cpp' '*.h' '*.c')
    sh tests/check_licence.sh
}

stage_host() {
    echo "the host build and its tests, on the simulated board"
    build_and_test build-test "-LE python" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    echo "the README's quick start, as a new user runs it, prints what the README shows"
    sh scripts/quickstart.sh >build-test/quickstart.out
    awk '/^\$ tavrel-sim --reset --changes -- tavrel-gpio_mode -p 18 -f 5$/ { n = 3 } n-- > 0' README.md \
        >build-test/quickstart.expected
    tail -n 3 build-test/quickstart.out | diff -u build-test/quickstart.expected -
}

stage_python() {
    echo "the Python module and the gpiozero pin factory, with Debian's Python, gpiozero and pytest"
    build_and_test build-test "-L python" -DCMAKE_BUILD_TYPE=RelWithDebInfo
}

stage_debian13() {
    echo "Debian 13's libgpiod 2 tools and python3-libgpiod under tavrel-sim, from a root of its packages"
    host_build
    root=$(sh scripts/debian-root.sh trixie amd64 gpiod python3-libgpiod python3)
    sh tests/cdev/gpiod2_tools.sh build-test/sim/tavrel-sim "$root"
}

stage_packages() {
    echo "the host's Debian packages: contents, lintian, installed and used"
    host_build
    (cd build-test && cpack >/dev/null)
    sh tests/packages/check.sh build-test amd64 x86_64-linux-gnu
    sh tests/packages/install.sh build-test x86_64-linux-gnu
    printf '%s\n' "$(cat build-test/VERSION)" >build-test/VERSION.expected
    set -- build-test/libtavrel1_*_amd64.deb build-test/libtavrel-dev_*_amd64.deb \
        build-test/tavrel-tools_*_amd64.deb build-test/tavrel-sim_*_amd64.deb build-test/python3-tavrel_*_all.deb \
        -- tests/packages/app.c build-test/VERSION.expected
    sh tests/packages/apt-install.sh tests/packages/use-host-packages.sh "$@"
    echo "the same, installed on Debian 13: glibc 2.41, Python 3.13, gpiozero 1.6.2"
    TAVREL_APT_ROOT=$(debian13_root amd64) sh tests/packages/apt-install.sh tests/packages/use-host-packages.sh "$@"
}

stage_asan() {
    echo "the host tests under AddressSanitizer and UndefinedBehaviorSanitizer"
    (
        export ASAN_OPTIONS=detect_leaks=1
        build_and_test build-asan "" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVREL_SANITIZE=address,undefined
    )
}

stage_tsan() {
    echo "the listener and close tests under ThreadSanitizer"
    # Plain shared memory: the trapping model's signal handler is not for TSan.
    (
        # No second's sleep at each exit waiting for other threads: the
        # tests start hundreds of short-lived processes.
        export TAVREL_SIM_MODE=plain \
            TSAN_OPTIONS="halt_on_error=1 atexit_sleep_ms=0 suppressions=$PWD/tests/tsan.supp"
        build_and_test build-tsan "-L threads" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVREL_SANITIZE=thread
    )
}

stage_fuzz() {
    echo "fuzzing"
    sh scripts/fuzz.sh 60
}

stage_armv6() {
    echo "the ARMv6 hard-float release build, checked, and its tests under qemu"
    build_and_test build-armv6 "" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/armv6-rpi.cmake \
        -DCMAKE_BUILD_TYPE=Release
    sh scripts/armv6-release.sh build-armv6
    echo "the armhf packages installed with apt-get on Debian 13 armhf (ARMv7, under qemu)"
    host_build
    (cd build-test && cpack -D CPACK_COMPONENTS_ALL=python >/dev/null)
    printf '%s\n' "$(cat build-armv6/VERSION)" >build-armv6/VERSION.expected
    TAVREL_APT_ROOT=$(debian13_root armhf) sh tests/packages/apt-install.sh tests/packages/use-board-packages.sh \
        build-armv6/libtavrel1_*_armhf.deb build-armv6/libtavrel-dev_*_armhf.deb build-armv6/tavrel-tools_*_armhf.deb \
        build-test/python3-tavrel_*_all.deb -- tests/packages/app.c build-armv6/VERSION.expected
}

stage_aarch64() {
    echo "the AArch64 build and its tests under qemu, the simulated board trapping, and its arm64 packages"
    build_and_test build-aarch64 "" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake \
        -DCMAKE_BUILD_TYPE=Release
    sh scripts/arm64-release.sh build-aarch64
    sh tests/packages/use-arm64.sh build-aarch64
    echo "the arm64 packages installed with apt-get on Debian 13 arm64 (under qemu) and used there"
    printf '%s\n' "$(cat build-aarch64/VERSION)" >build-aarch64/VERSION.expected
    TAVREL_APT_ROOT=$(debian13_root arm64) sh tests/packages/apt-install.sh tests/packages/use-host-packages.sh \
        build-aarch64/libtavrel1_*_arm64.deb build-aarch64/libtavrel-dev_*_arm64.deb \
        build-aarch64/tavrel-tools_*_arm64.deb build-aarch64/tavrel-sim_*_arm64.deb \
        build-aarch64/python3-tavrel_*_all.deb -- tests/packages/app.c build-aarch64/VERSION.expected
}

stage_pizero() {
    echo "the release packages on a virtual Pi Zero: Debian's rpi kernel on QEMU's raspi0"
    armv6_build
    [ -n "$(ls build-armv6/tavrel-pizero_*_all.deb 2>/dev/null)" ] || sh scripts/armv6-release.sh build-armv6
    set --
    for f in build-armv6/examples/tavrel-example-* build-armv6/tests/tavrel-pizero-fork-check \
        tests/support/check.sh; do
        set -- "$@" --with "$f"
    done
    sh pizero/tavrel-pizero.sh --build build-armv6 "$@" script tests/pizero/checks.sh
    sh tests/cdev/conformance.sh pizero "sh pizero/tavrel-pizero.sh --build build-armv6" \
        build-armv6/tests/tavrel-cdev-conformance
    sh tests/pizero/script_test.sh sh pizero/tavrel-pizero.sh --build build-armv6
    sh tests/packages/apt-install.sh tests/packages/use-pizero.sh build-armv6/tavrel-pizero_*_all.deb
}

stage_pi3() {
    echo "the arm64 release on a virtual 64-bit Pi 3: Debian's arm64 kernel on QEMU's raspi3b"
    aarch64_build
    [ -n "$(ls build-aarch64/libtavrel1_*_arm64.deb 2>/dev/null)" ] || sh scripts/arm64-release.sh build-aarch64
    pi3="sh pizero/tavrel-pizero.sh --model 3b --build build-aarch64"
    set --
    for f in build-aarch64/examples/tavrel-example-* build-aarch64/tests/tavrel-pizero-fork-check \
        tests/support/check.sh; do
        set -- "$@" --with "$f"
    done
    $pi3 "$@" script tests/pizero/checks.sh
    sh tests/cdev/conformance.sh pi3 "$pi3" build-aarch64/tests/tavrel-cdev-conformance
    sh tests/pizero/pi3_test.sh build-aarch64
    echo "Debian 13's gpiod tools on the Pi 3's kernel and under tavrel-sim, compared"
    host_build
    sh tests/cdev/gpiod2_referee.sh build-test/sim/tavrel-sim \
        "$(sh scripts/debian-root.sh trixie amd64 gpiod python3-libgpiod python3)" \
        "$(sh scripts/debian-root.sh trixie arm64 gpiod)" "$pi3"
}

stage_sdk() {
    echo "the ARMv6 SDK: packaged from the tree, installed, and used for a project of a user's own"
    armv6_build
    [ -n "$(ls build-armv6/tavrel-pizero_*_all.deb 2>/dev/null)" ] || sh scripts/armv6-release.sh build-armv6
    sdk=$(sh scripts/sdk-package.sh build-sdk)
    sh tests/packages/sdk.sh "$sdk" build-armv6
    sh tests/packages/apt-install.sh tests/packages/use-sdk.sh "$sdk" build-armv6/tavrel-pizero_*_all.deb \
        -- examples/pizero-app/*
}

stages=${*:-$all_stages}
for stage in $stages; do
    case " $all_stages " in
    *" $stage "*) ;;
    *)
        echo "scripts/test.sh: no stage '$stage'; the stages are: $all_stages" >&2
        exit 2
        ;;
    esac
done

install_missing cmake g++ make gawk bison libgtest-dev libgmock-dev libbenchmark-dev binutils pkgconf man-db \
    g++-arm-linux-gnueabihf qemu-user googletest dpkg-dev clang libclang-rt-14-dev valgrind \
    gtkwave xvfb xauth clang-format lintian qemu-system-arm cpio g++-aarch64-linux-gnu sigrok-cli \
    gpiod python3-libgpiod python3-gpiozero python3-pytest chromium groff-base

for stage in $stages; do
    start=$(date +%s)
    printf '== %s: ' "$stage"
    "stage_$stage"
    echo "$stage stage: $(($(date +%s) - start)) s"
done
