// SPDX-License-Identifier: MIT
// Small helpers for text and files in tests.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tavrel_test {

inline std::string slurp(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void put(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
}

inline bool contains(const std::string& s, const std::string& part)
{
    return s.find(part) != std::string::npos;
}

// The lines of `text`, without their newlines.
inline std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) v.push_back(line);
    return v;
}

}  // namespace tavrel_test
