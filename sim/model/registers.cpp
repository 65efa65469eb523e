// SPDX-License-Identifier: MIT
#include "model/registers.h"

namespace tavrel_sim {

const char* register_name(unsigned word)
{
    switch (word) {
#define SIM_REGISTER(name, word) \
    case word:                   \
        return #name;
#include "model/registers.def"
#undef SIM_REGISTER
    default: return nullptr;
    }
}

const char* pull_name(unsigned pull)
{
    switch (pull & 3) {
#define SIM_PULL(code, name) \
    case code:               \
        return #name;
#include "model/pulls.def"
#undef SIM_PULL
    }
    return nullptr;
}

const char* function_name(unsigned code)
{
    switch (code & 7) {
#define SIM_FUNCTION(code, name) \
    case code:                   \
        return #name;
#include "model/functions.def"
#undef SIM_FUNCTION
    }
    return nullptr;
}

}  // namespace tavrel_sim
