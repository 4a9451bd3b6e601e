// Figures a benchmark hands to tools/bench.sh, which judges them against
// their targets and writes the report (docs/performance.md). With the
// environment variable VEMORA_BENCH_REPORT naming a file, each figure is
// appended there as one line "key<TAB>value<TAB>unit<TAB>what it is";
// without it nothing is written, nor for a negative value (a figure that was
// not measured). Header only, like BenchMedians.h.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

inline void ReportFigure(
    const std::string& key, double value, const std::string& unit, const std::string& what)
{
    const char* path = std::getenv("VEMORA_BENCH_REPORT");
    if (!path || !*path || !(value >= 0)) // a figure that was not measured
        return;
    if (FILE* out = std::fopen(path, "a")) {
        std::fprintf(out, "%s\t%.6g\t%s\t%s\n", key.c_str(), value, unit.c_str(), what.c_str());
        std::fclose(out);
    }
}
