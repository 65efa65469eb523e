/* SPDX-License-Identifier: MIT */
/* Stand-ins for GCC's crtbegin*.o and crtend*.o in the virtual Pi Zero's
 * glibc, whose own are ARMv7 Thumb-2 code. On ARM EABI frames unwind
 * through .ARM.exidx and constructors run from .init_array, so of their
 * work only the DSO handle is left and, in a shared object, running its
 * __cxa_atexit handlers when it is unloaded. Built with -DCRTEND it is
 * the empty crtend. */

#ifndef CRTEND
#define HIDDEN __attribute__((visibility("hidden")))

#ifdef SHARED
HIDDEN void* __dso_handle = &__dso_handle;

extern void __cxa_finalize(void* dso) __attribute__((weak));

static void finalize(void)
{
    if (__cxa_finalize) __cxa_finalize(__dso_handle);
}

/* First in the link, so last to run. */
__attribute__((section(".fini_array"), used)) static void (*const finalizer)(void) = finalize;
#else
HIDDEN void* __dso_handle = 0;
#endif
#else
typedef int empty_unit;
#endif
