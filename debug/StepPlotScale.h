// The step response window's axes: the span the runs cover, rounded out to tick steps a reader can follow,
// and the mapping of a reading onto the plot's pixels. Pure, no drawing.
//
// Thread rules: pure functions; any thread.
#pragma once

#include <vector>

#include "link/StepMetrics.h"

struct CStepAxis {
    double low = 0;
    double high = 1;
    double tick = 1;  // between grid lines: 1, 2 or 5 times a power of ten
    // Where a value falls between `near` (at low) and `far` (at high) pixels.
    double Map(double value, double near, double far) const {
        return near + (value - low) / (high - low) * (far - near);
    }
};

// A tick step for a span shown with about `lines` grid lines.
double TickStep(double span, int lines);

// The time axis from 0 to the longest run, the position axis over every reading and target with a margin of
// a tick on each side; both rounded out to whole ticks.
struct CStepScale {
    CStepAxis time;      // ms
    CStepAxis position;  // units
};
struct CStepTraceSpan {
    const std::vector<CStepSample>* samples;
    int start;
    int target;
};
CStepScale ScaleFor(const std::vector<CStepTraceSpan>& traces);
