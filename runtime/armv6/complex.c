/* SPDX-License-Identifier: MIT */
/* Complex multiplication and division with the infinities and NaNs of C's
 * Annex G, which GCC calls when the plain formula gives NaN for both parts
 * (multiplication) or always (division); and integer powers. No libm: the
 * binary links the C library alone, so logb and scalbn are done here on
 * the bits. */
#include "libgcc.h"

#define INF __builtin_inf()
#define INFF __builtin_inff()

static inline int isinf_d(double x)
{
    return __builtin_isinf(x);
}
static inline int isinf_f(float x)
{
    return __builtin_isinf(x);
}
static inline double copysign_d(double x, double s)
{
    return double_of_bits((bits_of_double(x) & ~((uint64_t)1 << 63)) |
                          (bits_of_double(s) & (uint64_t)1 << 63));
}
static inline float copysign_f(float x, float s)
{
    return float_of_bits((bits_of_float(x) & 0x7FFFFFFFu) | (bits_of_float(s) & 0x80000000u));
}
/* 1 with the sign of an infinity, 0 with the sign of anything else. */
static inline double box_d(double x)
{
    return copysign_d(isinf_d(x) ? 1.0 : 0.0, x);
}
static inline float box_f(float x)
{
    return copysign_f(isinf_f(x) ? 1.0f : 0.0f, x);
}

HIDDEN double _Complex __muldc3(double a, double b, double c, double d)
{
    double ac = a * c, bd = b * d, ad = a * d, bc = b * c;
    double x = ac - bd, y = ad + bc;
    if (x != x && y != y) {
        int again = 0;
        if (isinf_d(a) || isinf_d(b)) {
            a = box_d(a), b = box_d(b);
            if (c != c) c = copysign_d(0.0, c);
            if (d != d) d = copysign_d(0.0, d);
            again = 1;
        }
        if (isinf_d(c) || isinf_d(d)) {
            c = box_d(c), d = box_d(d);
            if (a != a) a = copysign_d(0.0, a);
            if (b != b) b = copysign_d(0.0, b);
            again = 1;
        }
        if (!again && (isinf_d(ac) || isinf_d(bd) || isinf_d(ad) || isinf_d(bc))) {
            if (a != a) a = copysign_d(0.0, a);
            if (b != b) b = copysign_d(0.0, b);
            if (c != c) c = copysign_d(0.0, c);
            if (d != d) d = copysign_d(0.0, d);
            again = 1;
        }
        if (again) {
            x = INF * (a * c - b * d);
            y = INF * (a * d + b * c);
        }
    }
    double _Complex z;
    __real__ z = x;
    __imag__ z = y;
    return z;
}

HIDDEN float _Complex __mulsc3(float a, float b, float c, float d)
{
    float ac = a * c, bd = b * d, ad = a * d, bc = b * c;
    float x = ac - bd, y = ad + bc;
    if (x != x && y != y) {
        int again = 0;
        if (isinf_f(a) || isinf_f(b)) {
            a = box_f(a), b = box_f(b);
            if (c != c) c = copysign_f(0.0f, c);
            if (d != d) d = copysign_f(0.0f, d);
            again = 1;
        }
        if (isinf_f(c) || isinf_f(d)) {
            c = box_f(c), d = box_f(d);
            if (a != a) a = copysign_f(0.0f, a);
            if (b != b) b = copysign_f(0.0f, b);
            again = 1;
        }
        if (!again && (isinf_f(ac) || isinf_f(bd) || isinf_f(ad) || isinf_f(bc))) {
            if (a != a) a = copysign_f(0.0f, a);
            if (b != b) b = copysign_f(0.0f, b);
            if (c != c) c = copysign_f(0.0f, c);
            if (d != d) d = copysign_f(0.0f, d);
            again = 1;
        }
        if (again) {
            x = INFF * (a * c - b * d);
            y = INFF * (a * d + b * c);
        }
    }
    float _Complex z;
    __real__ z = x;
    __imag__ z = y;
    return z;
}

/* The exponent of x's leading bit, for finite non-zero x. */
static int exponent_d(double x)
{
    uint64_t u = bits_of_double(x) & ~((uint64_t)1 << 63);
    int e = (int)(u >> 52);
    return e ? e - 1023 : -1011 - clz64(u);  // subnormal: -1074 + (63 - clz)
}
static int exponent_f(float x)
{
    uint32_t u = bits_of_float(x) & 0x7FFFFFFFu;
    int e = (int)(u >> 23);
    return e ? e - 127 : -118 - __builtin_clz(u);  // subnormal: -149 + (31 - clz)
}

