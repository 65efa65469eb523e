/* SPDX-License-Identifier: MIT */
/* Conversions GCC calls for on ARMv6 hard-float: 64-bit integers to and
 * from double and float, and half precision to and from float and double.
 * The VFP converts 32-bit integers only; these work on 32-bit halves and
 * on the bits, so that none is compiled into a call of itself. */
#include "libgcc.h"

static const double kTwo32 = 4294967296.0;

/* Each half converts exactly and the product by 2^32 is exact, so the one
 * addition is the only rounding, made as the current rounding mode says. */
HIDDEN BASE_PCS double __aeabi_ul2d(uint64_t x)
{
    return (double)(uint32_t)(x >> 32) * kTwo32 + (double)(uint32_t)x;
}

HIDDEN BASE_PCS double __aeabi_l2d(int64_t x)
{
    return (double)(int32_t)((uint64_t)x >> 32) * kTwo32 + (double)(uint32_t)x;
}

/* To float, one rounding: a value of more than 53 bits is first cut to 53
 * with the bits cut off kept as a sticky bit, which rounds to float as the
 * whole value would; then it converts to double exactly. */
static float u64_to_float(uint64_t x)
{
    int shift = x >> 53 ? 11 - clz64(x) : 0;
    if (shift > 0) x = x >> shift | ((x & (((uint64_t)1 << shift) - 1)) != 0);
    double d = __aeabi_ul2d(x);  // exact: below 2^53
    for (int i = 0; i < shift; ++i) d *= 2.0;
    return (float)d;
}

HIDDEN BASE_PCS float __aeabi_ul2f(uint64_t x)
{
    return u64_to_float(x);
}

HIDDEN BASE_PCS float __aeabi_l2f(int64_t x)
{
    float f = u64_to_float(x < 0 ? 0 - (uint64_t)x : (uint64_t)x);
    return x < 0 ? -f : f;
}

/* Truncation toward zero of |d| < 2^64. The high half is the integer part
 * of d / 2^32; what remains below it is exact. */
static uint64_t truncate_magnitude(double d)
{
    if (d < kTwo32) return (uint32_t)d;
    uint32_t hi = (uint32_t)(d / kTwo32);
    return (uint64_t)hi << 32 | (uint32_t)(d - (double)hi * kTwo32);
}

/* Out of range, C leaves the result undefined; these saturate, as the
 * VFP's own conversions do, and a NaN gives 0. */
HIDDEN BASE_PCS int64_t __aeabi_d2lz(double d)
{
    if (d != d) return 0;
    if (d >= 9223372036854775808.0) return INT64_MAX;
    if (d <= -9223372036854775808.0) return INT64_MIN;
    uint64_t m = truncate_magnitude(d < 0 ? -d : d);
    return d < 0 ? (int64_t)(0 - m) : (int64_t)m;
}

HIDDEN BASE_PCS uint64_t __aeabi_d2ulz(double d)
{
    if (!(d > 0)) return 0;  // a NaN too
    if (d >= 18446744073709551616.0) return UINT64_MAX;
    return truncate_magnitude(d);
}

HIDDEN BASE_PCS int64_t __aeabi_f2lz(float f)
{
    return __aeabi_d2lz(f);
}

HIDDEN BASE_PCS uint64_t __aeabi_f2ulz(float f)
{
    return __aeabi_d2ulz(f);
}

/* ---- Half precision ----------------------------------------------------
 * IEEE binary16, or ARM's alternative format (-mfp16-format=alternative),
 * which has no infinities or NaNs and uses exponent 31 for numbers up to
 * 131008. */

/* A value given as sign, unbiased exponent of its leading bit and a
 * mantissa of `bits` bits below that leading bit (all of it, any width
 * up to 63), rounded once to nearest even in half precision. */
