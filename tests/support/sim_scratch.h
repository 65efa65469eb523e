// SPDX-License-Identifier: MIT
// tavrel-sim run in a scratch directory of its own, for the tests of what
// it creates, refuses and leaves behind.
#pragma once

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/process.h"
#include "support/sim_board.h"

namespace tavrel_test {

// A scratch directory, and tavrel-sim run with it as TMPDIR and without a
// runtime directory unless a test gives one.
class SimSafety : public testing::Test {
protected:
    void SetUp() override
    {
#ifdef TAVREL_TEST_EMULATOR
        GTEST_SKIP() << "tavrel-sim starts host programs; it is not for cross builds";
#endif
        char tmpl[] = "/tmp/tavrel-safety-XXXXXX";
        dir = mkdtemp(tmpl);
        tmp = dir + "/tmp";
        mkdir(tmp.c_str(), 0700);
    }
    void TearDown() override
    {
        if (!dir.empty()) (void)!system(("rm -rf '" + dir + "'").c_str());
    }

    Outcome sim(std::vector<std::string> args, const std::string& runtime = "")
    {
        return in_child([&] {
            setenv("TMPDIR", tmp.c_str(), 1);
            if (runtime.empty())
                unsetenv("XDG_RUNTIME_DIR");
            else
                setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
            unsetenv(tavrel_sim::kTraceEnv);
            exec_program(TAVREL_SIM_PATH, args);
        });
    }
    Outcome sim_on(const std::string& board, std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--board", board});
        return sim(args);
    }
    // What is left in the scratch TMPDIR but the default board's directory.
    std::vector<std::string> leftovers()
    {
        std::vector<std::string> names;
        DIR* d = opendir(tmp.c_str());
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != ".." && n != "tavrel-sim-" + uid) names.push_back(n);
        }
        closedir(d);
        return names;
    }

    std::string dir, tmp;
    const std::string uid = std::to_string(geteuid());
};

}  // namespace tavrel_test
