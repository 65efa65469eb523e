/* SPDX-License-Identifier: MIT */
/* The 32-bit integer division helpers of the ARM run-time ABI, and the
 * arithmetic of the 64-bit ones in divmod.S: ARMv6 has no divide
 * instruction, and Debian's libgcc.a is Thumb-2. Hidden, private to the
 * binary they are linked into. */
#include <stdint.h>

#define HIDDEN __attribute__((visibility("hidden")))

/* Shift-and-subtract division; division by zero yields 0. The few
 * divisions in this code are not on any hot path, so the 32-bit helpers
 * use the same routine. */
HIDDEN uint64_t tavrel_rt_udivmod64(uint64_t n, uint64_t d, uint64_t* rem)
{
    uint64_t q = 0, r = 0;
    if (d == 0) {
        *rem = n;
        return 0;
    }
    for (int i = 63; i >= 0; --i) {
        r = (r << 1) | ((n >> i) & 1);
        if (r >= d) {
            r -= d;
            q |= (uint64_t)1 << i;
        }
    }
    *rem = r;
    return q;
}

/* Quotient truncated toward zero; the remainder has the dividend's sign. */
HIDDEN int64_t tavrel_rt_sdivmod64(int64_t n, int64_t d, int64_t* rem)
{
    uint64_t un = n < 0 ? -(uint64_t)n : (uint64_t)n;
    uint64_t ud = d < 0 ? -(uint64_t)d : (uint64_t)d;
    uint64_t ur;
    uint64_t uq = tavrel_rt_udivmod64(un, ud, &ur);
    *rem = n < 0 ? -(int64_t)ur : (int64_t)ur;
    return (n < 0) != (d < 0) ? -(int64_t)uq : (int64_t)uq;
}

static uint32_t udivmod32(uint32_t n, uint32_t d, uint32_t* rem)
{
    uint64_t r;
    uint32_t q = (uint32_t)tavrel_rt_udivmod64(n, d, &r);
    *rem = (uint32_t)r;
    return q;
}

HIDDEN uint32_t __aeabi_uidiv(uint32_t n, uint32_t d)
{
    uint32_t r;
    return udivmod32(n, d, &r);
}

/* Quotient in r0 and remainder in r1: a 64-bit result in r0:r1. */
HIDDEN uint64_t __aeabi_uidivmod(uint32_t n, uint32_t d)
{
    uint32_t r;
    uint32_t q = udivmod32(n, d, &r);
    return q | (uint64_t)r << 32;
}

HIDDEN int32_t __aeabi_idiv(int32_t n, int32_t d)
{
    uint32_t un = n < 0 ? -(uint32_t)n : (uint32_t)n;
    uint32_t ud = d < 0 ? -(uint32_t)d : (uint32_t)d;
    uint32_t r;
    uint32_t q = udivmod32(un, ud, &r);
    return (n < 0) != (d < 0) ? -(int32_t)q : (int32_t)q;
}

HIDDEN uint64_t __aeabi_idivmod(int32_t n, int32_t d)
{
    uint32_t un = n < 0 ? -(uint32_t)n : (uint32_t)n;
    uint32_t ud = d < 0 ? -(uint32_t)d : (uint32_t)d;
    uint32_t r;
    uint32_t q = udivmod32(un, ud, &r);
    int32_t sq = (n < 0) != (d < 0) ? -(int32_t)q : (int32_t)q;
    int32_t sr = n < 0 ? -(int32_t)r : (int32_t)r;
    return (uint32_t)sq | (uint64_t)(uint32_t)sr << 32;
}