static uint16_t round_to_half(uint32_t sign, int exp, uint64_t mant, int bits, int alternative)
{
    int max_exp = alternative ? 16 : 15;
    uint64_t full = (uint64_t)1 << bits | mant;  // the leading bit made explicit
    // Bits of `full` kept: 11 for a normal number, fewer below 2^-14.
    int keep = exp >= -14 ? 11 : 11 - (-14 - exp);
    if (keep < 0) return (uint16_t)sign;  // below half of the least subnormal
    int drop = bits + 1 - keep;
    uint64_t kept = full >> drop, rest = full & (((uint64_t)1 << drop) - 1), half = (uint64_t)1 << (drop - 1);
    if (rest > half || (rest == half && (kept & 1))) ++kept;
    // `kept` is now the significand with its leading bit, or a subnormal's
    // bits; a carry out of 11 bits moves the exponent up by one.
    int e = exp >= -14 ? exp : -15;
    if (kept >> 11) {
        kept >>= 1;
        ++e;
    }
    if (exp < -14 && kept >> 10) e = -14;  // rounded up to the least normal
    if (e > max_exp) return (uint16_t)(sign | (alternative ? 0x7FFF : 0x7C00));
    uint32_t biased = kept >> 10 ? (uint32_t)(e + 15) : 0;
    return (uint16_t)(sign | biased << 10 | (kept & 0x3FF));
}

static uint16_t float_to_half(float f, int alternative)
{
    uint32_t u = bits_of_float(f), sign = u >> 16 & 0x8000, exp = u >> 23 & 0xFF, mant = u & 0x7FFFFF;
    if (exp == 0xFF) {
        if (alternative) return (uint16_t)(mant ? sign : sign | 0x7FFF);
        return (uint16_t)(sign | 0x7C00 | (mant ? 0x200 | mant >> 13 : 0));
    }
    if (exp == 0) return (uint16_t)sign;  // float subnormals are far below half's
    return round_to_half(sign, (int)exp - 127, mant, 23, alternative);
}

static uint16_t double_to_half(double d, int alternative)
{
    uint64_t u = bits_of_double(d), mant = u & (((uint64_t)1 << 52) - 1);
    uint32_t sign = (uint32_t)(u >> 48) & 0x8000, exp = (uint32_t)(u >> 52) & 0x7FF;
    if (exp == 0x7FF) {
        if (alternative) return (uint16_t)(mant ? sign : sign | 0x7FFF);
        return (uint16_t)(sign | 0x7C00 | (mant ? 0x200 | (uint32_t)(mant >> 42) : 0));
    }
    if (exp == 0) return (uint16_t)sign;
    return round_to_half(sign, (int)exp - 1023, mant, 52, alternative);
}

static float half_to_float(uint16_t h, int alternative)
{
    uint32_t sign = (uint32_t)(h & 0x8000) << 16, exp = h >> 10 & 0x1F, mant = h & 0x3FF;
    // A NaN comes out quiet, as IEEE 754 has a conversion of a signalling one.
    if (exp == 0x1F && !alternative)
        return float_of_bits(sign | 0x7F800000 | mant << 13 | (mant ? 0x400000 : 0));
    if (exp == 0) {
        if (mant == 0) return float_of_bits(sign);
        int shift = __builtin_clz(mant) - 21;  // to put the leading bit at bit 10
        mant = (mant << shift) & 0x3FF;
        exp = 1 - (uint32_t)shift;
    }
    return float_of_bits(sign | (exp + 112) << 23 | mant << 13);
}

HIDDEN BASE_PCS uint16_t __gnu_f2h_ieee(float f)
{
    return float_to_half(f, 0);
}
HIDDEN BASE_PCS uint16_t __gnu_f2h_alternative(float f)
{
    return float_to_half(f, 1);
}
HIDDEN BASE_PCS float __gnu_h2f_ieee(uint16_t h)
{
    return half_to_float(h, 0);
}
HIDDEN BASE_PCS float __gnu_h2f_alternative(uint16_t h)
{
    return half_to_float(h, 1);
}
HIDDEN BASE_PCS uint16_t __gnu_d2h_ieee(double d)
{
    return double_to_half(d, 0);
}
HIDDEN BASE_PCS uint16_t __gnu_d2h_alternative(double d)
{
    return double_to_half(d, 1);
}
ALIAS(__aeabi_f2h, __gnu_f2h_ieee);
ALIAS(__aeabi_f2h_alt, __gnu_f2h_alternative);
ALIAS(__aeabi_h2f, __gnu_h2f_ieee);
ALIAS(__aeabi_h2f_alt, __gnu_h2f_alternative);
ALIAS(__aeabi_d2h, __gnu_d2h_ieee);
ALIAS(__aeabi_d2h_alt, __gnu_d2h_alternative);
