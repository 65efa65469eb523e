#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds libtavrel and runs tavrel-gpio_mode against the simulated board,
# showing what it changed.
set -eu
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_missing cmake g++ make

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTAVREL_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
echo "$ tavrel-sim --reset --changes -- tavrel-gpio_mode -p 18 -f 5"
build/sim/tavrel-sim --board build/quickstart.board --reset --changes -- build/tool/tavrel-gpio_mode -p 18 -f 5
