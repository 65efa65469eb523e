/* SPDX-License-Identifier: MIT */
/* What a -nostdlib link no longer takes from Debian's static objects,
 * whose code is Thumb-2: the DSO handle, atexit and pthread_atfork. Both are hidden,
 * private to the binary they are linked into. */

#define HIDDEN __attribute__((visibility("hidden")))

HIDDEN void* __dso_handle = &__dso_handle;

int __cxa_atexit(void (*fn)(void*), void* arg, void* dso);

/* Tied to this binary, as atexit from libc_nonshared.a is: the handler
 * runs at exit, or when a library is unloaded. */
HIDDEN int atexit(void (*fn)(void))
{
    return __cxa_atexit((void (*)(void*))fn, 0, &__dso_handle);
}

int __register_atfork(void (*prepare)(void), void (*parent)(void), void (*child)(void), void* dso);

/* Tied to this binary, as pthread_atfork from libc_nonshared.a is. */
HIDDEN int pthread_atfork(void (*prepare)(void), void (*parent)(void), void (*child)(void))
{
    return __register_atfork(prepare, parent, child, &__dso_handle);
}
