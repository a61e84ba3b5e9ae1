#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

// Shows the usual table and keeps the best CPU time per iteration of each benchmark, for the
// comparisons a program prints after its runs. CPU time, because on a shared machine the wall
// clock also counts the time other programs ran.
class TimesReporter : public benchmark::ConsoleReporter
{
public:
    TimesReporter()
        : ConsoleReporter(isatty(fileno(stdout)) ? OO_ColorTabular : OO_Tabular)
    {
    }

    void ReportRuns(const std::vector<Run>& reports) override
    {
        for (const Run& run : reports) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0)
                continue;
            const double seconds = run.cpu_accumulated_time / double(run.iterations);
            auto it = m_seconds.find(run.benchmark_name());
            if (it == m_seconds.end() || seconds < it->second)
                m_seconds[run.benchmark_name()] = seconds;
        }
        ConsoleReporter::ReportRuns(reports);
    }

    // Seconds per iteration of a benchmark by its full name ("refreshMerge/1000"); negative when
    // it did not run.
    double seconds(const std::string& name) const
    {
        const auto it = m_seconds.find(name);
        return it == m_seconds.end() ? -1 : it->second;
    }

private:
    std::map<std::string, double> m_seconds;
};
