// Step-response arithmetic on timed position readings.
#include "link/StepMetrics.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// The first reading at or past `level` in the step's direction, or nothing.
std::optional<double> FirstPast(const std::vector<CStepSample>& samples, double level, int direction) {
    for (const CStepSample& s : samples)
        if ((s.position - level) * direction >= 0) return s.ms;
    return std::nullopt;
}

std::string Milliseconds(std::optional<double> ms, double runMs) {
    char text[64];
    if (ms)
        std::snprintf(text, sizeof text, "%.0f ms", *ms);
    else
        std::snprintf(text, sizeof text, "not within %.0f ms", runMs);
    return text;
}

}  // namespace

CStepMetrics MeasureStep(const std::vector<CStepSample>& samples, int start, int target, int band) {
    CStepMetrics metrics;
    if (samples.empty()) return metrics;
    const int span = target - start;
    const int direction = span > 0 ? 1 : -1;
    if (span != 0) {
        const auto at10 = FirstPast(samples, start + 0.1 * span, direction);
        const auto at90 = FirstPast(samples, start + 0.9 * span, direction);
        if (at10 && at90) metrics.riseMs = *at90 - *at10;
        int beyond = 0;
        for (const CStepSample& s : samples) beyond = std::max(beyond, (s.position - target) * direction);
        metrics.overshootPercent = 100.0 * beyond / std::abs(span);
    }
    // Settled from just after the last reading outside the band; never, when that is the last reading.
    metrics.settlingMs = 0.0;
    for (std::size_t i = samples.size(); i-- > 0;) {
        if (std::abs(samples[i].position - target) > band) {
            metrics.settlingMs =
                i + 1 < samples.size() ? std::optional<double>(samples[i + 1].ms) : std::nullopt;
            break;
        }
    }
    metrics.steadyStateError = (target - samples.back().position) * (span < 0 ? -1 : 1);
    const double took = samples.back().ms - samples.front().ms;
    if (samples.size() > 1 && took > 0) metrics.sampleRateHz = 1000.0 * (samples.size() - 1) / took;
    return metrics;
}

std::string StepMetricsText(const CStepMetrics& metrics, double runMs) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "rise time: %s\novershoot: %.1f %%\nsettling time: %s\nsteady-state error: %d\n"
                  "sample rate: %.0f Hz\n",
                  Milliseconds(metrics.riseMs, runMs).c_str(), metrics.overshootPercent,
                  Milliseconds(metrics.settlingMs, runMs).c_str(), metrics.steadyStateError,
                  metrics.sampleRateHz);
    return text;
}

std::string StepSamplesCsv(const std::vector<CStepSample>& samples) {
    std::string csv = "time_ms,position\n";
    char line[48];
    for (const CStepSample& s : samples) {
        std::snprintf(line, sizeof line, "%.1f,%d\n", s.ms, s.position);
        csv += line;
    }
    return csv;
}
