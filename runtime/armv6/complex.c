/* SPDX-License-Identifier: MIT */
/* Complex multiplication and division with the infinities and NaNs of C's
 * Annex G, which GCC calls when the plain formula gives NaN for both parts
 * (multiplication) or always (division); and integer powers. No libm: the
 * binary links the C library alone, so logb and scalbn are done here on
 * the bits. Each routine is written once, for float and double alike:
 * the helpers below choose their type's version by their argument's. */
#include "libgcc.h"

static inline double copysign_d(double x, double s)
{
    return double_of_bits((bits_of_double(x) & ~((uint64_t)1 << 63)) |
                          (bits_of_double(s) & (uint64_t)1 << 63));
}
static inline float copysign_f(float x, float s)
{
    return float_of_bits((bits_of_float(x) & 0x7FFFFFFFu) | (bits_of_float(s) & 0x80000000u));
}
static inline double fabs_d(double x)
{
    return __builtin_fabs(x);
}
static inline float fabs_f(float x)
{
    return __builtin_fabsf(x);
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

#define COPYSIGN(x, s) _Generic((x), float : copysign_f, double : copysign_d)(x, s)
#define FABS(x) _Generic((x), float : fabs_f, double : fabs_d)(x)
#define EXPONENT(x) _Generic((x), float : exponent_f, double : exponent_d)(x)
#define SCALE(x, n) _Generic((x), float : scale_f, double : scale_d)(x, n)
#define ISINF(x) __builtin_isinf(x)
/* 1 with the sign of an infinity, 0 with the sign of anything else. */
#define BOX(x) COPYSIGN((__typeof__(x))(ISINF(x) ? 1 : 0), x)
/* A NaN made a zero of its sign. */
#define ZERO_IF_NAN(x) ((x) = (x) != (x) ? COPYSIGN((__typeof__(x))0, x) : (x))

/* (a + bi)(c + di) in type T, the plain formula first. */
#define MULTIPLY(T)                                                         \
    T ac = a * c, bd = b * d, ad = a * d, bc = b * c;                       \
    T x = ac - bd, y = ad + bc;                                             \
    if (x != x && y != y) {                                                 \
        int again = 0;                                                      \
        if (ISINF(a) || ISINF(b)) {                                         \
            a = BOX(a), b = BOX(b), ZERO_IF_NAN(c), ZERO_IF_NAN(d);         \
            again = 1;                                                      \
        }                                                                   \
        if (ISINF(c) || ISINF(d)) {                                         \
            c = BOX(c), d = BOX(d), ZERO_IF_NAN(a), ZERO_IF_NAN(b);         \
            again = 1;                                                      \
        }                                                                   \
        if (!again && (ISINF(ac) || ISINF(bd) || ISINF(ad) || ISINF(bc))) { \
            ZERO_IF_NAN(a), ZERO_IF_NAN(b), ZERO_IF_NAN(c), ZERO_IF_NAN(d); \
            again = 1;                                                      \
        }                                                                   \
        if (again) {                                                        \
            x = (T)__builtin_inf() * (a * c - b * d);                       \
            y = (T)__builtin_inf() * (a * d + b * c);                       \
        }                                                                   \
    }                                                                       \
    T _Complex z;                                                           \
    __real__ z = x;                                                         \
    __imag__ z = y;                                                         \
    return z

/* (a + bi) / (c + di) in type T, with the divisor scaled near 1 first. The
 * larger part of the divisor, a NaN ignored as fmax does, has the logb
 * -inf for 0, +inf for an infinity, NaN for NaN. */
#define DIVIDE(T)                                                                             \
    T big = FABS(c) > FABS(d) || d != d ? FABS(c) : FABS(d);                                  \
    int finite = big == big && big != 0 && !ISINF(big);                                       \
    int scale = finite ? EXPONENT(big) : 0;                                                   \
    if (finite) c = SCALE(c, -scale), d = SCALE(d, -scale);                                   \
    T denom = c * c + d * d;                                                                  \
    T x = SCALE((a * c + b * d) / denom, -scale), y = SCALE((b * c - a * d) / denom, -scale); \
    if (x != x && y != y) {                                                                   \
        if (denom == 0 && (a == a || b == b)) {                                               \
            x = COPYSIGN((T)__builtin_inf(), c) * a;                                          \
            y = COPYSIGN((T)__builtin_inf(), c) * b;                                          \
        } else if ((ISINF(a) || ISINF(b)) && c - c == 0 && d - d == 0) {                      \
            a = BOX(a), b = BOX(b);                                                           \
            x = (T)__builtin_inf() * (a * c + b * d);                                         \
            y = (T)__builtin_inf() * (b * c - a * d);                                         \
        } else if (ISINF(big) && a - a == 0 && b - b == 0) {                                  \
            c = BOX(c), d = BOX(d);                                                           \
            x = (T)0 * (a * c + b * d);                                                       \
            y = (T)0 * (b * c - a * d);                                                       \
        }                                                                                     \
    }                                                                                         \
    T _Complex z;                                                                             \
    __real__ z = x;                                                                           \
    __imag__ z = y;                                                                           \
    return z

HIDDEN double _Complex __muldc3(double a, double b, double c, double d)
{
    MULTIPLY(double);
}

HIDDEN float _Complex __mulsc3(float a, float b, float c, float d)
{
    MULTIPLY(float);
}

HIDDEN double _Complex __divdc3(double a, double b, double c, double d)
{
    DIVIDE(double);
}

HIDDEN float _Complex __divsc3(float a, float b, float c, float d)
{
    DIVIDE(float);
}

/* x to the power m by squaring, from the lowest bit of |m| up. */
#define POWER(T)                                        \
    uint32_t n = m < 0 ? 0 - (uint32_t)m : (uint32_t)m; \
    T y = n & 1 ? x : 1;                                \
    while (n >>= 1) {                                   \
        x *= x;                                         \
        if (n & 1) y *= x;                              \
    }                                                   \
    return m < 0 ? 1 / y : y

HIDDEN double __powidf2(double x, int m)
{
    POWER(double);
}

HIDDEN float __powisf2(float x, int m)
{
    POWER(float);
}
