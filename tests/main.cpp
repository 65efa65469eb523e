// SPDX-License-Identifier: MIT
// Runs the tests with the simulated-board shim preloaded, re-executing
// this program with it when it was started without.
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "support/process.h"

int main(int argc, char** argv)
{
    const char* preload = getenv("LD_PRELOAD");
    if (!preload || !strstr(preload, TAVREL_SIM_SHIM)) {
        std::string value = TAVREL_SIM_SHIM;
#ifdef TAVREL_SANITIZER_RUNTIME
        value = std::string(TAVREL_SANITIZER_RUNTIME) + ":" + value;  // it must come first
#endif
        if (preload && *preload) value += std::string(":") + preload;
        setenv("LD_PRELOAD", value.c_str(), 1);
        char self[4096];
        ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n <= 0) return 1;
        self[n] = '\0';
        tavrel_test::exec_program(self, std::vector<std::string>(argv + 1, argv + argc));
    }
    testing::InitGoogleTest(&argc, argv);
    // A test whose code under test ends the process (the listener calls
    // exit(0) by design) must not pass for it: gtest never printed its
    // result, and ctest would see status 0. Registered first, this runs
    // last, and only in this process, not in the tests' forked children.
    static pid_t tests_pid = getpid();
    static bool finished = false;
    atexit([] {
        if (getpid() != tests_pid || finished) return;
        static const char msg[] = "the process ended before the test finished: it fails\n";
        (void)!write(2, msg, sizeof msg - 1);
        _exit(1);
    });
    int result = RUN_ALL_TESTS();
    finished = true;
    return result;
}
