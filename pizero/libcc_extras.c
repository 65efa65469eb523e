/* SPDX-License-Identifier: MIT */
/* Helpers a musl build for the ARM1176 takes from libgcc, which Debian's
 * cross toolchain only has as Thumb-2. They serve the test loader, not
 * the shipped binaries, and use only 32-bit VFPv2 conversions so that the
 * compiler does not call them back. */
#include <stdint.h>

#define TWO32 4294967296.0

int64_t __aeabi_d2lz(double x)
{
    double ax = x < 0 ? -x : x;
    uint32_t hi = (uint32_t)(ax / TWO32);
    uint32_t lo = (uint32_t)(ax - (double)hi * TWO32);
    uint64_t u = (uint64_t)hi << 32 | lo;
    return x < 0 ? -(int64_t)u : (int64_t)u;
}

int64_t __aeabi_f2lz(float x)
{
    return __aeabi_d2lz((double)x);
}

double __aeabi_l2d(int64_t v)
{
    return (double)(int32_t)(v >> 32) * TWO32 + (double)(uint32_t)v;
}

double _Complex __muldc3(double a, double b, double c, double d)
{
    double _Complex r;
    __real__ r = a * c - b * d;
    __imag__ r = a * d + b * c;
    return r;
}

float _Complex __mulsc3(float a, float b, float c, float d)
{
    float _Complex r;
    __real__ r = a * c - b * d;
    __imag__ r = a * d + b * c;
    return r;
}
