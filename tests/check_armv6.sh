#!/bin/sh
# SPDX-License-Identifier: MIT
# Proves that ARM binaries hold only what an ARM1176JZF-S (Pi Zero, Pi 1)
# runs: ARMv6KZ in ARM state, VFPv2, the hard-float calling convention,
# and no library beyond an allowlist. Run it on unstripped binaries.
#
# readelf's attributes are not proof on their own, as raw instruction
# words would slip past them: the code is disassembled and assembled
# again for ARMv6KZ with VFPv2, which rejects dmb, movw/movt, bit-field
# instructions, sdiv, VFPv3 and NEON.
# Usage: check_armv6.sh [--tools-prefix PREFIX] BINARY...
set -u
prefix=arm-linux-gnueabihf-
if [ "${1:-}" = "--tools-prefix" ]; then prefix=$2; shift 2; fi
allowed_needed="libc.so.6 libtavrel.so.1 ld-linux-armhf.so.3"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0

fail() {
    echo "FAIL $1: $2"
    status=1
}

for bin in "$@"; do
    name=$(basename "$bin")
    ok=1
    "${prefix}readelf" -h "$bin" | grep -q 'hard-float ABI' || { fail "$name" "no hard-float ABI flag"; ok=0; }

    attrs=$("${prefix}readelf" -A "$bin")
    arch=$(printf '%s\n' "$attrs" | sed -n 's/.*Tag_CPU_arch: //p')
    case "$arch" in v6KZ | v6K | v6 | v6Z) ;; *) fail "$name" "architecture '$arch', not ARMv6"; ok=0 ;; esac
    printf '%s\n' "$attrs" | grep -q 'Tag_THUMB_ISA_use: Thumb-2' && { fail "$name" "Thumb-2 allowed"; ok=0; }
    printf '%s\n' "$attrs" | grep -q 'Tag_ABI_VFP_args: VFP registers' || { fail "$name" "arguments not in VFP registers"; ok=0; }
    printf '%s\n' "$attrs" | grep -q 'Tag_Advanced_SIMD_arch' && { fail "$name" "NEON allowed"; ok=0; }

    if "${prefix}nm" "$bin" 2>/dev/null | awk '$NF ~ /^\$t/' | grep -q .; then
        fail "$name" "Thumb code present (\$t mapping symbols)"
        ok=0
    fi

    for lib in $("${prefix}readelf" -d "$bin" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        case " $allowed_needed " in *" $lib "*) ;; *) fail "$name" "needs $lib"; ok=0 ;; esac
    done

    # objdump's text, back into assembler source: comments dropped, branch
    # targets made local (only the encoding class matters), coprocessor
    # operands in the assembler's spelling.
    "${prefix}objdump" -d --no-show-raw-insn "$bin" |
        awk -F'\t' '/^ *[0-9a-f]+:\t/ { line = $2; if (NF > 2) line = line " " $3; print line }' |
        sed -e 's/<[^>]*>//g' \
            -e 's/[;@].*$//' \
            -e 's/[[:space:]]*$//' \
            -e 's/^\(b[a-z]*\)[[:space:]]\+[0-9a-f]\+$/\1 ./' \
            -e 's/^\(mcr2\?\|mrc2\?\|cdp2\?\|ldc[a-z0-9]*\|stc[a-z0-9]*\|mcrr2\?\|mrrc2\?\)\([[:space:]]\+\)\([0-9]\+\),/\1\2p\3,/' \
            -e 's/^nop[[:space:]]*{0}$/nop/' \
            -e 's/{\([0-9]\+\)}$/\1/' \
            -e 's/^\(ldrd[a-z]*\|strd[a-z]*\)[[:space:]]\+r\([0-9]\+\), \[/\1 r\2, RNEXT\2, [/' |
        awk '{ if (match($0, /RNEXT[0-9]+/)) { n = substr($0, RSTART + 5, RLENGTH - 5) + 1; sub(/RNEXT[0-9]+/, "r" n) } print }' \
            >"$tmp/$name.body"
    { printf '\t.syntax unified\n\t.arm\n'; sed 's/^/\t/' "$tmp/$name.body"; } >"$tmp/$name.s"
    if ! "${prefix}as" -march=armv6kz -mfpu=vfpv2 -o /dev/null "$tmp/$name.s" 2>"$tmp/$name.err"; then
        fail "$name" "instructions outside ARMv6KZ/VFPv2:"
        grep -i 'error' "$tmp/$name.err" | head -10 | while IFS= read -r line; do
            n=$(printf '%s' "$line" | sed -n 's/.*\.s:\([0-9]*\):.*/\1/p')
            printf '    %s   [%s]\n' "$(printf '%s' "$line" | sed 's/.*Error: //')" "$(sed -n "${n}p" "$tmp/$name.s" | tr -s '\t' ' ')"
        done
        ok=0
    fi
    [ $ok = 1 ] && echo "ok   $name: $arch, VFPv2, hard-float, ARM state only, $(wc -l <"$tmp/$name.body") instructions re-assembled"
done
exit $status
