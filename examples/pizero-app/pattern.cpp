// SPDX-License-Identifier: MIT
// The pattern, in the C++ the SDK supports: classes with virtual
// functions, templates, <array> and <algorithm>, new and delete, static
// objects and function-local statics; no exceptions, RTTI or libstdc++.
#include "pattern.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {
class Levels {
public:
    virtual ~Levels() = default;
    virtual int size() const = 0;
    virtual int32_t at(int step) const = 0;

    int changes() const
    {
        int n = 0;
        int32_t last = 0;
        for (int i = 0; i < size(); ++i) {
            n += at(i) != last;
            last = at(i);
        }
        return n;
    }
};

class Text_levels final : public Levels {
public:
    static constexpr int max_size = 64;

    explicit Text_levels(const char* text) : size_(static_cast<int>(std::strlen(text)))
    {
        std::transform(text, text + size_, levels_.begin(),
                       [](char c) { return static_cast<int8_t>(c == '1'); });
    }
    int size() const override { return size_; }
    int32_t at(int step) const override { return step >= 0 && step < size_ ? levels_[step] : 0; }

private:
    int size_;
    std::array<int8_t, max_size> levels_{};
};

// Set by a static object's constructor, which the start code must run.
int ready = 0;
struct Startup {
    Startup() { ready = 1; }
    ~Startup() { ready = 0; }
} startup;

bool is_digit(char c)
{
    // A function-local static with a run-time initializer: a guarded one.
    static const std::array<char, 2> digits = [] { return std::array<char, 2>{'0', '1'}; }();
    return std::find(digits.begin(), digits.end(), c) != digits.end();
}
}  // namespace

struct pattern {
    Levels* levels;
};

extern "C" {
struct pattern* pattern_new(const char* text)
{
    std::size_t n = text ? std::strlen(text) : 0;
    if (n == 0 || n > Text_levels::max_size || !std::all_of(text, text + n, is_digit)) return nullptr;
    return new pattern{new Text_levels(text)};
}

void pattern_free(struct pattern* p)
{
    if (!p) return;
    delete p->levels;
    delete p;
}

int pattern_length(const struct pattern* p)
{
    return p->levels->size();
}
int32_t pattern_level(const struct pattern* p, int step)
{
    return p->levels->at(step);
}
int pattern_changes(const struct pattern* p)
{
    return p->levels->changes();
}
int pattern_runtime_ready(void)
{
    return ready;
}
}
