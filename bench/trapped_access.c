/* SPDX-License-Identifier: MIT */
/* The cost of one access to the simulated board's trapped block: N reads
 * of the level word, timed, through /dev/gpiomem as the shim serves it.
 * Usage: tavrel-trapped-access [N] (default 100000); prints ns per access. */
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    long n = argc > 1 ? atol(argv[1]) : 100000;
    int fd = open("/dev/gpiomem", O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0 || n <= 0) return 1;
    volatile uint32_t* block = mmap(NULL, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (block == MAP_FAILED) return 1;
    struct timespec a, b;
    uint32_t sum = 0;
    clock_gettime(CLOCK_MONOTONIC, &a);
    for (long i = 0; i < n; ++i) sum += block[13];
    clock_gettime(CLOCK_MONOTONIC, &b);
    double ns = ((double)(b.tv_sec - a.tv_sec) * 1e9 + (double)(b.tv_nsec - a.tv_nsec)) / (double)n;
    printf("%.0f ns per trapped access (%ld reads, sum %u)\n", ns, n, (unsigned)sum);
    return 0;
}
