#!/bin/sh
# Installs what is missing and runs every test.
set -eu
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_missing cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev binutils

cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVREL_WERROR=ON
cmake --build build-test -j"$(nproc)"
cd build-test
ctest --output-on-failure -j"$(nproc)"
