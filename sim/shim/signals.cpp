// SPDX-License-Identifier: MIT
// Signal masks and actions, as the trapped block needs them.
#include <signal.h>

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
    using Mask = int (*)(int, const sigset_t*, sigset_t*);
    static Mask real = next<Mask>("pthread_sigmask");
    sigset_t copy;
    return real(how, how == SIG_UNBLOCK ? set : without_segv(set, &copy), old);
}

SHIM_API int sigprocmask(int how, const sigset_t* set, sigset_t* old)
{
    using Mask = int (*)(int, const sigset_t*, sigset_t*);
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
