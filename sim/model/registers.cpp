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

namespace {

struct CodeName {
    unsigned code;
    const char* name;
};

#define SIM_CODE(code, name) {code, #name},
constexpr CodeName kPulls[] = {
#include "model/pulls.def"
};
constexpr CodeName kFunctions[] = {
#include "model/functions.def"
};
#undef SIM_CODE

// A table lists its codes 0 to N - 1 in order, so that a code indexes its
// name.
template <size_t N>
constexpr bool complete(const CodeName (&table)[N], size_t expected)
{
    for (size_t i = 0; i < N; ++i)
        if (table[i].code != i) return false;
    return N == expected;
}
static_assert(complete(kPulls, 4), "pulls.def: codes 0 to 3 in order");
static_assert(complete(kFunctions, 8), "functions.def: codes 0 to 7 in order");

}  // namespace

const char* pull_name(unsigned pull)
{
    return kPulls[pull & 3].name;
}

const char* function_name(unsigned code)
{
    return kFunctions[code & 7].name;
}

}  // namespace tavrel_sim
