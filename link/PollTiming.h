// What reading status spans one servo after another can reach on a bus: the time one read takes and the
// rate per servo that a list of such reads allows.
#pragma once

#include <chrono>
#include <vector>

#include "link/ScanTiming.h"

namespace PollTiming {

using Micros = std::chrono::microseconds;

// A status-span read asks with FF FF ID 04 02 29 0D CS and is answered with the 13 bytes in a 6-byte frame.
inline constexpr int SPAN_REQUEST_BYTES = 8;
inline constexpr int SPAN_STATUS_BYTES = 6 + 13;

// One read on an otherwise idle bus: both frames on the wire, the servo's return delay, and the adapter's
// latency once on the way out and once on the way back.
constexpr Micros SpanReadTime(int baud, Micros returnDelay, Micros adapterLatency) {
    return ScanTiming::WireTime(SPAN_REQUEST_BYTES + SPAN_STATUS_BYTES, baud) + returnDelay +
           2 * adapterLatency;
}

// Reads per second each servo gets when the servos are read one after another without a pause: the
// inverse of one whole round. 0 for an empty list.
inline double RatePerServo(const std::vector<Micros>& readTimes) {
    Micros round{0};
    for (Micros each : readTimes) round += each;
    return round.count() > 0 ? 1e6 / static_cast<double>(round.count()) : 0.0;
}

}  // namespace PollTiming
