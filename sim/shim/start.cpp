// SPDX-License-Identifier: MIT
// The shim at load: where the program started, and every next definition
// looked up.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "shim/shim.h"

namespace tavrel_sim::shim {

Mmap real_mmap()
{
    static Mmap fn = next<Mmap>("mmap");
    return fn;
}

Munmap real_munmap()
{
    static Munmap fn = next<Munmap>("munmap");
    return fn;
}

bool model_mode()
{
#if TAVREL_SIM_TRAPS
    const char* mode = getenv(kModeEnv);
    return !(mode && strcmp(mode, "plain") == 0);
#else
    return false;
#endif
}

Sigaction real_sigaction()
{
    static Sigaction fn = next<Sigaction>("sigaction");
    return fn;
}

struct sigaction sigaction_default()
{
    struct sigaction sa = {};
    sa.sa_handler = SIG_DFL;
    return sa;
}

Mask real_mask()
{
    static Mask fn = next<Mask>("pthread_sigmask");
    return fn;
}

OpenAt real_openat()
{
    static OpenAt fn = next<OpenAt>("openat");
    return fn;
}

namespace {

// Paths from the environment, made absolute against the directory the
// program started in: a program that changes directory keeps its board.
char start_dir[4096];

__attribute__((constructor)) void start()
{
    if (!getcwd(start_dir, sizeof start_dir)) start_dir[0] = '\0';
    resolve_entries();
    // A mask inherited across exec must not make the block's faults fatal.
    if (model_mode()) {
        sigset_t segv;
        sigemptyset(&segv);
        sigaddset(&segv, SIGSEGV);
        real_mask()(SIG_UNBLOCK, &segv, nullptr);
    }
}

}  // namespace

const char* env_path(const char* name, char* buf, size_t size)
{
    const char* value = getenv(name);
    if (!value || !*value) return nullptr;
    int n =
        value[0] == '/' ? snprintf(buf, size, "%s", value) : snprintf(buf, size, "%s/%s", start_dir, value);
    if (n < 0 || static_cast<size_t>(n) >= size || (value[0] != '/' && !start_dir[0])) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    return buf;
}

void say(const char* fmt, ...)
{
    char msg[kMessageBytes + 64];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(msg, sizeof msg, fmt, ap);
    va_end(ap);
    if (n > 0)
        (void)!write(2, msg, static_cast<size_t>(n) < sizeof msg ? static_cast<size_t>(n) : sizeof msg - 1);
}

// Each interposed entry finds the next definition on its first call.
void resolve_entries()
{
    int saved = errno;
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    sigprocmask(SIG_BLOCK, nullptr, &mask);
    struct sigaction sa;
    real_sigaction()(SIGSEGV, nullptr, &sa);
    resolve_waits();
    close(-1);
    (void)!dup(-1);
    fcntl(-1, F_GETFD);
    fcntl64(-1, F_GETFD);

    dup2(-1, -1);
    dup3(-1, -1, 0);
    (void)real_mmap();
    (void)real_munmap();
    (void)real_openat();
    (void)real_mask();
    errno = saved;
}

}  // namespace tavrel_sim::shim
