# SPDX-License-Identifier: MIT
# Steps, after the tavrel-armv6-sdk package is installed: a project of the
# user's own (the sample in examples/pizero-app, in the current directory)
# built with the toolchain file and find_package(tavrel), a program built
# with tavrel-armv6-cc alone, both proven clean and run on the virtual Pi
# Zero; and the mistakes the SDK names. TOOLCHAIN and PIZERO default to
# the installed ones.
set -eu
toolchain=${TOOLCHAIN:-/usr/share/tavrel/armv6-rpi.cmake}
pizero=${PIZERO:-tavrel-pizero}
status=0
expect() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; status=1; fi; }
out=$(mktemp -d)

cmake -S . -B "$out/app" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release >"$out/log" 2>&1 &&
    cmake --build "$out/app" >>"$out/log" 2>&1 || { cat "$out/log"; exit 1; }
expect "a CMake project with find_package(tavrel) builds a clean program" \
    'tavrel-armv6-check "$out/app/pizero-app" >"$out/check" || { cat "$out/check"; false; }'
expect "it runs on the virtual Pi Zero, its C++ statics constructed" \
    '$pizero run "$out/app/pizero-app" 17 1101 >"$out/run" 2>&1 &&
     grep -qx "pizero-app: pin 17 followed 1101, 3 level changes, 0 read back wrong" "$out/run" &&
     grep -q "^GPIO 17: input" "$out/run" || { cat "$out/run"; false; }'

cat >"$out/plain.c" <<'C'
#include <dirent.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <tavrel.h>
int main(int argc, char** argv)
{
    char version[32] = "none";
    struct stat st = {0};
    int found = 0;
    (void)argv;
    tavrel_get_version_str(version, sizeof version);
    /* stat and readdir: structures whose layout is the C library's own. */
    FILE* f = fopen("twelve.txt", "w");
    if (f && fputs("twelve bytes", f) >= 0 && fclose(f) == 0 && stat("twelve.txt", &st) == 0) {
        DIR* d = opendir(".");
        for (struct dirent* e; d && (e = readdir(d)) != NULL;)
            found += strcmp(e->d_name, "twelve.txt") == 0;
        if (d)
            closedir(d);
    }
    /* 64-bit division, conversions and bit counts: libgcc routines the
     * SDK's runtime brings. */
    long long n = 1000000000000LL / argc;
    double d = (double)n;
    printf("version %s, %lld %.1f %lld %d %d\n", version, n, d * 2, (long long)(d / 4),
           __builtin_popcountll((unsigned long long)n), __builtin_ctzll((unsigned long long)n));
    printf("stat: %lld bytes; readdir: found %d\n", (long long)st.st_size, found);
    return 0;
}
C
expect "tavrel-armv6-cc app.c -ltavrel builds a clean program, fortified" \
    'tavrel-armv6-cc -O2 -D_FORTIFY_SOURCE=2 "$out/plain.c" -o "$out/plain" -ltavrel &&
     arm-linux-gnueabihf-nm -D "$out/plain" | grep -q __printf_chk && tavrel-armv6-check "$out/plain" >/dev/null'
expect "tavrel-armv6-pkg-config gives the sysroot's libtavrel" \
    'tavrel-armv6-cc "$out/plain.c" -o "$out/plain-pc" $(tavrel-armv6-pkg-config --cflags --libs libtavrel) &&
     tavrel-armv6-pkg-config --libs libtavrel | grep -q "tavrel-armv6-sdk/sysroot/usr/lib/arm-linux-gnueabihf"'
expect "it runs on the virtual Pi Zero's glibc, stat and readdir right" \
    '$pizero run "$out/plain" >"$out/run" 2>&1 &&
     grep -qx "version [0-9]*\.[0-9][0-9][A-Z], 1000000000000 2000000000000.0 250000000000 13 12" "$out/run" &&
     grep -qx "stat: 12 bytes; readdir: found 1" "$out/run" || { cat "$out/run"; false; }'

printf 'int twice(int x) { return 2 * x; }\ndouble half(long long x) { return x / 2.0; }\n' >"$out/lib.c"
expect "a shared library builds clean" \
    'tavrel-armv6-cc -shared -fPIC "$out/lib.c" -o "$out/libtwice.so" && tavrel-armv6-check "$out/libtwice.so" >/dev/null'

cat >"$out/str.cpp" <<'C'
#include <string>
#include <cstdio>
int main(int argc, char**) { std::string s(argc, 'x'); std::puts(s.c_str()); }
C
expect "tavrel-armv6-c++ says why a program needing libstdc++ does not link" \
    '! tavrel-armv6-c++ "$out/str.cpp" -o "$out/str" 2>"$out/err" && grep -q "these need libstdc++" "$out/err"'
expect "tavrel-armv6-check names Debian's libstdc++ as ARMv7" \
    'arm-linux-gnueabihf-g++ -mcpu=arm1176jzf-s -marm "$out/str.cpp" -o "$out/str2" &&
     ! tavrel-armv6-check "$out/str2" >"$out/check" &&
     grep -q "needs libstdc++.so.6: Debian.s armhf libstdc++ is ARMv7 Thumb-2" "$out/check"'
expect "tavrel-pizero refuses it before the boot, naming the library the guest lacks" \
    '! $pizero run "$out/str2" >"$out/run" 2>&1 &&
     grep -q "str2: it needs libstdc++.so.6, which the virtual Pi Zero does not have" "$out/run" &&
     ! grep -q "power-on" "$out/run" || { cat "$out/run"; false; }'
printf 'int main(void) { __asm__ volatile("dmb"); return 0; }\n' >"$out/dmb.c"
expect "tavrel-armv6-check prints the first instruction an ARM1176 lacks, with its address" \
    'arm-linux-gnueabihf-gcc -march=armv7-a -mfpu=vfpv3-d16 -marm "$out/dmb.c" -o "$out/dmb" -nostartfiles -e main &&
     ! tavrel-armv6-check "$out/dmb" >"$out/check" &&
     grep -q "^    0x[0-9a-f]* in main: dmb" "$out/check" || { cat "$out/check"; false; }'
expect "tavrel-armv6-cc says why C built with -fexceptions does not link" \
    '! tavrel-armv6-cc -fexceptions "$out/plain.c" -o "$out/unwind" -ltavrel 2>"$out/err" &&
     grep -q "fexceptions (or -funwind-tables) asks for the ARM unwinder" "$out/err"'
expect "tavrel-armv6-cc refuses -static" '! tavrel-armv6-cc -static "$out/plain.c" -o "$out/static" 2>/dev/null'
rm -rf "$out"
exit $status
