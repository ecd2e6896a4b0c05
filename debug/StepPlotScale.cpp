// Axis ranges and tick steps for the step response plot.
#include "debug/StepPlotScale.h"

#include <algorithm>
#include <cmath>

double TickStep(double span, int lines) {
    if (span <= 0 || lines <= 0) return 1;
    const double raw = span / lines;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double step : {1.0, 2.0, 5.0})
        if (step * power >= raw) return step * power;
    return 10 * power;
}

namespace {

// A hundredth of a tick past a grid line still ends the axis there: a run of 1.6 s read at 1600.3 ms.
constexpr double kTickSlack = 0.01;

CStepAxis RoundedOut(double low, double high, int lines) {
    if (high <= low) high = low + 1;
    CStepAxis axis;
    axis.tick = TickStep(high - low, lines);
    axis.low = std::floor(low / axis.tick + kTickSlack) * axis.tick;
    axis.high = std::ceil(high / axis.tick - kTickSlack) * axis.tick;
    if (axis.high <= axis.low) axis.high = axis.low + axis.tick;
    return axis;
}

}  // namespace

CStepScale ScaleFor(const std::vector<CStepTraceSpan>& traces) {
    double lastMs = 0, lowest = 1e9, highest = -1e9;
    for (const CStepTraceSpan& trace : traces) {
        lowest = std::min({lowest, double(trace.start), double(trace.target)});
        highest = std::max({highest, double(trace.start), double(trace.target)});
        for (const CStepSample& s : *trace.samples) {
            lastMs = std::max(lastMs, s.ms);
            lowest = std::min(lowest, double(s.position));
            highest = std::max(highest, double(s.position));
        }
    }
    CStepScale scale;
    if (traces.empty()) {
        scale.time = RoundedOut(0, 2000, 10);
        scale.position = RoundedOut(0, 1023, 8);
        return scale;
    }
    scale.time = RoundedOut(0, std::max(lastMs, 1.0), 10);
    // A tick's margin above and below, so the overshoot and the start never touch the frame.
    const double margin = TickStep(highest - lowest, 8);
    scale.position = RoundedOut(lowest - margin, highest + margin, 8);
    return scale;
}
