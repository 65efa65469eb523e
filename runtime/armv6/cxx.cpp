// SPDX-License-Identifier: MIT
// The C++ runtime support that code built without exceptions and RTTI
// still calls, in place of libstdc++/libsupc++: Debian's armhf builds of
// those are Thumb-2. Private to the binary they are linked into, but for
// the allocation operators, whose implicit declarations the compiler
// gives default visibility.
#include <pthread.h>
#include <stddef.h>
#include <stdlib.h>

// <new> would declare the helpers of the C++ library as well.
namespace std {
using size_t = ::size_t;
struct nothrow_t;
enum class align_val_t : size_t;
}  // namespace std

#define HIDDEN __attribute__((visibility("hidden")))

extern "C" int __cxa_atexit(void (*fn)(void*), void* arg, void* dso);

namespace {
// Allocation failure cannot be thrown, so it ends the program, as an
// uncaught std::bad_alloc would.
void* allocate(std::size_t n)
{
    void* p = malloc(n ? n : 1);
    if (!p) abort();
    return p;
}

void* allocate_aligned(std::size_t n, std::align_val_t align)
{
    void* p = nullptr;
    std::size_t a = static_cast<std::size_t>(align);
    if (a < sizeof(void*)) a = sizeof(void*);
    if (posix_memalign(&p, a, n ? n : 1) != 0) abort();
    return p;
}

// One lock for every function-local static, recursive because one static's
// initializer may reach another's.
pthread_mutex_t guard_lock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
}  // namespace

void* operator new(std::size_t n)
{
    return allocate(n);
}
void* operator new[](std::size_t n)
{
    return allocate(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
    return malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept
{
    return malloc(n ? n : 1);
}
void* operator new(std::size_t n, std::align_val_t a)
{
    return allocate_aligned(n, a);
}
void* operator new[](std::size_t n, std::align_val_t a)
{
    return allocate_aligned(n, a);
}
void operator delete(void* p) noexcept
{
    free(p);
}
void operator delete[](void* p) noexcept
{
    free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    free(p);
}
void operator delete(void* p, std::align_val_t) noexcept
{
    free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept
{
    free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept
{
    free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept
{
    free(p);
}

extern "C" {
// The ARM EABI's registration of a static object's destructor.
HIDDEN int __aeabi_atexit(void* object, void (*destructor)(void*), void* dso)
{
    return __cxa_atexit(destructor, object, dso);
}

HIDDEN void __cxa_pure_virtual()
{
    abort();
}
HIDDEN void __cxa_deleted_virtual()
{
    abort();
}

// Function-local statics. The ARM EABI's guard is a 32-bit word whose
// lowest bit says the object is initialized.
HIDDEN int __cxa_guard_acquire(int* guard)
{
    if (__atomic_load_n(guard, __ATOMIC_ACQUIRE) & 1) return 0;
    pthread_mutex_lock(&guard_lock);
    if (*guard & 1) {
        pthread_mutex_unlock(&guard_lock);
        return 0;
    }
    return 1;
}

HIDDEN void __cxa_guard_release(int* guard)
{
    __atomic_store_n(guard, 1, __ATOMIC_RELEASE);
    pthread_mutex_unlock(&guard_lock);
}

HIDDEN void __cxa_guard_abort(int*)
{
    pthread_mutex_unlock(&guard_lock);
}
}
