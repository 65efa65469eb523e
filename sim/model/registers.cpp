// SPDX-License-Identifier: MIT
#include "model/registers.h"

#include <string.h>

namespace tavrel_sim {

namespace {

struct RegisterName {
    unsigned word;
    const char* name;
    bool bcm2711_only;
};
#define SIM_REGISTER(name, word) {word, #name, false},
#define SIM_REGISTER_BCM2711(name, word) {word, #name, true},
constexpr RegisterName kRegisters[] = {
#include "model/registers.def"
};
#undef SIM_REGISTER_BCM2711
#undef SIM_REGISTER

}  // namespace

const char* register_name(unsigned word, Soc soc)
{
    for (const RegisterName& r : kRegisters)
        if (r.word == word && (!r.bcm2711_only || soc == Soc::kBcm2711)) return r.name;
    return nullptr;
}

const char* soc_name(Soc soc)
{
    return soc_model(soc).name;
}

bool soc_named(const char* name, Soc* soc)
{
    for (uint32_t i = 0; i < sizeof kSocs / sizeof kSocs[0]; ++i)
        if (strcmp(name, kSocs[i].name) == 0) {
            *soc = static_cast<Soc>(i);
            return true;
        }
    return false;
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
static_assert(complete(kFunctions, kFunctionCodes), "functions.def: codes 0 to 11 in order");

}  // namespace

const char* pull_name(unsigned pull)
{
    return kPulls[pull & 3].name;
}

const char* function_name(unsigned code)
{
    return code < kFunctionCodes ? kFunctions[code].name : "?";
}

}  // namespace tavrel_sim
