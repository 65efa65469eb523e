// SPDX-License-Identifier: MIT
// Fuzzes tavrel-gpio_mode's option handling from argument vectors, against
// a stand-in library that records what the tool asks of it. Input: the
// arguments, separated by NUL bytes. Run with -close_fd_mask=3: the tool's
// messages are not what is checked.
#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

int tavrel_gpio_mode_main(int argc, char** argv);

namespace {
int inits, calls, last_pin;
}

extern "C" {
int tavrel_gpio_init_noatexit(void)
{
    ++inits;
    return 0;
}
void tavrel_gpio_config_io(int32_t pin, int32_t mode)
{
    ++calls;
    last_pin = pin;
    if (mode != 0 && mode != 1) abort();
}
void tavrel_gpio_set_alt(int32_t pin, int32_t)
{
    ++calls;
    last_pin = pin;
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> args = {"tavrel-gpio_mode"};
    std::string current;
    for (size_t i = 0; i < size && args.size() < 16; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (!current.empty() && args.size() < 16) args.push_back(current);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    inits = calls = 0;
    last_pin = -1;
    optind = 0;  // glibc: start a fresh scan
    int status = tavrel_gpio_mode_main(static_cast<int>(args.size()), argv.data());
    if (status != 0 && status != 1) abort();
    if (status == 0 && !(inits == 1 && calls == 1 && last_pin >= 0 && last_pin <= 59)) abort();
    if (status == 1 && calls != 0) abort();
    return 0;
}
