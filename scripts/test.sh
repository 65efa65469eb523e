#!/bin/sh
# SPDX-License-Identifier: MIT
# Installs what is missing and runs every test: the host build with the
# simulated board, its Debian package, then the ARMv6 and AArch64 cross
# builds, their tests under qemu, the board's packages, the virtual Pi
# Zero and the ARMv6 SDK.
set -eu
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_missing cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev binutils pkgconf man-db \
    g++-arm-linux-gnueabihf qemu-user googletest dpkg-dev clang libclang-rt-14-dev valgrind \
    gtkwave xvfb xauth clang-format lintian qemu-system-arm cpio g++-aarch64-linux-gnu sigrok-cli

jobs=$(nproc)
echo "== the sources keep to .clang-format"
clang-format --dry-run --Werror $(git ls-files '*.cpp' '*.h' '*.c')
sh tests/check_licence.sh
echo "== host build and tests"
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVREL_WERROR=ON
cmake --build build-test -j"$jobs"
(cd build-test && ctest --output-on-failure -j"$jobs")
echo "== the host's Debian packages: contents, lintian, installed and used"
(cd build-test && cpack >/dev/null)
sh tests/packages/check.sh build-test amd64 x86_64-linux-gnu
sh tests/packages/install.sh build-test x86_64-linux-gnu
printf '%s\n' "$(cat build-test/VERSION)" >build-test/VERSION.expected
sh tests/packages/apt-install.sh tests/packages/use-host-packages.sh build-test/libtavrel1_*_amd64.deb \
    build-test/libtavrel-dev_*_amd64.deb build-test/tavrel-tools_*_amd64.deb build-test/tavrel-sim_*_amd64.deb \
    -- tests/packages/app.c build-test/VERSION.expected

echo "== the host tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVREL_WERROR=ON -DTAVREL_SANITIZE=address,undefined
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$jobs")

echo "== the listener and close tests under ThreadSanitizer"
# Plain shared memory: the trapping model's signal handler is not for TSan.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVREL_WERROR=ON -DTAVREL_SANITIZE=thread
cmake --build build-tsan -j"$jobs"
(cd build-tsan && TAVREL_SIM_MODE=plain TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/../tests/tsan.supp" \
    ctest --output-on-failure -j"$jobs" -R 'Listener|QuitSample|QuitProcess|Access|Stress\.')

echo "== fuzzing"
sh scripts/fuzz.sh 60

echo "== ARMv6 hard-float release build, checked, and its tests under qemu"
start=$(date +%s)
cmake -S . -B build-armv6 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/armv6-rpi.cmake \
    -DCMAKE_BUILD_TYPE=Release -DTAVREL_WERROR=ON
cmake --build build-armv6 -j"$jobs"
(cd build-armv6 && ctest --output-on-failure -j"$jobs")
sh scripts/armv6-release.sh build-armv6
echo "ARM stage: $(($(date +%s) - start)) s"

echo "== AArch64 build and its tests under qemu, the simulated board trapping"
start=$(date +%s)
cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake \
    -DCMAKE_BUILD_TYPE=Release -DTAVREL_WERROR=ON
cmake --build build-aarch64 -j"$jobs"
(cd build-aarch64 && ctest --output-on-failure -j"$jobs")
echo "AArch64 stage: $(($(date +%s) - start)) s"

echo "== the release packages on a virtual Pi Zero: Debian's rpi kernel on QEMU's raspi0"
start=$(date +%s)
with=""
for f in build-armv6/examples/tavrel-example-* build-armv6/tests/tavrel-pizero-fork-check; do with="$with --with $f"; done
# shellcheck disable=SC2086
sh scripts/pizero.sh --build build-armv6 $with script tests/pizero/checks.sh
sh tests/packages/apt-install.sh tests/packages/use-pizero.sh build-armv6/tavrel-pizero_*_all.deb
echo "virtual Pi Zero stage: $(($(date +%s) - start)) s"

echo "== the ARMv6 SDK: packaged from the tree, installed, and used for a project of a user's own"
start=$(date +%s)
sdk=$(sh scripts/sdk-package.sh build-sdk)
sh tests/packages/sdk.sh "$sdk" build-armv6
sh tests/packages/apt-install.sh tests/packages/use-sdk.sh "$sdk" build-armv6/tavrel-pizero_*_all.deb \
    -- examples/pizero-app/*
echo "SDK stage: $(($(date +%s) - start)) s"
