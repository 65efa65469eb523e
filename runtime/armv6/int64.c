/* SPDX-License-Identifier: MIT */
/* 64-bit integer routines GCC may call: shifts, comparisons, the multiply,
 * the generic division names beside the run-time ABI's, and -ftrapv's
 * checked arithmetic. Written on 32-bit halves, so that none of them is
 * compiled into a call of itself. */
#include <stdlib.h>

#include "libgcc.h"

uint64_t tavrel_rt_udivmod64(uint64_t n, uint64_t d, uint64_t* rem);
int64_t tavrel_rt_sdivmod64(int64_t n, int64_t d, int64_t* rem);

static inline uint64_t join(uint32_t hi, uint32_t lo)
{
    return (uint64_t)hi << 32 | lo;
}

/* Shift counts of 64 or more are undefined in C; taken modulo 64 here. */
HIDDEN uint64_t __aeabi_llsl(uint64_t a, int n)
{
    uint32_t hi = (uint32_t)(a >> 32), lo = (uint32_t)a;
    n &= 63;
    if (n == 0) return a;
    if (n >= 32) return join(lo << (n - 32), 0);
    return join(hi << n | lo >> (32 - n), lo << n);
}

HIDDEN uint64_t __aeabi_llsr(uint64_t a, int n)
{
    uint32_t hi = (uint32_t)(a >> 32), lo = (uint32_t)a;
    n &= 63;
    if (n == 0) return a;
    if (n >= 32) return join(0, hi >> (n - 32));
    return join(hi >> n, lo >> n | hi << (32 - n));
}

HIDDEN int64_t __aeabi_lasr(int64_t a, int n)
{
    int32_t hi = (int32_t)((uint64_t)a >> 32);
    uint32_t lo = (uint32_t)a;
    n &= 63;
    if (n == 0) return a;
    if (n >= 32) return (int64_t)join((uint32_t)(hi >> 31), (uint32_t)(hi >> (n - 32)));
    return (int64_t)join((uint32_t)(hi >> n), lo >> n | (uint32_t)hi << (32 - n));
}

ALIAS(__ashldi3, __aeabi_llsl);
ALIAS(__lshrdi3, __aeabi_llsr);
ALIAS(__ashrdi3, __aeabi_lasr);

/* -1, 0 or 1. */
HIDDEN int __aeabi_lcmp(int64_t a, int64_t b)
{
    return a < b ? -1 : a > b;
}

HIDDEN int __aeabi_ulcmp(uint64_t a, uint64_t b)
{
    return a < b ? -1 : a > b;
}

/* 0, 1 or 2, as libgcc2's generic comparisons give. */
HIDDEN int __cmpdi2(int64_t a, int64_t b)
{
    return __aeabi_lcmp(a, b) + 1;
}

HIDDEN int __ucmpdi2(uint64_t a, uint64_t b)
{
    return __aeabi_ulcmp(a, b) + 1;
}

/* The low 64 bits of the product: three 32 x 32 multiplies. */
HIDDEN uint64_t __aeabi_lmul(uint64_t a, uint64_t b)
{
    uint32_t a0 = (uint32_t)a, a1 = (uint32_t)(a >> 32), b0 = (uint32_t)b, b1 = (uint32_t)(b >> 32);
    uint64_t low = (uint64_t)a0 * b0;
    return low + ((uint64_t)(a0 * b1 + a1 * b0) << 32);
}
ALIAS(__muldi3, __aeabi_lmul);

HIDDEN int64_t __negdi2(int64_t a)
{
    return (int64_t)(0 - (uint64_t)a);
}

HIDDEN uint64_t __udivmoddi4(uint64_t n, uint64_t d, uint64_t* rem)
{
    uint64_t r;
    uint64_t q = tavrel_rt_udivmod64(n, d, &r);
    if (rem) *rem = r;
    return q;
}

HIDDEN int64_t __divmoddi4(int64_t n, int64_t d, int64_t* rem)
{
    int64_t r;
    int64_t q = tavrel_rt_sdivmod64(n, d, &r);
    if (rem) *rem = r;
    return q;
}

HIDDEN uint64_t __udivdi3(uint64_t n, uint64_t d)
{
    return __udivmoddi4(n, d, 0);
}

HIDDEN uint64_t __umoddi3(uint64_t n, uint64_t d)
{
    uint64_t r;
    __udivmoddi4(n, d, &r);
    return r;
}

HIDDEN int64_t __divdi3(int64_t n, int64_t d)
{
    return __divmoddi4(n, d, 0);
}

HIDDEN int64_t __moddi3(int64_t n, int64_t d)
{
    int64_t r;
    __divmoddi4(n, d, &r);
    return r;
}

/* -ftrapv: the result, or abort() on overflow, as libgcc's do. */
HIDDEN int32_t __addvsi3(int32_t a, int32_t b)
{
    int32_t s = (int32_t)((uint32_t)a + (uint32_t)b);
    if ((b >= 0) != (s >= a)) abort();
    return s;
}

HIDDEN int64_t __addvdi3(int64_t a, int64_t b)
{
    int64_t s = (int64_t)((uint64_t)a + (uint64_t)b);
    if ((b >= 0) != (s >= a)) abort();
    return s;
}

HIDDEN int32_t __subvsi3(int32_t a, int32_t b)
{
    int32_t s = (int32_t)((uint32_t)a - (uint32_t)b);
    if ((b >= 0) != (s <= a)) abort();
    return s;
}

HIDDEN int64_t __subvdi3(int64_t a, int64_t b)
{
    int64_t s = (int64_t)((uint64_t)a - (uint64_t)b);
    if ((b >= 0) != (s <= a)) abort();
    return s;
}

HIDDEN int32_t __mulvsi3(int32_t a, int32_t b)
{
    int64_t p = (int64_t)a * b;
    if (p != (int32_t)p) abort();
    return (int32_t)p;
}

/* On magnitudes: |a| * |b| must fit 2^63, or 2^63 - 1 when positive. */
HIDDEN int64_t __mulvdi3(int64_t a, int64_t b)
{
    uint64_t ua = a < 0 ? 0 - (uint64_t)a : (uint64_t)a, ub = b < 0 ? 0 - (uint64_t)b : (uint64_t)b;
    uint32_t a0 = (uint32_t)ua, a1 = (uint32_t)(ua >> 32), b0 = (uint32_t)ub, b1 = (uint32_t)(ub >> 32);
    if (a1 && b1) abort();
    uint64_t cross = (uint64_t)a1 * b0 + (uint64_t)a0 * b1;  // one of the two is 0
    if (cross >> 32) abort();
    uint64_t low = (uint64_t)a0 * b0, p = low + (cross << 32);
    if (p < low) abort();
    int negative = (a < 0) != (b < 0);
    if (p > (negative ? (uint64_t)1 << 63 : ((uint64_t)1 << 63) - 1)) abort();
    return negative ? (int64_t)(0 - p) : (int64_t)p;
}

HIDDEN int32_t __negvsi2(int32_t a)
{
    if (a == INT32_MIN) abort();
    return -a;
}

HIDDEN int64_t __negvdi2(int64_t a)
{
    if (a == INT64_MIN) abort();
    return -a;
}

HIDDEN int32_t __absvsi2(int32_t a)
{
    if (a == INT32_MIN) abort();
    return a < 0 ? -a : a;
}

HIDDEN int64_t __absvdi2(int64_t a)
{
    if (a == INT64_MIN) abort();
    return a < 0 ? -a : a;
}
