/* SPDX-License-Identifier: MIT */
/* Bit counts and byte swaps: the routines GCC calls for __builtin_popcount,
 * ctz, clz, ffs, parity, clrsb and bswap where the ARM1176 has no single
 * instruction. Written without those builtins, so that none calls itself;
 * clz of 32 bits is the one instruction used. */
#include "libgcc.h"

HIDDEN int __popcountsi2(uint32_t x)
{
    x = x - ((x >> 1) & 0x55555555u);
    x = (x & 0x33333333u) + ((x >> 2) & 0x33333333u);
    x = (x + (x >> 4)) & 0x0F0F0F0Fu;
    return (int)((x * 0x01010101u) >> 24);
}

HIDDEN int __popcountdi2(uint64_t x)
{
    return __popcountsi2((uint32_t)x) + __popcountsi2((uint32_t)(x >> 32));
}

HIDDEN int __paritysi2(uint32_t x)
{
    x ^= x >> 16;
    x ^= x >> 8;
    x ^= x >> 4;
    return (0x6996 >> (x & 15)) & 1;
}

HIDDEN int __paritydi2(uint64_t x)
{
    return __paritysi2((uint32_t)x ^ (uint32_t)(x >> 32));
}

/* Undefined for 0, as the builtins are; 32 (or 64) here. */
HIDDEN int __clzsi2(uint32_t x)
{
    return x ? __builtin_clz(x) : 32;
}

HIDDEN int __clzdi2(uint64_t x)
{
    return x ? clz64(x) : 64;
}

/* The lowest set bit alone, x & -x, has 31 - clz trailing zeros. */
HIDDEN int __ctzsi2(uint32_t x)
{
    return x ? 31 - __builtin_clz(x & -x) : 32;
}

HIDDEN int __ctzdi2(uint64_t x)
{
    return (uint32_t)x ? __ctzsi2((uint32_t)x) : 32 + __ctzsi2((uint32_t)(x >> 32));
}

HIDDEN int __ffssi2(uint32_t x)
{
    return x ? __ctzsi2(x) + 1 : 0;
}

HIDDEN int __ffsdi2(uint64_t x)
{
    return x ? __ctzdi2(x) + 1 : 0;
}

/* Redundant sign bits: leading bits equal to the sign, less the sign. */
HIDDEN int __clrsbsi2(int32_t x)
{
    uint32_t u = x < 0 ? ~(uint32_t)x : (uint32_t)x;
    return __clzsi2(u) - 1;
}

HIDDEN int __clrsbdi2(int64_t x)
{
    uint64_t u = x < 0 ? ~(uint64_t)x : (uint64_t)x;
    return __clzdi2(u) - 1;
}

HIDDEN uint32_t __bswapsi2(uint32_t x)
{
    return x << 24 | (x & 0xFF00u) << 8 | (x >> 8 & 0xFF00u) | x >> 24;
}

HIDDEN uint64_t __bswapdi2(uint64_t x)
{
    return (uint64_t)__bswapsi2((uint32_t)x) << 32 | __bswapsi2((uint32_t)(x >> 32));
}
