// SPDX-License-Identifier: MIT
// The trap: every access to the block faults, and the SIGSEGV handler
// carries out the faulting instruction against the model, or passes a
// fault that is not the block's to the program's own action.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "shim/shim.h"
#include "shim/tavrel_sim.h"

namespace tavrel_sim::shim {

namespace {

bool has_handler(const struct sigaction& sa)
{
    return (sa.sa_flags & SA_SIGINFO) ? sa.sa_sigaction != nullptr
                                      : sa.sa_handler != SIG_DFL && sa.sa_handler != SIG_IGN;
}

// The depth of the program's own SIGSEGV handlers on this thread, as the
// shim runs them.
__attribute__((tls_model("initial-exec"))) __thread int in_app_segv = 0;

// Faults that are not the board's go to the program's own action for the
// signal: the one it had when the shim took the signal, or (SIGSEGV) set
// since, see signals.cpp. The handler runs with the mask the kernel would
// have given it (the interrupted code's, its action's and the signal
// itself), less SIGSEGV, which the trap needs: so a handler that touches
// the block works, and one left by longjmp leaves the mask it would on the
// device.
void chain(struct sigaction& saved, int sig, siginfo_t* info, void* context)
{
    struct sigaction app = saved;
    bool handler = has_handler(app);
    // A second real fault inside a handler that defers its signal ends the
    // program on the device, where that signal is blocked.
    bool deferred = sig == SIGSEGV && in_app_segv > 0 && !(app.sa_flags & SA_NODEFER);
    if (!handler || deferred) {
        // Returning re-runs the access, which now takes the default action,
        // as a fault with the signal ignored does too.
        struct sigaction dfl = sigaction_default();
        real_sigaction()(sig, &dfl, nullptr);
        return;
    }
    if (app.sa_flags & SA_RESETHAND) saved = sigaction_default();
    auto* uc = static_cast<ucontext_t*>(context);
    sigset_t mask = uc->uc_sigmask, shim_mask;
    for (int s = 1; s < NSIG; ++s)
        if (sigismember(&app.sa_mask, s)) sigaddset(&mask, s);
    if (!(app.sa_flags & SA_NODEFER)) sigaddset(&mask, sig);
    sigdelset(&mask, SIGSEGV);
    real_mask()(SIG_SETMASK, &mask, &shim_mask);
    in_app_segv += sig == SIGSEGV;
    if (app.sa_flags & SA_SIGINFO)
        app.sa_sigaction(sig, info, context);
    else
        app.sa_handler(sig);
    in_app_segv -= sig == SIGSEGV;
    real_mask()(SIG_SETMASK, &shim_mask, nullptr);
}

#if TAVREL_SIM_TRAPS

// What the kernel says the faulting access was.
Fault fault_kind(const ucontext_t* uc)
{
#if defined(__x86_64__)
    return uc->uc_mcontext.gregs[REG_ERR] & 2 ? Fault::kWrite : Fault::kRead;
#elif defined(__arm__)
    // The fault status register, with WnR in bit 11; qemu-user leaves it 0.
    unsigned long fsr = uc->uc_mcontext.error_code;
    return fsr == 0 ? Fault::kUnknown : fsr & (1ul << 11) ? Fault::kWrite : Fault::kRead;
#else
    // The ESR's WnR bit, in the signal frame's optional esr_context.
    (void)uc;
    return Fault::kUnknown;
#endif
}

int pc_log = -1;

void open_pc_log()
{
    const char* path = getenv(kPcLogEnv);
    if (path && *path) pc_log = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
}

void log_pc(uintptr_t pc)
{
    if (pc_log < 0) return;
    char line[2 + 2 * sizeof pc + 1];
    size_t n = sizeof line;
    line[--n] = '\n';
    do {
        line[--n] = "0123456789abcdef"[pc & 15];
        pc >>= 4;
    } while (pc);
    line[--n] = 'x';
    line[--n] = '0';
    (void)!write(pc_log, line + n, sizeof line - n);
}

// Accesses of the faulting instruction, against the model.
class BlockBus : public Bus {
public:
    BlockBus(Trapped& block) : block_(block) {}

    bool covers(uintptr_t addr, unsigned width) override
    {
        uintptr_t base = block_.base.load();
        return addr >= base && addr - base <= block_.bytes.load() - width;
    }

    uint64_t load(uintptr_t addr, unsigned width) override
    {
        uint8_t flags = check(addr, width);
        unsigned word = offset(addr) / 4;
        if (!flags) return model.read_traced(word, trace_sink());
        // Malformed: the bytes the access covers, as the model has them.
        uint64_t value = 0;
        for (unsigned i = 0; i < width; ++i) {
            unsigned off = static_cast<unsigned>(offset(addr + i));
            uint32_t w = model.read(off / 4);
            value |= static_cast<uint64_t>((w >> (8 * (off % 4))) & 0xFF) << (8 * i);
        }
        model.record_error(trace_sink(), TraceRecord::kRead, word, static_cast<uint32_t>(value), flags,
                           width);
        return value;
    }

