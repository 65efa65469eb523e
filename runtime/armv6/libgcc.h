/* SPDX-License-Identifier: MIT */
/* What the runtime's stand-ins for GCC's ARM libgcc share. Every routine
 * is hidden: private to the binary it is linked into, as libgcc.a's are.
 * The names are in libgcc-routines.txt, which the checker reads too. */
#ifndef TAVREL_RT_LIBGCC_H
#define TAVREL_RT_LIBGCC_H

#include <stdint.h>

#define HIDDEN __attribute__((visibility("hidden")))
/* The run-time ABI's conversion helpers, and GCC's half-precision ones,
 * take and return floating-point values in core registers, as the base
 * procedure call standard has them, even in a hard-float program. */
#define BASE_PCS __attribute__((pcs("aapcs")))
/* A second name for a routine, as libgcc has its generic names beside the
 * ARM run-time ABI's. */
#define ALIAS(name, of) HIDDEN __typeof__(of) name __attribute__((alias(#of)))

/* The bits of a double or a float, and back, without a conversion call. */
static inline uint64_t bits_of_double(double d)
{
    union {
        double d;
        uint64_t u;
    } v = {d};
    return v.u;
}
static inline double double_of_bits(uint64_t u)
{
    union {
        uint64_t u;
        double d;
    } v = {u};
    return v.d;
}
static inline uint32_t bits_of_float(float f)
{
    union {
        float f;
        uint32_t u;
    } v = {f};
    return v.u;
}
static inline float float_of_bits(uint32_t u)
{
    union {
        uint32_t u;
        float f;
    } v = {u};
    return v.f;
}

/* Leading zeros of a non-zero 64-bit value, from the 32-bit clz the
 * ARM1176 has. */
static inline int clz64(uint64_t x)
{
    uint32_t hi = (uint32_t)(x >> 32);
    return hi ? __builtin_clz(hi) : 32 + __builtin_clz((uint32_t)x);
}

#endif
