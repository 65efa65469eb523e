/* SPDX-License-Identifier: MIT */
/* The ARMv6 division helpers against the defining property of division:
 * n == q * d + r, with |r| < |d|, the quotient truncated toward zero and
 * the remainder taking the dividend's sign. */
#include <stdint.h>
#include <stdio.h>

uint32_t __aeabi_uidiv(uint32_t, uint32_t);
uint64_t __aeabi_uidivmod(uint32_t, uint32_t);
int32_t __aeabi_idiv(int32_t, int32_t);
uint64_t __aeabi_idivmod(int32_t, int32_t);
uint64_t tavrel_rt_udivmod64(uint64_t, uint64_t, uint64_t*);
int64_t tavrel_rt_sdivmod64(int64_t, int64_t, int64_t*);

static int failures;

#define CHECK(cond, ...)                  \
    do {                                  \
        if (!(cond)) {                    \
            printf("FAIL: " __VA_ARGS__); \
            ++failures;                   \
        }                                 \
    } while (0)

static uint64_t state = 0x9E3779B97F4A7C15u;
static uint64_t next(void)
{
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

int main(void)
{
    for (int i = 0; i < 20000; ++i) {
        uint64_t a = next(), b = next() >> (next() % 64);
        if (b == 0) b = 1;
        uint32_t a32 = (uint32_t)a, b32 = (uint32_t)b ? (uint32_t)b : 1;

        uint64_t qr = __aeabi_uidivmod(a32, b32);
        uint32_t q = (uint32_t)qr, r = (uint32_t)(qr >> 32);
        CHECK((uint64_t)q * b32 + r == a32 && r < b32, "uidivmod %u %u\n", a32, b32);
        CHECK(__aeabi_uidiv(a32, b32) == q, "uidiv %u %u\n", a32, b32);

        int32_t s = (int32_t)a32, t = (int32_t)b32;
        if (t == 0 || (s == INT32_MIN && t == -1)) continue;
        uint64_t sqr = __aeabi_idivmod(s, t);
        int32_t sq = (int32_t)(uint32_t)sqr, sr = (int32_t)(uint32_t)(sqr >> 32);
        CHECK((int64_t)sq * t + sr == s, "idivmod %d %d\n", s, t);
        CHECK((sr == 0 || (sr < 0) == (s < 0)) && (sr < 0 ? -(int64_t)sr : sr) < (t < 0 ? -(int64_t)t : t),
              "idivmod remainder %d %d\n", s, t);
        CHECK(__aeabi_idiv(s, t) == sq, "idiv %d %d\n", s, t);

        uint64_t r64;
        uint64_t q64 = tavrel_rt_udivmod64(a, b, &r64);
        CHECK(q64 * b + r64 == a && r64 < b, "udivmod64\n");
        int64_t sa = (int64_t)a, sb = (int64_t)b * ((next() & 1) ? -1 : 1), sr64;
        if (sa == INT64_MIN) continue;
        int64_t sq64 = tavrel_rt_sdivmod64(sa, sb, &sr64);
        CHECK(sq64 * sb + sr64 == sa && (sr64 == 0 || (sr64 < 0) == (sa < 0)), "sdivmod64\n");
    }
    printf("%s\n", failures ? "division helpers FAILED" : "division helpers ok: 20000 cases each");
    return failures != 0;
}