    void store(uintptr_t addr, unsigned width, uint64_t value) override
    {
        uint8_t flags = check(addr, width);
        unsigned word = offset(addr) / 4;
        if (!flags) return model.write_traced(word, static_cast<uint32_t>(value), trace_sink());
        model.record_error(trace_sink(), TraceRecord::kWrite, word, static_cast<uint32_t>(value), flags,
                           width);  // dropped
    }

private:
    uintptr_t offset(uintptr_t addr) const { return (addr - block_.base.load()) % block_.bytes.load(); }

    uint8_t check(uintptr_t addr, unsigned width) const
    {
        uint8_t flags = 0;
        if (width != 4) flags |= TraceRecord::kBadWidth;
        if (addr % 4) flags |= TraceRecord::kUnaligned;
        if (block_.unmapped.load()) flags |= TraceRecord::kAfterUnmap;
        return flags;
    }

    Trapped& block_;
};

void on_segv(int sig, siginfo_t* info, void* context)
{
    auto* uc = static_cast<ucontext_t*>(context);
    Trapped* block = find_block(reinterpret_cast<uintptr_t>(info->si_addr));
    if (!block) return chain(app_segv, sig, info, context);

    int saved_errno = errno;
    BlockBus bus(*block);
    uintptr_t pc = instruction_address(uc);
    Emulated result = emulate(uc, fault_kind(uc), bus);
    if (result == Emulated::kOutside) {
        // Nothing was carried out: the fault is the program's, as on the
        // device, whose page ends there too.
        errno = saved_errno;
        bool handled = (app_segv.sa_flags & SA_SIGINFO)
                           ? app_segv.sa_sigaction != nullptr
                           : app_segv.sa_handler != SIG_DFL && app_segv.sa_handler != SIG_IGN;
        if (!handled)
            say("tavrel-sim: the access at %p reaches past the end of the GPIO block: a segmentation fault, "
                "as on "
                "the device\n",
                info->si_addr);
        return chain(app_segv, sig, info, context);
    }
    if (result != Emulated::kDone) {
        char bytes[64];
        instruction_bytes(uc, bytes, sizeof bytes);
        char msg[256];
        int n = snprintf(msg, sizeof msg,
                         "tavrel-sim: %s access to the GPIO block at %p, instruction bytes: %s\n",
                         result == Emulated::kUnknown ? "cannot emulate the" : "inconsistent fault for the",
                         info->si_addr, bytes);
        (void)!write(2, msg, static_cast<size_t>(n));
        abort();
    }
    log_pc(pc);
    errno = saved_errno;
}

#endif

}  // namespace

namespace {

struct sigaction app_bus = {};

// The board's pages are gone from under their mapping: its file was cut
// short. Any other bus error is the program's.
void on_sigbus(int sig, siginfo_t* info, void* uc)
{
    uintptr_t addr = reinterpret_cast<uintptr_t>(info->si_addr);
    if (model.maps(addr) || in_plain_block(addr)) {
        say("tavrel-sim: the board file %s was cut short while this program ran (truncated?); the program "
            "cannot go on\n",
            board_path());
        struct sigaction dfl = sigaction_default();
        real_sigaction()(SIGBUS, &dfl, nullptr);
        return;  // the access faults again, now fatally
    }
    chain(app_bus, sig, info, uc);
}

}  // namespace

// Puts `handler` in place for `sig` with every signal but `open` blocked
// while it runs, keeping the program's action in `saved`.
void take_signal(int sig, void (*handler)(int, siginfo_t*, void*), int open, struct sigaction* saved)
{
    struct sigaction sa = {};
    sa.sa_sigaction = handler;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigfillset(&sa.sa_mask);
    if (open) sigdelset(&sa.sa_mask, open);
    real_sigaction()(sig, &sa, saved);
}

void install_bus_handler()
{
    static bool installed = false;
    if (installed) return;
    take_signal(SIGBUS, on_sigbus, 0, &app_bus);
    installed = true;
}

void install_handler()
{
#if TAVREL_SIM_TRAPS
    static bool installed = false;
    if (installed) return;
    // Nothing may run while the board lock is held, but for the bus error
    // of a board file cut short, which ends the program.
    take_signal(SIGSEGV, on_segv, SIGBUS, &app_segv);
    segv_taken.store(true);
    installed = true;
    open_pc_log();
#endif
}

}  // namespace tavrel_sim::shim

SHIM_API int tavrel_sim_trapping(void)
{
    return tavrel_sim::shim::model_mode();
}
