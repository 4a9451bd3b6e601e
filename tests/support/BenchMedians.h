// For benchmarks that judge their own numbers: medians of interleaved
// repetitions (the machine is shared, single runs drift with its load) and a
// reporter that keeps them. Header only, so that tests never need Google
// Benchmark.
#pragma once

#include <benchmark/benchmark.h>
#include <map>
#include <string>
#include <utility>
#include <vector>

// argv with the options for medians of `count` (seven) interleaved
// repetitions put in front of the caller's own, for benchmark::Initialize.
inline std::vector<char*> MedianArguments(int argc, char** argv, int count = 7)
{
    static std::string option;
    option = "--benchmark_repetitions=" + std::to_string(count);
    char* repetitions = option.data();
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    static char aggregates[] = "--benchmark_report_aggregates_only=true";
    std::vector<char*> args(argv, argv + argc);
    args.insert(args.begin() + 1, {repetitions, interleave, aggregates});
    return args;
}

// benchmark::Initialize with MedianArguments; false when the command line
// holds an argument Google Benchmark does not know (it says which).
inline bool InitializeForMedians(int& argc, char**& argv, int count = 7)
{
    static std::vector<char*> args;
    args = MedianArguments(argc, argv, count);
    argc = static_cast<int>(args.size());
    argv = args.data();
    benchmark::Initialize(&argc, argv);
    return !benchmark::ReportUnrecognizedArguments(argc, argv);
}

// Prints as usual and keeps the median of every counter of every benchmark.
class MedianRecorder : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median")
                continue;
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty())
                name += "/" + run.run_name.args;
            for (const auto& counter : run.counters)
                m_medians[{name, counter.first}] = counter.second.value;
        }
    }

    // The median of a counter ("bytes_per_second", "items_per_second") of
    // the benchmark of that name ("Name", or "Name/args" for one with
    // arguments, as "Name/4096"); 0 when it did not run.
    double Median(const std::string& name, const std::string& counter) const
    {
        const auto found = m_medians.find({name, counter});
        return found != m_medians.end() ? found->second : 0;
    }

private:
    std::map<std::pair<std::string, std::string>, double> m_medians;
};
