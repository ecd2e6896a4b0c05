// A step response on the bus: settle at FROM, step to TO, sample PRESENT_POSITION as fast as the bus allows
// (or on a fixed period), then put the servo back as it was; GUI and client run the same.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/Coefficients.h"
#include "link/StepMetrics.h"

class CServoUsb;

struct CStepRequest {
    uint8_t id = 1;
    int from = 0;
    int to = 0;
    int periodMs = 0;          // 0: one reading straight after another
    double seconds = 2.0;      // how long to sample after the step
    CCoefficientSettings set;  // written for the run
    bool keep = false;         // leave the settings on the servo afterwards
};

enum class EStepFailure {
    None,
    Refused,      // the request does not fit the servo (limits, wheel mode, a silent servo): nothing changed
    NoAnswer,     // an exchange failed on the way
    NotVerified,  // the coefficients did not read back as written
    NotSettled,   // the shaft did not come to rest at FROM
    Interrupted,  // the operator stopped the run
    PortLost,     // the adapter went away
};

struct CStepOutcome {
    EStepFailure failure = EStepFailure::None;
    std::string problem;  // what went wrong, in the operator's words
    int start = 0;        // where the shaft rested before the step
    std::vector<CStepSample> samples;
    CStepMetrics metrics;
    int band = 3;                // the settling band: the dead band plus 2
    CCoefficients coefficients;  // in effect for the run
    // The old coefficients could not be written back; restoreAdvice says what to do.
    bool restoreFailed = false;
    std::string restoreAdvice;
    bool Ok() const { return failure == EStepFailure::None; }
};

// How long the shaft may take to come to rest at FROM, and how long it must stay there first.
inline constexpr int kStepSettleTimeoutMs = 5000;
inline constexpr int kStepRestMs = 100;

// Thread rules: Run blocks its caller (a worker in the GUI, the main thread in the client) for the run;
// `stopRequested` is asked between exchanges on that thread (it reads a flag another thread may set) and ends
// the run after the exchange in progress, the servo put back. Every exchange holds the bus on its own, so
// other threads' exchanges may come between the readings.
class CStepResponse {
public:
    CStepResponse(CServoUsb& servo, std::function<bool()> stopRequested)
        : m_servo(servo), m_stopRequested(std::move(stopRequested)) {}

    CStepOutcome Run(const CStepRequest& request);

private:
    bool Stopped() const { return m_stopRequested && m_stopRequested(); }

    CServoUsb& m_servo;
    std::function<bool()> m_stopRequested;
};
