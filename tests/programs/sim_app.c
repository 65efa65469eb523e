/* SPDX-License-Identifier: MIT */
/* Programs that a real board runs and a simulator could break, one per
 * mode; each prints what it saw.
 *   sim_app close-all LOG  closes every descriptor through the C library and
 *                          by raw system calls, opens LOG and places it at
 *                          most descriptor numbers, then drives pin 17 and
 *                          writes "log" lines to LOG
 *   sim_app block-all      blocks every signal before opening, as a program
 *                          that takes its signals with sigwait does
 *   sim_app segv-handler   installs a SIGSEGV handler after opening, drives
 *                          a pin, then faults on its own
 *   sim_app one-fd         opens with exactly one descriptor free
 *   sim_app chdir DIR      changes to DIR, then opens and sets pin 18 to alt5
 *   sim_app map            maps the device as programs should not
 *   sim_app rp1-window     maps a Pi 5's /dev/gpiomem0 whole and writes at
 *                          both its ends */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include "tavrel.h"

static void drive_17(void)
{
    tavrel_gpio_config_io(17, 1);
    tavrel_gpio_set_val(17, 1);
    printf("pin 17 %d\n", tavrel_gpio_get_val(17));
}

static void own_fault(int sig)
{
    (void)sig;
    static const char msg[] = "own fault\n";
    (void)!write(1, msg, sizeof msg - 1);
    _exit(3);
}

