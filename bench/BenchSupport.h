#ifndef BENCHSUPPORT_H
#define BENCHSUPPORT_H

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

// The console reporter that also keeps each benchmark's wall-clock time, so a
// ratio against a baseline of the same run can be printed after the table.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                realTime[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // The names may be a full benchmark name or its start (without options such
    // as /real_time); nothing is printed when either was not run.
    void printRatio(const char *label, const std::string &baseline, const std::string &candidate) const
    {
        const double b = find(baseline);
        const double c = find(candidate);
        if (b > 0 && c > 0)
            std::printf("%s: %.1fx faster (%s / %s)\n", label, b / c, baseline.c_str(), candidate.c_str());
    }

private:
    double find(const std::string &name) const
    {
        // The exact name, else the first name that starts with it.
        const auto it = realTime.lower_bound(name);
        return it != realTime.end() && it->first.rfind(name, 0) == 0 ? it->second : 0.0;
    }

    std::map<std::string, double> realTime;
};

struct BenchRatio
{
    const char *label;
    std::string baseline;
    std::string candidate;
};

// main() of a benchmark executable that prints the given ratios at the end.
inline int runBenchmarksWithRatios(int argc, char **argv, const std::vector<BenchRatio> &ratios)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const BenchRatio &ratio : ratios)
        reporter.printRatio(ratio.label, ratio.baseline, ratio.candidate);
    benchmark::Shutdown();
    return 0;
}

#endif // BENCHSUPPORT_H
