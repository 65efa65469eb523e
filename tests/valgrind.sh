#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs a program under valgrind's memcheck against a fresh simulated board;
# any memcheck error or leak fails.
# Usage: valgrind.sh SHIM PROGRAM [ARGS...]
set -eu
shim=$1
shift
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
: >"$tmp/board"  # empty: made a fresh board at first use
TAVREL_SIM_BOARD=$tmp/board LD_PRELOAD=$shim \
    valgrind -q --error-exitcode=99 --px-default=allregs-at-mem-access --leak-check=full \
    --errors-for-leak-kinds=definite,indirect "$@"
