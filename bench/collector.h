// SPDX-License-Identifier: MIT
// A console reporter that also keeps each benchmark's time per iteration
// (its median, when repeated), for the ratios the programs print.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs)
            if (r.aggregate_name.empty() || r.aggregate_name == "median")
                ns[r.run_name.function_name] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> ns;
};
