#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds libtavrel and runs tavrel-gpio_mode against the simulated board,
# showing what it changed.
set -eu
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_missing cmake g++ make
mkdir -p build

# A line per step: the build takes a minute or so on two cores.
echo "quickstart: configuring the build in build/"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTAVREL_BUILD_TESTS=OFF >build/quickstart.log 2>&1 ||
    { cat build/quickstart.log >&2; exit 1; }
echo "quickstart: building the library, the tools and tavrel-sim with $(nproc) jobs"
cmake --build build -j"$(nproc)" >>build/quickstart.log 2>&1 || { tail -n 40 build/quickstart.log >&2; exit 1; }
echo "quickstart: setting pin 18 to alt 5 on a fresh simulated board"
echo "$ tavrel-sim --reset --changes -- tavrel-gpio_mode -p 18 -f 5"
build/sim/tavrel-sim --board build/quickstart.board --reset --changes -- build/tool/tavrel-gpio_mode -p 18 -f 5
