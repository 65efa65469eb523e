// SPDX-License-Identifier: MIT
// The harness itself (main.cpp): a test that ends the process fails.
#include <stdlib.h>

#include <gtest/gtest.h>

// Run only by the harness check in CMakeLists.txt: it must fail.
TEST(DISABLED_Harness, a_test_that_ends_the_process_fails)
{
    exit(0);
}
