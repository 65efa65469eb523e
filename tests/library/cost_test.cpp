// SPDX-License-Identifier: MIT
// The pin operations' cost promise, counted rather than timed: with access
// open they make no system call and no heap allocation.
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>

#include "support/sim_board.h"
#include "tavrel.h"

// Sanitizers bring allocators of their own: count only without them.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define TAVREL_COUNT_ALLOCATIONS 1
#endif

#ifdef TAVREL_COUNT_ALLOCATIONS
// Allocation counting, as the library binds to it: this program defines
// the allocator's entry points and passes them to glibc's own.
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
static std::atomic<long> allocations{0};
extern "C" void* malloc(size_t n)
{
    ++allocations;
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t m)
{
    ++allocations;
    return __libc_calloc(n, m);
}
extern "C" void* realloc(void* p, size_t n)
{
    ++allocations;
    return __libc_realloc(p, n);
}
#endif

namespace {

using namespace tavrel_test;

void all_operations(int rounds)
{
    for (int i = 0; i < rounds; ++i) {
        tavrel_gpio_config_io(17, i & 1);
        tavrel_gpio_set_alt(18, i % 6);
        tavrel_gpio_set_val(17, i & 1);
        tavrel_gpio_set_val(40, i & 1);
        tavrel_gpio_set_byte(4, i);
        (void)tavrel_gpio_get_val(17);
        (void)tavrel_gpio_get_byte(4);
    }
}

#ifdef TAVREL_COUNT_ALLOCATIONS
TEST(Cost, pin_operations_allocate_nothing)
{
    SimBoard board;
    ASSERT_EQ(tavrel_gpio_init_noatexit(), 0);
    long before = allocations.load();
    all_operations(100);
    EXPECT_EQ(allocations.load() - before, 0);
    tavrel_gpio_deinit();
}
#endif

#if defined(__x86_64__)
TEST(Cost, pin_operations_make_no_system_call)
{
    // Plain shared memory: the trapping model would add its own signals.
    SimBoard board;
    setenv(tavrel_sim::kModeEnv, "plain", 1);
    pid_t pid = fork();
    if (pid == 0) {
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        raise(SIGSTOP);
        if (tavrel_gpio_init_noatexit() != 0) _exit(2);
        syscall(SYS_getppid);  // marks the start
        all_operations(100);
        syscall(SYS_getppid);  // and the end
        _exit(0);
    }
    unsetenv(tavrel_sim::kModeEnv);
    int status;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD);
    int markers = 0, between = 0;
    bool entry = true;
    for (;;) {
        ptrace(PTRACE_SYSCALL, pid, nullptr, nullptr);
        if (waitpid(pid, &status, 0) != pid || WIFEXITED(status) || WIFSIGNALED(status)) break;
        if (!(WIFSTOPPED(status) && WSTOPSIG(status) == (SIGTRAP | 0x80))) continue;
        if (entry) {
            user_regs_struct regs;
            ptrace(PTRACE_GETREGS, pid, nullptr, &regs);
            if (static_cast<long>(regs.orig_rax) == SYS_getppid)
                ++markers;
            else if (markers == 1)
                ++between;
        }
        entry = !entry;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(markers, 2);
    EXPECT_EQ(between, 0) << "system calls made by 700 pin operations";
}
#endif

}  // namespace