static int close_all(const char* log)
{
    if (tavrel_gpio_init_noatexit() != 0) return 1;
    tavrel_gpio_config_io(17, 1);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    syscall(SYS_close_range, 3u, ~0u, 0);
    int fd = open(log, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
    if (fd < 0) return 1;
    /* Behind the shim's back: every number up to 1000 is now the log. */
    for (int n = 3; n <= 1000; ++n)
        if (n != fd) syscall(SYS_dup3, fd, n, 0);
    for (int i = 0; i < 4; ++i) {
        tavrel_gpio_set_val(17, i & 1);
        (void)!write(fd, "log\n", 4);
    }
    printf("done\n");
    return 0;
}

static int one_fd(void)
{
    struct rlimit lim = {64, 64};
    if (setrlimit(RLIMIT_NOFILE, &lim) != 0) return 1;
    int last = -1;
    for (int fd; (fd = dup(0)) >= 0;) last = fd;
    if (last < 0) return 1;
    close(last);
    int rc = tavrel_gpio_init_noatexit();
    printf("init %d\n", rc);
    if (rc == 0) drive_17();
    return 0;
}

static void try_map(const char* what, int flags, size_t len, int prot, off_t off)
{
    int fd = open("/dev/gpiomem", flags | O_CLOEXEC);
    if (fd < 0) {
        printf("%s: open %s\n", what, strerror(errno));
        return;
    }
    void* p = mmap(NULL, len, prot, MAP_SHARED, fd, off);
    printf("%s: %s\n", what, p == MAP_FAILED ? strerror(errno) : "mapped");
    if (p != MAP_FAILED) munmap(p, len);
    close(fd);
}

/* Makes `count` 16-bit writes to a storage word of the block: malformed
 * accesses, which the board counts. */
static int malformed(int count)
{
    int fd = open("/dev/gpiomem", O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0) return 1;
    void* block = mmap(NULL, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (block == MAP_FAILED) return 1;
    volatile uint16_t* half = (volatile uint16_t*)((char*)block + 400);
    for (int i = 0; i < count; ++i) *half = (uint16_t)i;
    munmap(block, 4096);
    return 0;
}

/* ---- a program's own signal handlers that touch the block ---------------- */

static volatile int* forbidden_page(void)
{
    return mmap(NULL, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
}

/* A fault handler that turns the output off before leaving. */
static void off_and_out(int sig)
{
    (void)sig;
    tavrel_gpio_set_val(17, 0);
    _exit(3);
}

static int segv_touches(void)
{
    drive_17();
    struct sigaction sa = {0};
    sa.sa_handler = off_and_out;
    sigaction(SIGSEGV, &sa, NULL);
    *forbidden_page() = 1;
    return 4;
}

static jmp_buf jump;
static void jump_out(int sig)
{
    (void)sig;
    _longjmp(jump, 1); /* leaves the handler's mask in place */
}

static int longjmp_out(void)
{
    drive_17();
    struct sigaction sa = {0};
    sa.sa_handler = jump_out;
    sigaction(SIGSEGV, &sa, NULL);
    if (_setjmp(jump) == 0) *forbidden_page() = 1;
    sigset_t now;
    sigprocmask(SIG_BLOCK, NULL, &now);
    printf("SIGTERM %s, SIGINT %s\n", sigismember(&now, SIGTERM) ? "blocked" : "open",
           sigismember(&now, SIGINT) ? "blocked" : "open");
    tavrel_gpio_set_val(17, 0);
    printf("pin 17 %d\n", tavrel_gpio_get_val(17));
    return 0;
}

static volatile sig_atomic_t ticks;
static void tick(int sig)
{
    (void)sig;
    tavrel_gpio_set_val(17, ticks & 1);
    ++ticks;
}

/* Every signal blocked but SIGALRM, taken by sigsuspend. */
static int suspend_ticks(void)
{
    tavrel_gpio_config_io(17, 1);
    struct sigaction sa = {0};
    sa.sa_handler = tick;
    sigaction(SIGALRM, &sa, NULL);
    sigset_t all, all_but_alarm;
    sigfillset(&all);
    sigprocmask(SIG_SETMASK, &all, NULL);
    all_but_alarm = all;
    sigdelset(&all_but_alarm, SIGALRM);
    struct itimerval every_2ms = {{0, 2000}, {0, 2000}};
    setitimer(ITIMER_REAL, &every_2ms, NULL);
    while (ticks < 3) sigsuspend(&all_but_alarm);
    printf("ticks %d, pin 17 %d\n", (int)ticks, tavrel_gpio_get_val(17));
    return 0;
}

static void on_alt(int sig)
{
    (void)sig;
    tavrel_gpio_set_val(17, 1);
}

/* A 4 KiB alternate stack, with a guard page below it. */
static int small_altstack(void)
{
    tavrel_gpio_config_io(17, 1);
    char* mem = mmap(NULL, 3 * 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED || mprotect(mem, 4096, PROT_NONE) != 0) return 1;
    stack_t ss = {mem + 4096, 0, 4096}, back;
    if (sigaltstack(&ss, NULL) != 0) return 1;
    struct sigaction sa = {0};
    sa.sa_handler = on_alt;
    sa.sa_flags = SA_ONSTACK;
    sigaction(SIGUSR1, &sa, NULL);
    raise(SIGUSR1);
    sigaltstack(NULL, &back);
    printf("%s stack, pin 17 %d\n", back.ss_sp == ss.ss_sp && back.ss_size == ss.ss_size ? "own" : "another",
           tavrel_gpio_get_val(17));
    return 0;
}

static int handlers(const char* mode)
{
    if (tavrel_gpio_init_noatexit() != 0) return 1;
    if (strcmp(mode, "segv-touches") == 0) return segv_touches();
    if (strcmp(mode, "longjmp") == 0) return longjmp_out();
    if (strcmp(mode, "sigsuspend") == 0) return suspend_ticks();
    return small_altstack();
}

/* The whole 0x30000-byte window traps, its last page as its first. */
static int rp1_window(void)
{
    int fd = open("/dev/gpiomem0", O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0) return 1;
    void* too_long = mmap(NULL, 0x31000, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    printf("0x31000 bytes: %s\n", too_long == MAP_FAILED ? strerror(errno) : "mapped");
    volatile uint32_t* w = mmap(NULL, 0x30000, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (w == MAP_FAILED) return 1;
    w[0x28050 / 4] = 0x48;                /* GPIO53's pad: input, pulled up */
    w[0x2cffc / 4] = 0x1234;              /* a word the model keeps as storage */
    w[0x2fffc / 4] = 0x1000;              /* the window's last: its CLR alias */
    w[(0x18000 + 0x2000) / 4] = 1u << 19; /* SYS_RIO2_OUT.SET: GPIO53 */
    printf("pad %x, stored %x, out %x\n", w[0x28050 / 4], w[0x2cffc / 4], w[0x18000 / 4]);
    return 0;
}

int main(int argc, char** argv)
{
    const char* mode = argc > 1 ? argv[1] : "";
    setvbuf(stdout, NULL, _IONBF, 0);
    if (strcmp(mode, "close-all") == 0 && argc > 2) return close_all(argv[2]);
    if (strcmp(mode, "one-fd") == 0) return one_fd();
    if (strcmp(mode, "rp1-window") == 0) return rp1_window();
    if (strcmp(mode, "malformed") == 0 && argc > 2) return malformed(atoi(argv[2]));
    if (strcmp(mode, "segv-touches") == 0 || strcmp(mode, "longjmp") == 0 ||
        strcmp(mode, "sigsuspend") == 0 || strcmp(mode, "altstack") == 0)
        return handlers(mode);
    if (strcmp(mode, "block-all") == 0) {
        sigset_t all;
        sigfillset(&all);
        sigprocmask(SIG_BLOCK, &all, NULL);
        pthread_sigmask(SIG_BLOCK, &all, NULL);
        if (tavrel_gpio_init_noatexit() != 0) return 1;
        drive_17();
        return 0;
    }
    if (strcmp(mode, "segv-handler") == 0) {
        if (tavrel_gpio_init_noatexit() != 0) return 1;
        struct sigaction sa = {0}, back;
        sa.sa_handler = own_fault;
        sigaction(SIGSEGV, &sa, NULL);
        sigaction(SIGSEGV, NULL, &back);
        printf("handler %s\n", back.sa_handler == own_fault ? "kept" : "lost");
        drive_17();
        volatile int* forbidden = mmap(NULL, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        *forbidden = 1;
        return 4;
    }
    if (strcmp(mode, "chdir") == 0 && argc > 2) {
        if (chdir(argv[2]) != 0) return 1;
        if (tavrel_gpio_init_noatexit() != 0) return 1;
        tavrel_gpio_set_alt(18, 5);
        printf("pin 18 mode %d\n", tavrel_gpio_get_mode(18));
        return 0;
    }
    if (strcmp(mode, "map") == 0) {
        try_map("offset 4096", O_RDWR, 4096, PROT_READ | PROT_WRITE, 4096);
        try_map("length 8192", O_RDWR, 8192, PROT_READ | PROT_WRITE, 0);
        try_map("read-only, writable map", O_RDONLY, 4096, PROT_READ | PROT_WRITE, 0);
        try_map("read-only, read map", O_RDONLY, 4096, PROT_READ, 0);
        try_map("one page", O_RDWR, 4096, PROT_READ | PROT_WRITE, 0);
        return 0;
    }
    return 9;
}