/* x * 2^n, for n within [-2100, 2100]: in steps that stay exact until the
 * last. */
static double scale_d(double x, int n)
{
    while (n > 1023) x *= double_of_bits((uint64_t)(1023 + 1023) << 52), n -= 1023;
    while (n < -1022) x *= double_of_bits((uint64_t)1 << 52), n += 1022;  // 2^-1022
    return x * double_of_bits((uint64_t)(n + 1023) << 52);
}
static float scale_f(float x, int n)
{
    while (n > 127) x *= float_of_bits((uint32_t)(127 + 127) << 23), n -= 127;
    while (n < -126) x *= float_of_bits((uint32_t)1 << 23), n += 126;  // 2^-126
    return x * float_of_bits((uint32_t)(n + 127) << 23);
}

HIDDEN double _Complex __divdc3(double a, double b, double c, double d)
{
    // The larger part, a NaN ignored as fmax does; its logb: -inf for 0,
    // +inf for an infinity, NaN for NaN.
    double big = __builtin_fabs(c) > __builtin_fabs(d) || d != d ? __builtin_fabs(c) : __builtin_fabs(d);
    int finite = big == big && big != 0 && !isinf_d(big);
    int scale = finite ? exponent_d(big) : 0;
    if (finite) c = scale_d(c, -scale), d = scale_d(d, -scale);
    double denom = c * c + d * d;
    double x = scale_d((a * c + b * d) / denom, -scale), y = scale_d((b * c - a * d) / denom, -scale);
    if (x != x && y != y) {
        if (denom == 0.0 && (a == a || b == b)) {
            x = copysign_d(INF, c) * a;
            y = copysign_d(INF, c) * b;
        } else if ((isinf_d(a) || isinf_d(b)) && c - c == 0 && d - d == 0) {
            a = box_d(a), b = box_d(b);
            x = INF * (a * c + b * d);
            y = INF * (b * c - a * d);
        } else if (isinf_d(big) && a - a == 0 && b - b == 0) {
            c = box_d(c), d = box_d(d);
            x = 0.0 * (a * c + b * d);
            y = 0.0 * (b * c - a * d);
        }
    }
    double _Complex z;
    __real__ z = x;
    __imag__ z = y;
    return z;
}

HIDDEN float _Complex __divsc3(float a, float b, float c, float d)
{
    float big = __builtin_fabsf(c) > __builtin_fabsf(d) || d != d ? __builtin_fabsf(c) : __builtin_fabsf(d);
    int finite = big == big && big != 0 && !isinf_f(big);
    int scale = finite ? exponent_f(big) : 0;
    if (finite) c = scale_f(c, -scale), d = scale_f(d, -scale);
    float denom = c * c + d * d;
    float x = scale_f((a * c + b * d) / denom, -scale), y = scale_f((b * c - a * d) / denom, -scale);
    if (x != x && y != y) {
        if (denom == 0.0f && (a == a || b == b)) {
            x = copysign_f(INFF, c) * a;
            y = copysign_f(INFF, c) * b;
        } else if ((isinf_f(a) || isinf_f(b)) && c - c == 0 && d - d == 0) {
            a = box_f(a), b = box_f(b);
            x = INFF * (a * c + b * d);
            y = INFF * (b * c - a * d);
        } else if (isinf_f(big) && a - a == 0 && b - b == 0) {
            c = box_f(c), d = box_f(d);
            x = 0.0f * (a * c + b * d);
            y = 0.0f * (b * c - a * d);
        }
    }
    float _Complex z;
    __real__ z = x;
    __imag__ z = y;
    return z;
}

/* x to the power m by squaring, from the lowest bit of |m| up. */
HIDDEN double __powidf2(double x, int m)
{
    uint32_t n = m < 0 ? 0 - (uint32_t)m : (uint32_t)m;
    double y = n & 1 ? x : 1.0;
    while (n >>= 1) {
        x *= x;
        if (n & 1) y *= x;
    }
    return m < 0 ? 1.0 / y : y;
}

HIDDEN float __powisf2(float x, int m)
{
    uint32_t n = m < 0 ? 0 - (uint32_t)m : (uint32_t)m;
    float y = n & 1 ? x : 1.0f;
    while (n >>= 1) {
        x *= x;
        if (n & 1) y *= x;
    }
    return m < 0 ? 1.0f / y : y;
}
