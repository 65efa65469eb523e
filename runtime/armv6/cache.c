/* SPDX-License-Identifier: MIT */
/* __builtin___clear_cache, and trampolines of nested functions: ARM Linux
 * makes written code visible to instruction fetch by its private
 * cacheflush system call. */
#include <unistd.h>

#define HIDDEN __attribute__((visibility("hidden")))

HIDDEN void __clear_cache(void* begin, void* end)
{
    syscall(0xf0002, begin, end, 0);
}
