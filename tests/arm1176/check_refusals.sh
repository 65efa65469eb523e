#!/bin/sh
# SPDX-License-Identifier: MIT
# tavrel-armv6-check says no to what an ARM1176 cannot run, however it is
# hidden: Thumb-2 code known only by its mapping symbols, an instruction
# word inside a function, ARMv7 code in .rodata (a warning: it may be data),
# a libgcc routine left for the board to provide.
# Usage: check_refusals.sh CC   (the ARMv6 cross compiler, with its flags)
set -u
here=$(cd "$(dirname "$0")" && pwd)
checker=$here/../../sdk/tavrel-armv6-check
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
passed=0 failed=0
expect() { # NAME PATTERN: a line of the checker's output matches
    if grep -q "$2" "$tmp/out"; then
        passed=$((passed + 1))
        echo "ok   $1"
    else
        failed=$((failed + 1))
        echo "FAIL $1: no line matches '$2' in:"
        sed 's/^/     /' "$tmp/out"
    fi
}
cat >"$tmp/hidden.c" <<'C'
/* Thumb-2, in raw encodings that leave the ARMv6 attributes alone: an IT
 * block and a 32-bit instruction, called through a pointer. */
__asm__(".text\n.thumb\n.thumb_func\n.global thumbf\n.type thumbf, %function\nthumbf:\n"
        "cmp r0, #0\n.inst.n 0xbf0c\nmovs r0, #1\n.inst.w 0xf04f0002\nbx lr\n.arm\n");
int thumbf(int);
int (*fp)(int) = thumbf;
/* dmb, as a data word the disassembler skips. */
int rawword(int x)
{
    __asm__ volatile(".word 0xf57ff05f");
    return x + 1;
}
/* ARMv7 code in .rodata, which the linker puts in the executable segment. */
__attribute__((section(".rodata"), aligned(4))) const unsigned v7code[] = {0xf57ff05f, 0xe12fff1e};
int entry(int argc)
{
    return fp(argc) + rawword(argc) + (int)v7code[1];
}
C
"$@" -O1 -c "$tmp/hidden.c" -o "$tmp/hidden.o" && "$@" -shared -nostdlib "$tmp/hidden.o" -o "$tmp/hidden.so" ||
    { echo "FAIL the test objects do not build"; exit 1; }
"$checker" "$tmp/hidden.o" "$tmp/hidden.so" >"$tmp/out" 2>&1
status=$?
expect "the checker fails" "FAIL"
[ $status -ne 0 ] && passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL the checker exited 0"; }
expect "Thumb code found by its mapping symbol" "FAIL .*hidden.o: Thumb code at 0x0"
expect "Thumb code found in the linked library" "FAIL .*hidden.so: Thumb code at 0x"
expect "a word inside a function, reached as code" "FAIL .*hidden.so: the word 0xf57ff05f at 0x[0-9a-f]* in rawword is reached as code and is dmb sy"
expect "ARMv7 code in .rodata, a warning" "warn .*hidden.so: .* in .rodata: 0xf57ff05f, dmb sy"

# Where the way on is open, a word is code: a function that begins with it
# (though it follows another's literal), or after a conditional return.
# Only what a load reads, and the word after an eight-byte literal, is
# data.
cat >"$tmp/fall.c" <<'C'
__asm__(".text\n.arm\n.type withlit, %function\nwithlit:\nldr r0, 1f\nbx lr\n1: .word 0x12345678\n"
        ".global startsraw\n.type startsraw, %function\nstartsraw:\n.word 0xf57ff05f\nbx lr\n"
        ".global condret\n.type condret, %function\ncondret:\npush {r4, lr}\ncmp r0, #0\npopne {r4, pc}\n"
        ".word 0xf57ff05f\npop {r4, pc}\n"
        ".global pool\n.type pool, %function\npool:\nldr r0, 2f\nldrd r2, r3, 3f\nbx lr\n"
        "2: .word 0xf57ff05f\n3: .word 0\n.word 0xf57ff05f\n");
C
"$@" -c "$tmp/fall.c" -o "$tmp/fall.o" || { echo "FAIL the fall-through object does not build"; exit 1; }
"$checker" "$tmp/fall.o" >"$tmp/out" 2>&1
expect "a function that begins with a word after another's literal runs it" \
    "FAIL .*fall.o: the word 0xf57ff05f at 0x[0-9a-f]* in startsraw is reached as code"
expect "a conditional return falls through to the word" \
    "FAIL .*fall.o: the word 0xf57ff05f at 0x[0-9a-f]* in condret is reached as code"
expect "a literal pool, its eight-byte entry too, only warns" "warn .*fall.o: 2 data words .*in pool"

# A library whose long long to double conversion is left to libgcc, which
# the board's libraries do not export; and the object alone, which the
# final link will complete, is fine.
printf 'double to_double(long long x) { return x; }\nint bits(unsigned long long x) { return __builtin_popcountll(x); }\n' \
    >"$tmp/conv.c"
"$@" -O1 -fPIC -c "$tmp/conv.c" -o "$tmp/conv.o" && "$@" -shared -nostdlib "$tmp/conv.o" -o "$tmp/conv.so" ||
    { echo "FAIL the conversion library does not build"; exit 1; }
"$checker" "$tmp/conv.o" "$tmp/conv.so" >"$tmp/out" 2>&1
expect "a library leaving libgcc's conversion undefined is refused" \
    "FAIL .*conv.so: leaves the libgcc routines .*__aeabi_l2d .*undefined"
expect "and its popcount" "FAIL .*conv.so: leaves the libgcc routines .*__popcountdi2 .*undefined"
expect "an object may leave them to the link" "ok .*conv.o:"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
