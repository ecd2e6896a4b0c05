// Console reporter that also prints each benchmark's time (or one of its counters) as a ratio against a
// floor measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

// A counter of one benchmark against the same counter of its floor.
struct CCounterRatio {
    std::string name;   // benchmark name prefix
    std::string floor;  // floor benchmark name prefix
    std::string counter;
};

class CRatioReporter : public benchmark::ConsoleReporter {
public:
    // Each pair: (benchmark name prefix, floor benchmark name prefix).
    explicit CRatioReporter(std::vector<std::pair<std::string, std::string>> pairs,
                            std::vector<CCounterRatio> counters = {})
        : m_pairs(std::move(pairs)), m_counterRatios(std::move(counters)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            m_times[run.benchmark_name()] = run.GetAdjustedRealTime();
            for (const auto& [counter, value] : run.counters)
                m_counters[counter][run.benchmark_name()] = value.value;
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const auto& [name, floor] : m_pairs) {
            const double measured = Find(m_times, name), base = Find(m_times, floor);
            if (measured > 0 && base > 0)
                std::printf("ratio %s / %s = %.2f\n", name.c_str(), floor.c_str(), measured / base);
        }
        for (const CCounterRatio& ratio : m_counterRatios) {
            const auto& values = m_counters[ratio.counter];
            const double measured = Find(values, ratio.name), base = Find(values, ratio.floor);
            if (measured > 0 && base > 0)
                std::printf("ratio %s / %s (%s) = %.2f\n", ratio.name.c_str(), ratio.floor.c_str(),
                            ratio.counter.c_str(), measured / base);
        }
    }

private:
    // The median of repetitions where there are any, else the single run.
    static double Find(const std::map<std::string, double>& values, const std::string& prefix) {
        for (const auto& [name, value] : values)
            if (name.rfind(prefix, 0) == 0 && name.size() > 7 &&
                name.compare(name.size() - 7, 7, "_median") == 0)
                return value;
        for (const auto& [name, value] : values)
            if (name.rfind(prefix, 0) == 0) return value;
        return 0;
    }
    std::vector<std::pair<std::string, std::string>> m_pairs;
    std::vector<CCounterRatio> m_counterRatios;
    std::map<std::string, double> m_times;
    std::map<std::string, std::map<std::string, double>> m_counters;  // counter -> benchmark -> value
};

#define BRENNIX_BENCHMARK_MAIN_WITH_RATIOS(...)                                                 \
    int main(int argc, char** argv) {                                                           \
        benchmark::Initialize(&argc, argv);                                                     \
        CRatioReporter reporter(std::vector<std::pair<std::string, std::string>>{__VA_ARGS__}); \
        benchmark::RunSpecifiedBenchmarks(&reporter);                                           \
        benchmark::Shutdown();                                                                  \
        return 0;                                                                               \
    }
