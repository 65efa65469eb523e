/* SPDX-License-Identifier: MIT */
/* A test of the button example, as a user writes one for their own
 * program: it runs the program under tavrel-sim, presses the button on
 * pin 4 through the board API, and checks that the LED on pin 17 follows.
 * Usage: tavrel-example-button_test TAVREL_SIM BUTTON_PROGRAM */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tavrel_simboard.h"

#define CHECK(what, ok)                         \
    do {                                        \
        if (!(ok)) {                            \
            fprintf(stderr, "FAIL %s\n", what); \
            failures++;                         \
        } else {                                \
            printf("ok   %s\n", what);          \
        }                                       \
    } while (0)

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s TAVREL_SIM BUTTON_PROGRAM\n", argv[0]);
        return 2;
    }
    char dir[] = "/tmp/button-test-XXXXXX";
    if (!mkdtemp(dir)) return 2;
    char path[64];
    snprintf(path, sizeof path, "%s/board", dir);

    char why[512];
    tavrel_simboard* board = tavrel_simboard_open(path, why, sizeof why);
    if (!board) {
        fprintf(stderr, "cannot open the board: %s\n", why);
        return 2;
    }
    tavrel_simboard_reset(board);
    pid_t pid = fork();
    if (pid == 0) {
        execl(argv[1], argv[1], "--board", path, "--", argv[2], (char*)NULL);
        _exit(127);
    }
    int failures = 0;
    CHECK("the program makes pin 17 an output", tavrel_simboard_wait_function(board, 17, 1, 5000) == 0);
    CHECK("and turns on pin 4's pull-up", tavrel_simboard_wait_level(board, 4, 1, 5000) == 0);
    CHECK("the LED is dark while nobody presses", tavrel_simboard_wait_level(board, 17, 0, 2000) == 0);
    tavrel_simboard_drive(board, 4, 0); /* press: the button pulls pin 4 low */
    CHECK("pressing lights it", tavrel_simboard_wait_level(board, 17, 1, 10000) == 0);
    tavrel_simboard_release(board, 4);
    CHECK("letting go darkens it", tavrel_simboard_wait_level(board, 17, 0, 10000) == 0);
    CHECK("no malformed access", tavrel_simboard_errors(board) == 0);

    kill(pid, SIGTERM);
    int status;
    waitpid(pid, &status, 0);
    CHECK("SIGTERM ends it with status 0", WIFEXITED(status) && WEXITSTATUS(status) == 0);
    CHECK("and pin 17 is an input again", tavrel_simboard_function(board, 17) == 0);
    tavrel_simboard_close(board);
    unlink(path);
    rmdir(dir);
    return failures ? 1 : 0;
}
