// Console reporter that also prints each benchmark's time as a ratio against a floor measured in the same
// run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

class CRatioReporter : public benchmark::ConsoleReporter {
public:
    // Each pair: (benchmark name prefix, floor benchmark name prefix).
    explicit CRatioReporter(std::vector<std::pair<std::string, std::string>> pairs)
        : m_pairs(std::move(pairs)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) m_times[run.benchmark_name()] = run.GetAdjustedRealTime();
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const auto& [name, floor] : m_pairs) {
            const double measured = Find(name), base = Find(floor);
            if (measured > 0 && base > 0)
                std::printf("ratio %s / %s = %.2f\n", name.c_str(), floor.c_str(), measured / base);
        }
    }

private:
    // The median of repetitions where there are any, else the single run.
    double Find(const std::string& prefix) const {
        for (const auto& [name, time] : m_times)
            if (name.rfind(prefix, 0) == 0 && name.size() > 7 &&
                name.compare(name.size() - 7, 7, "_median") == 0)
                return time;
        for (const auto& [name, time] : m_times)
            if (name.rfind(prefix, 0) == 0) return time;
        return 0;
    }
    std::vector<std::pair<std::string, std::string>> m_pairs;
    std::map<std::string, double> m_times;
};

#define BRENNIX_BENCHMARK_MAIN_WITH_RATIOS(...)                                                 \
    int main(int argc, char** argv) {                                                           \
        benchmark::Initialize(&argc, argv);                                                     \
        CRatioReporter reporter(std::vector<std::pair<std::string, std::string>>{__VA_ARGS__}); \
        benchmark::RunSpecifiedBenchmarks(&reporter);                                           \
        benchmark::Shutdown();                                                                  \
        return 0;                                                                               \
    }
