// SPDX-License-Identifier: MIT
// Signal masks and actions, as the trapped block needs them.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/mman.h>
#include <sys/select.h>

#include "shim/shim.h"

namespace tavrel_sim::shim {

struct sigaction app_segv = {};
std::atomic<bool> segv_taken{false};

namespace {

// A program that blocks every signal (to take them with sigwait) must still
// have its accesses carried out: on the board, a blocked SIGSEGV would kill
// it at a real fault just the same, so only the block's faults differ.
const sigset_t* without_segv(const sigset_t* set, sigset_t* copy)
{
    if (!set || !model_mode() || !sigismember(set, SIGSEGV)) return set;
    *copy = *set;
    sigdelset(copy, SIGSEGV);
    return copy;
}

}  // namespace

}  // namespace tavrel_sim::shim

using namespace tavrel_sim::shim;

SHIM_API int pthread_sigmask(int how, const sigset_t* set, sigset_t* old)
{
    sigset_t copy;
    return real_mask()(how, how == SIG_UNBLOCK ? set : without_segv(set, &copy), old);
}

SHIM_API int sigprocmask(int how, const sigset_t* set, sigset_t* old)
{
    static Mask real = next<Mask>("sigprocmask");
    sigset_t copy;
    return real(how, how == SIG_UNBLOCK ? set : without_segv(set, &copy), old);
}

// SIGSEGV actions set after the shim took the signal are the program's
// own: kept for the faults that are not the block's, and reported back.
SHIM_API int sigaction(int sig, const struct sigaction* act, struct sigaction* old)
{
    struct sigaction copy;
    if (act && model_mode() && sigismember(&act->sa_mask, SIGSEGV)) {
        copy = *act;
        sigdelset(&copy.sa_mask, SIGSEGV);  // handlers may touch the block
        act = &copy;
    }
    if (sig != SIGSEGV || !segv_taken.load()) return real_sigaction()(sig, act, old);
    if (old) *old = app_segv;
    if (act) app_segv = *act;
    return 0;
}

SHIM_API sighandler_t signal(int sig, sighandler_t handler)
{
    struct sigaction sa = {}, old;
    sa.sa_handler = handler;
    sa.sa_flags = SA_RESTART;
    if (sigaction(sig, &sa, &old) != 0) return SIG_ERR;
    return old.sa_handler;  // shares its storage with sa_sigaction
}

// ---- the masks a wait puts in place ----------------------------------------

// A wait that sets a mask of its own (sigsuspend, ppoll, pselect,
// epoll_pwait) leaves SIGSEGV out of it too: a handler that runs during the
// wait, under that mask, may touch the block.
namespace tavrel_sim::shim {
namespace {

int (*real_sigsuspend)(const sigset_t*);
int (*real_ppoll)(struct pollfd*, nfds_t, const struct timespec*, const sigset_t*);
int (*real_pselect)(int, fd_set*, fd_set*, fd_set*, const struct timespec*, const sigset_t*);
int (*real_epoll_pwait)(int, struct epoll_event*, int, int, const sigset_t*);
int (*real_sigaltstack)(const stack_t*, stack_t*);

// The next definition, looked up at load, or now when called before it
// (a sanitizer's runtime sets its alternate stack first thing).
template <typename Fn>
Fn resolved(Fn& slot, const char* name)
{
    if (!slot) slot = next<Fn>(name);
    return slot;
}

}  // namespace

void resolve_waits()
{
    resolved(real_sigsuspend, "sigsuspend");
    resolved(real_ppoll, "ppoll");
    resolved(real_pselect, "pselect");
    resolved(real_epoll_pwait, "epoll_pwait");
    resolved(real_sigaltstack, "sigaltstack");
}

}  // namespace tavrel_sim::shim

SHIM_API int sigsuspend(const sigset_t* mask)
{
    auto real = resolved(real_sigsuspend, "sigsuspend");
    sigset_t copy;
    return real(without_segv(mask, &copy));
}

SHIM_API int ppoll(struct pollfd* fds, nfds_t n, const struct timespec* timeout, const sigset_t* mask)
{
    auto real = resolved(real_ppoll, "ppoll");
    sigset_t copy;
    return real(fds, n, timeout, without_segv(mask, &copy));
}

SHIM_API int pselect(int n, fd_set* r, fd_set* w, fd_set* e, const struct timespec* timeout,
                     const sigset_t* mask)
{
    auto real = resolved(real_pselect, "pselect");
    sigset_t copy;
    return real(n, r, w, e, timeout, without_segv(mask, &copy));
}

SHIM_API int epoll_pwait(int epfd, struct epoll_event* events, int max, int timeout, const sigset_t* mask)
{
    auto real = resolved(real_epoll_pwait, "epoll_pwait");
    sigset_t copy;
    return real(epfd, events, max, timeout, without_segv(mask, &copy));
}

// ---- the alternate signal stack ---------------------------------------------

namespace {

// The program's own alternate stack, as it set it, on this thread. The
// kernel has a larger one of the shim's in its place: a handler on it that
// touches the block has the trap's frame stacked over its own, which a
// small stack that serves on the device would not hold.
__attribute__((tls_model("initial-exec"))) __thread stack_t app_stack = {nullptr, SS_DISABLE, 0};
__attribute__((tls_model("initial-exec"))) __thread void* shim_stack = nullptr;
__attribute__((tls_model("initial-exec"))) __thread size_t shim_stack_size = 0;
constexpr size_t kTrapRoom = 64 * 1024;

using AltStack = int (*)(const stack_t*, stack_t*);

// Puts the shim's stack, room for `ss` and the trap, in its place.
int set_stack(AltStack real, const stack_t* ss)
{
    size_t need = ss->ss_size + kTrapRoom;
    if (shim_stack_size < need) {
        void* mem = real_mmap()(nullptr, need, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mem == MAP_FAILED) return 0;  // the program's own stays
        if (shim_stack) real_munmap()(shim_stack, shim_stack_size);
        shim_stack = mem;
        shim_stack_size = need;
    }
    stack_t mine = {shim_stack, ss->ss_flags, shim_stack_size};
    int rc = real(&mine, nullptr);
    if (rc == 0) app_stack = *ss;
    return rc;
}

}  // namespace

SHIM_API int sigaltstack(const stack_t* ss, stack_t* old)
{
    AltStack real = resolved(real_sigaltstack, "sigaltstack");
    if (!model_mode()) return real(ss, old);
    stack_t current;
    if (real(nullptr, &current) != 0) return -1;
    stack_t report = current;
    if (shim_stack && current.ss_sp == shim_stack)
        report = {app_stack.ss_sp, current.ss_flags, app_stack.ss_size};
    int rc = 0;
    if (ss && (current.ss_flags & SS_ONSTACK)) {
        errno = EPERM;
        rc = -1;
    } else if (ss) {
        // The kernel judges the program's stack first, as on the device.
        rc = real(ss, nullptr);
        if (rc == 0 && !(ss->ss_flags & SS_DISABLE)) rc = set_stack(real, ss);
    }
    if (rc == 0 && old) *old = report;
    return rc;
}
