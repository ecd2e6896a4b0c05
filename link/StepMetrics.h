// What a step response says about a servo's tuning: rise time, overshoot, settling time, steady-state error.
//
// Thread rules: pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

// One reading of PRESENT_POSITION, timed from the moment the step's goal was sent.
struct CStepSample {
    double ms = 0.0;
    int position = 0;
};

struct CStepMetrics {
    // From the first reading past 10 % of the step to the first past 90 %; empty when it never got there.
    std::optional<double> riseMs;
    // How far the shaft went past the target, in per cent of the step; 0 when it never did.
    double overshootPercent = 0.0;
    // From the step until the shaft entered the band around the target for good; empty when it was still
    // outside at the last reading.
    std::optional<double> settlingMs;
    // Target minus the last reading: positive when the shaft stopped short of the target (in the step's
    // direction of travel), negative when it stopped beyond.
    int steadyStateError = 0;
    // Readings per second over the run.
    double sampleRateHz = 0.0;
};

// The metrics of readings taken after a step from `start` to `target`, in time order. `band` is how far from
// the target counts as settled (the servo's dead band plus 2). Pure; a step of zero length gives no rise.
CStepMetrics MeasureStep(const std::vector<CStepSample>& samples, int start, int target, int band);

// The lines `brennix step` prints: "rise time: 84 ms", "overshoot: 3.2 %", "settling time: 210 ms",
// "steady-state error: 1", "sample rate: 950 Hz", each ending in a newline. A rise or settling that did not
// happen within the run reads "not within 2000 ms" (the run's length).
std::string StepMetricsText(const CStepMetrics& metrics, double runMs);

// Samples as CSV, "time_ms,position" then one line each.
std::string StepSamplesCsv(const std::vector<CStepSample>& samples);
