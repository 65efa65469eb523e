// Runs the tests with the simulated-board shim preloaded, re-executing
// this program with it when it was started without.
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    const char* preload = getenv("LD_PRELOAD");
    if (!preload || !strstr(preload, TAVREL_SIM_SHIM)) {
        std::string value = TAVREL_SIM_SHIM;
        if (preload && *preload) value += std::string(":") + preload;
        setenv("LD_PRELOAD", value.c_str(), 1);
        execv("/proc/self/exe", argv);
        perror("re-executing with the simulated board");
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
