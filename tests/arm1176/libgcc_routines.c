/* SPDX-License-Identifier: MIT */
/* Exercises every libgcc routine the ARMv6 runtime stands in for, through
 * the C that makes GCC call them: built for the ARM1176 it calls the
 * runtime's, built for the host the host's own libgcc or hardware. The
 * two outputs must be equal (libgcc_routines.sh compares them). Results
 * are printed as bits; complex quotients, whose last bits C leaves to the
 * implementation, to 12 digits. Names only the ARM run-time ABI has are
 * checked on ARM alone, against the operators they implement. */
#include <complex.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef __arm__
typedef __fp16 half;
#else
typedef _Float16 half;
#endif

static uint64_t state = 0x2545F4914F6CDD1Du;
static uint64_t next(void)
{
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

static uint64_t bits_d(double d)
{
    uint64_t u;
    memcpy(&u, &d, sizeof u);
    return u;
}
static uint32_t bits_f(float f)
{
    uint32_t u;
    memcpy(&u, &f, sizeof u);
    return u;
}
static unsigned bits_h(half h)
{
    uint16_t u;
    memcpy(&u, &h, sizeof u);
    return u;
}
static double double_of(uint64_t u)
{
    double d;
    memcpy(&d, &u, sizeof d);
    return d;
}
static float float_of(uint32_t u)
{
    float f;
    memcpy(&f, &u, sizeof f);
    return f;
}

/* A value of every magnitude: random bits shifted right by a random count. */
static uint64_t any_width(void)
{
    return next() >> (next() % 64);
}

/* Noinline, so that no operand is a constant the compiler folds. */
#define OPAQUE __attribute__((noinline))

OPAQUE static void conversions(void)
{
    static const uint64_t edges[] = {0,
                                     1,
                                     0x7FFFFFFF,
                                     0x80000000u,
                                     0xFFFFFFFFu,
                                     0x100000000u,
                                     (1ull << 53) - 1,
                                     1ull << 53,
                                     (1ull << 53) + 1,
                                     0x20000000000001ull,
                                     0x7FFFFFFFFFFFFFFFull,
                                     0x8000000000000000ull,
                                     0xFFFFFFFFFFFFFFFFull,
                                     0x1000000000000081ull,
                                     0xFFFFFF7FFFFFFFFFull};
    for (int i = 0; i < 4000; ++i) {
        uint64_t u = i < 15 ? edges[i] : any_width();
        int64_t s = (int64_t)u;
        printf("l2d %016llx %016llx %016llx %08x %08x\n", (unsigned long long)u,
               (unsigned long long)bits_d((double)s), (unsigned long long)bits_d((double)u), bits_f((float)s),
               bits_f((float)u));
        // Back: values that fit, with fractions.
        double d =
            double_of((bits_d((double)s) & 0x800FFFFFFFFFFFFFull) | (uint64_t)(1023 + next() % 63) << 52);
        double du =
            double_of((bits_d((double)u) & 0x000FFFFFFFFFFFFFull) | (uint64_t)(1023 + next() % 64) << 52);
        float f = (float)d, fu = (float)du;
        if (f >= 9223372036854775808.0f || f < -9223372036854775808.0f) f = 0.5f;
        printf("d2l %016llx %016llx %016llx %016llx\n", (unsigned long long)(int64_t)d,
               (unsigned long long)(uint64_t)du, (unsigned long long)(int64_t)f,
               (unsigned long long)(uint64_t)fu);
    }
    printf("small %lld %llu %lld\n", (long long)(double)-0.75, (unsigned long long)(double)0.75,
           (long long)(float)-2.5f);
}

OPAQUE static void halves(void)
{
    for (uint32_t h = 0; h < 0x10000; ++h) {  // every half to float
        uint16_t b = (uint16_t)h;
        half x;
        memcpy(&x, &b, sizeof x);
        float f = x;
        if (h % 7 && (h & 0x7C00) != 0 && (h & 0x7C00) != 0x7C00) continue;
        if (f != f)  // NaN payloads aside: the quiet bit, and the sign
            printf("h2f %04x nan %d %x\n", h, (int)(bits_f(f) >> 31), bits_f(f) >> 22 & 1);
        else
            printf("h2f %04x %08x\n", h, bits_f(f));
    }
    for (int i = 0; i < 20000; ++i) {
        // Around half's range, with every rounding case.
        float f = float_of(((uint32_t)next() & 0x81FFFFFFu) | (uint32_t)(97 + next() % 50) << 23);
        double d = double_of((next() & 0x800FFFFFFFFFFFFFull) | (uint64_t)(997 + next() % 50) << 52);
        half hf = (half)f, hd = (half)d;
        printf("f2h %08x %04x %016llx %04x\n", bits_f(f), bits_h(hf), (unsigned long long)bits_d(d),
               bits_h(hd));
    }
}

OPAQUE static void bit_counts(void)
{
    for (int i = 0; i < 4000; ++i) {
        uint64_t u = any_width() | (i & 1);
        uint32_t w = (uint32_t)u | 1;
        printf("bits %016llx %d %d %d %d %d %d %d %d %d %d %d %d %08x %016llx\n", (unsigned long long)u,
               __builtin_popcount((uint32_t)u), __builtin_popcountll(u), __builtin_parity((uint32_t)u),
               __builtin_parityll(u), __builtin_ctz(w), __builtin_ctzll(u | 1ull << 63), __builtin_clz(w),
               __builtin_clzll(u | 1), __builtin_ffs((int)(uint32_t)u), __builtin_ffsll((long long)u),
               __builtin_clrsb((int)(uint32_t)u), __builtin_clrsbll((long long)u),
               __builtin_bswap32((uint32_t)u), (unsigned long long)__builtin_bswap64(u));
    }
}

OPAQUE static void wide_integers(void)
{
    for (int i = 0; i < 4000; ++i) {
        uint64_t a = any_width(), b = any_width() | 1;
        int n = (int)(next() % 64);
        int64_t sa = (int64_t)a, sb = (int64_t)b;
        printf(
            "int64 %016llx %016llx %d %016llx %016llx %016llx %016llx %d %d %016llx %016llx %016llx "
            "%016llx\n",
            (unsigned long long)a, (unsigned long long)b, n, (unsigned long long)(a << n),
            (unsigned long long)(a >> n), (unsigned long long)(sa >> n), (unsigned long long)(a * b), sa < sb,
            a < b, (unsigned long long)(a / b), (unsigned long long)(a % b),
            (unsigned long long)(sb == -1 ? 0 : sa / sb), (unsigned long long)(sb == -1 ? 0 : sa % sb));
    }
}

/* Routines both the host's libgcc and the runtime have, called by name:
 * GCC inlines some of what would call them, on either machine. */
int32_t __addvsi3(int32_t, int32_t), __subvsi3(int32_t, int32_t), __mulvsi3(int32_t, int32_t);
int32_t __negvsi2(int32_t), __absvsi2(int32_t);
int64_t __addvdi3(int64_t, int64_t), __subvdi3(int64_t, int64_t), __mulvdi3(int64_t, int64_t);
int64_t __negvdi2(int64_t), __absvdi2(int64_t);
int __popcountdi2(uint64_t), __paritydi2(uint64_t), __ctzdi2(uint64_t), __clzdi2(uint64_t),
    __ffsdi2(uint64_t);
int __clrsbdi2(int64_t);
uint32_t __bswapsi2(uint32_t);
uint64_t __bswapdi2(uint64_t);
double _Complex __muldc3(double, double, double, double), __divdc3(double, double, double, double);
float _Complex __mulsc3(float, float, float, float), __divsc3(float, float, float, float);
double __powidf2(double, int);
float __powisf2(float, int);

OPAQUE static void by_name(void)
{
    for (int i = 0; i < 2000; ++i) {
        uint64_t u = any_width() | 1;
        printf("named %016llx %d %d %d %d %d %d %08x %016llx\n", (unsigned long long)u, __popcountdi2(u),
               __paritydi2(u), __ctzdi2(u << (i % 64)), __clzdi2(u), __ffsdi2(u << (i % 64)),
               __clrsbdi2((int64_t)u), __bswapsi2((uint32_t)u), (unsigned long long)__bswapdi2(u));
    }
}

/* -ftrapv's checked arithmetic: the result, or abort() on overflow (in a
 * child). */
static int64_t add32(int64_t a, int64_t b)
{
    return __addvsi3((int32_t)a, (int32_t)b);
}
static int64_t sub32(int64_t a, int64_t b)
{
    return __subvsi3((int32_t)a, (int32_t)b);
}
static int64_t mul32(int64_t a, int64_t b)
{
    return __mulvsi3((int32_t)a, (int32_t)b);
}
static int64_t neg32(int64_t a, int64_t b)
{
    return (void)b, __negvsi2((int32_t)a);
}
static int64_t abs32(int64_t a, int64_t b)
{
    return (void)b, __absvsi2((int32_t)a);
}
static int64_t neg64(int64_t a, int64_t b)
{
    return (void)b, __negvdi2(a);
}
static int64_t abs64(int64_t a, int64_t b)
{
    return (void)b, __absvdi2(a);
}

static const char* outcome(int64_t (*op)(int64_t, int64_t), int64_t a, int64_t b)
{
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        volatile int64_t r = op(a, b);
        (void)r;
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT ? "abort" : WIFEXITED(status) ? "ok" : "?";
}

OPAQUE static void trapping(void)
{
    for (int i = 0; i < 2000; ++i) {
        int64_t a = (int64_t)any_width() >> 2, b = (int64_t)(any_width() >> 34) * (i & 1 ? -1 : 1);
        int32_t x = (int32_t)(a >> 34), y = (int32_t)(b >> 12);
        printf("trapv %lld %lld %d %d %lld %lld %lld %lld %lld %d %d %d %d %d\n", (long long)a, (long long)b,
               x, y, (long long)__addvdi3(a, b), (long long)__subvdi3(a, b), (long long)__mulvdi3(a >> 31, b),
               (long long)__negvdi2(b), (long long)__absvdi2(b), __addvsi3(x, y), __subvsi3(x, y),
               __mulvsi3(x >> 16, y), __negvsi2(x), __absvsi2(-x));
    }
    printf("overflow %s %s %s %s %s %s %s %s %s %s %s\n", outcome(add32, INT32_MAX, 1),
           outcome(__addvdi3, INT64_MIN, -1), outcome(sub32, INT32_MIN, 1), outcome(__subvdi3, INT64_MAX, -1),
           outcome(mul32, 65536, 32768), outcome(__mulvdi3, 3037000500, 3037000500),
           outcome(__mulvdi3, INT64_MIN, -1), outcome(neg32, INT32_MIN, 0), outcome(neg64, INT64_MIN, 0),
           outcome(abs32, INT32_MIN, 0), outcome(abs64, INT64_MIN, 0));
    printf("no overflow %s %s %s %s\n", outcome(__mulvdi3, -3037000499, 3037000499),
           outcome(__mulvdi3, INT64_MIN, 1), outcome(mul32, -65536, 32768), outcome(sub32, -1, INT32_MAX));
}

static const char* kind(double x)
{
    return x != x ? "nan" : x == __builtin_inf() ? "+inf" : x == -__builtin_inf() ? "-inf" : "fin";
}

/* A double's bits, or "nan": the sign and payload of a NaN differ
 * between machines (x86's default NaN is negative). */
static const char* shown(double x, char* buf)
{
    if (x != x) return "nan";
    sprintf(buf, "%016llx", (unsigned long long)bits_d(x));
    return buf;
}
static const char* shown_f(float x, char* buf)
{
    if (x != x) return "nan";
    sprintf(buf, "%08x", bits_f(x));
    return buf;
}

static int close_to(float complex q, double complex exact)
{
    double size2 = creal(exact) * creal(exact) + cimag(exact) * cimag(exact);
    double dr = crealf(q) - creal(exact), di = cimagf(q) - cimag(exact);
    return dr * dr + di * di <= 1e-12 * size2;  // within 1e-6 of the size
}

OPAQUE static void complex_numbers(void)
{
    const double inf = __builtin_inf(), nan = __builtin_nan("");
    const double special[] = {0.0, -0.0, 1.0, -2.5, inf, -inf, nan, 1e300, 1e-300, 4.9e-324};
    char b1[24], b2[24], b3[24], b4[24];
    for (int i = 0; i < 14000; ++i) {
        double p[4];  // the specials' every combination, then ordinary values
        for (int k = 0; k < 4; ++k)
            p[k] =
                i < 10000
                    ? special[i /
                              (k == 0   ? 1
                               : k == 1 ? 10
                               : k == 2 ? 100
                                        : 1000) %
                              10]
                    : double_of((next() & 0x800FFFFFFFFFFFFFull) | (uint64_t)(1023 - 30 + next() % 61) << 52);
        float f[4] = {(float)p[0], (float)p[1], (float)p[2], (float)p[3]};
        // The operators where GCC calls the routines, and the routines by name.
        double complex a = __builtin_complex(p[0], p[1]), b = __builtin_complex(p[2], p[3]);
        double complex m = a * b, q = a / b, mn = __muldc3(p[0], p[1], p[2], p[3]);
        float complex af = __builtin_complex(f[0], f[1]), bf = __builtin_complex(f[2], f[3]);
        float complex mf = af * bf, qf = af / bf, mfn = __mulsc3(f[0], f[1], f[2], f[3]);
        printf("complex %d %s %s %s %s", i, shown(creal(m), b1), shown(cimag(m), b2), shown_f(crealf(mf), b3),
               shown_f(cimagf(mf), b4));
        printf(" %s %s %s %s", shown(creal(mn), b1), shown(cimag(mn), b2), shown_f(crealf(mfn), b3),
               shown_f(cimagf(mfn), b4));
        double complex qn = __divdc3(p[0], p[1], p[2], p[3]);
        float complex qfn = __divsc3(f[0], f[1], f[2], f[3]);
        // Division's infinities and NaNs are Annex G's where a part is
        // infinite, NaN or the divisor 0; finite parts that overflow or
        // underflow are left to the algorithm (the host's GCC 12 libgcc
        // gives 1e300 / 1e-300 a NaN part, and 5e-324 / 1e-300 a wrong
        // value), so those cases are not compared.
        int extreme = 0;
        for (int k = 0; k < 4; ++k) extreme |= p[k] == 1e300 || p[k] == 1e-300 || p[k] == 4.9e-324;
        if (i < 10000 && extreme) {
            printf("\n");
            continue;
        }
        printf(" %s %s %s %s %s %s %s %s", kind(creal(q)), kind(cimag(q)), kind(crealf(qf)), kind(cimagf(qf)),
               kind(creal(qn)), kind(cimag(qn)), kind(crealf(qfn)), kind(cimagf(qfn)));
        // The sign of a zero part is the algorithm's choice (x86's inline
        // division and its own __divdc3 differ in it): values only.
        if (creal(q) - creal(q) == 0) printf(" %.12g %.12g", creal(q) + 0.0, cimag(q) + 0.0);
        if (creal(qn) - creal(qn) == 0) printf(" %.12g %.12g", creal(qn) + 0.0, cimag(qn) + 0.0);
        // In float, a part much smaller than the other loses its digits to
        // cancellation in any algorithm: the error is measured against the
        // quotient's size, from the same operands divided in double.
        if (i >= 10000) {
            double complex exact = (double complex)af / (double complex)bf;
            printf(" %s %s", close_to(qf, exact) ? "near" : "far", close_to(qfn, exact) ? "near" : "far");
        }
        printf("\n");
    }
    // By name: GCC expands __builtin_powi with a known exponent into its
    // own chain of multiplications, whose rounding differs.
    for (int n = -40; n <= 40; ++n)
        printf("powi %d %016llx %08x\n", n, (unsigned long long)bits_d(__powidf2(1.0001 + n, n)),
               bits_f(__powisf2(0.9f - n / 64.0f, n)));
}

#ifdef __arm__
/* Names of the run-time ABI alone, against what they implement. */
uint64_t __aeabi_llsl(uint64_t, int), __aeabi_llsr(uint64_t, int), __aeabi_lmul(uint64_t, uint64_t);
int __popcountsi2(uint32_t), __paritysi2(uint32_t), __ctzsi2(uint32_t), __clzsi2(uint32_t),
    __ffssi2(uint32_t);
int __clrsbsi2(int32_t);
int64_t __aeabi_lasr(int64_t, int);
int __aeabi_lcmp(int64_t, int64_t), __aeabi_ulcmp(uint64_t, uint64_t), __cmpdi2(int64_t, int64_t);
#define BASE_PCS __attribute__((pcs("aapcs")))
BASE_PCS uint16_t __gnu_f2h_alternative(float);
BASE_PCS uint16_t __gnu_d2h_alternative(double);
BASE_PCS float __gnu_h2f_alternative(uint16_t);
void __clear_cache(void*, void*);

static int arm_only(void)
{
    int bad = 0;
    for (int i = 0; i < 4000; ++i) {
        uint64_t a = any_width(), b = any_width();
        int n = (int)(next() % 64);
        bad +=
            __aeabi_llsl(a, n) != a << n || __aeabi_llsr(a, n) != a >> n ||
            __aeabi_lasr((int64_t)a, n) != (int64_t)a >> n || __aeabi_lmul(a, b) != a * b ||
            __aeabi_lcmp((int64_t)a, (int64_t)b) != ((int64_t)a > (int64_t)b) - ((int64_t)a < (int64_t)b) ||
            __aeabi_ulcmp(a, b) != (a > b) - (a < b) ||
            __cmpdi2((int64_t)a, (int64_t)b) != __aeabi_lcmp((int64_t)a, (int64_t)b) + 1;
        uint32_t w = (uint32_t)a | 1;
        bad += __popcountsi2((uint32_t)a) != __popcountdi2((uint32_t)a) ||
               __paritysi2((uint32_t)a) != __paritydi2((uint32_t)a) || __ctzsi2(w) != __ctzdi2(w) ||
               __clzsi2(w) != __clzdi2(w) - 32 || __ffssi2((uint32_t)a) != __ffsdi2((uint32_t)a) ||
               __clrsbsi2((int32_t)a) != __clrsbdi2((int32_t)a) - 32;
        // The alternative half format: IEEE's where both have the value.
        float f = float_of(((uint32_t)next() & 0x807FFFFFu) | (uint32_t)(100 + next() % 42) << 23);
        half h = (half)f;
        bad += __gnu_f2h_alternative(f) != bits_h(h) || __gnu_d2h_alternative(f) != bits_h(h);
    }
    // Beyond IEEE's range: exponent 31 is a number, and no value is infinite.
    bad += __gnu_f2h_alternative(65536.0f) != 0x7C00 || __gnu_h2f_alternative(0x7FFF) != 131008.0f ||
           __gnu_f2h_alternative(1e10f) != 0x7FFF || __gnu_f2h_alternative(-__builtin_inff()) != 0xFFFF ||
           __gnu_f2h_alternative(__builtin_nanf("")) != 0;
    static char code[64];
    __clear_cache(code, code + sizeof code);
    return bad;
}
#endif

int main(void)
{
    conversions();
    halves();
    bit_counts();
    wide_integers();
    by_name();
    trapping();
    complex_numbers();
#ifdef __arm__
    if (arm_only()) {
        fprintf(stderr, "the ARM run-time ABI's own names disagree with the operators\n");
        return 1;
    }
#endif
    return 0;
}
