// How one simulated servo is set up: its ID, rate, answer settings and measured values, and the
// command-line form scripts use to ask for it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "sim/HandSwing.h"

namespace sim {

// How a servo answers a write that changes its own ID or rate. Real servos build the status after the table
// has changed, so it comes from the new ID (and, where the new rate takes effect at once, at the new rate).
enum class EChangeReply : uint8_t {
    New,  // from the new ID, at the new rate
    Old,  // from the ID and at the rate the servo had when the write arrived
};

// A servo fresh from the factory except for what is given here. The measured values, when given, stay as
// set (a stuck sensor, or a bench supply set on purpose), so they can drive the servo's alarms.
struct CSimServoSpec {
    uint8_t id = 1;
    uint8_t baudCode = 0;                // BAUD_RATE code, 0..7
    uint8_t returnDelay = 0;             // RETURN_DELAY, units of 2 us
    uint8_t returnLevel = 2;             // RETURN_LEVEL, 0..2
    std::optional<uint8_t> temperature;  // degrees
    std::optional<uint8_t> voltage;      // tenths of a volt
    std::optional<int> load;             // PRESENT_LOAD's units, signed, -1023..1023
    std::optional<CHandRange> hand;      // a hand moves the shaft whenever torque is off
    EChangeReply changeReply = EChangeReply::New;
    // Powered up this long after the simulator started (before that the servo hears nothing), and powered
    // down this long after it started; none: powered all along.
    std::optional<std::chrono::milliseconds> plugAfter;
    std::optional<std::chrono::milliseconds> unplugAfter;
    std::optional<int> externalLoad;     // MAX_TORQUE's units toward lower positions, -1023..1023
};

// A servo with that ID and BAUD_RATE code and factory defaults otherwise.
inline CSimServoSpec DefaultServo(uint8_t id, uint8_t baudCode = 0) {
    CSimServoSpec spec;
    spec.id = id;
    spec.baudCode = baudCode;
    return spec;
}

// The longest RETURN_DELAY a servo is given from the command line: 254 x 2 us.
inline constexpr int MAX_RETURN_DELAY = 254;

// ID[@RATE][:delay=N][:level=N][:temp=N][:volt=N][:load=N][:hand=LOW-HIGH/SECONDS][:reply=old|new]
// [:plug=SECONDS][:unplug=SECONDS][:extload=N]: RATE in bit/s and one of the servo rates, ID 0..253, numbers in
// decimal (SECONDS may have decimals). nullopt with a one-line reason in *error when the text is not such a
// servo.
std::optional<CSimServoSpec> ParseServoSpec(const std::string& text, std::string* error);

}  // namespace sim
