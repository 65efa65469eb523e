/* SPDX-License-Identifier: MIT */
/* A pattern of pin levels, such as "1011001". */
#ifndef PIZERO_APP_PATTERN_H
#define PIZERO_APP_PATTERN_H
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct pattern;

/* The pattern TEXT spells, 1 to 64 of '0' and '1'; NULL for any other
 * text. Free it with pattern_free. */
struct pattern* pattern_new(const char* text);
void pattern_free(struct pattern* p);
int pattern_length(const struct pattern* p);
int32_t pattern_level(const struct pattern* p, int step);
/* How many times the level changes, starting from low. */
int pattern_changes(const struct pattern* p);
/* Whether the C++ part's static objects were constructed before main. */
int pattern_runtime_ready(void);

#ifdef __cplusplus
}
#endif
#endif
