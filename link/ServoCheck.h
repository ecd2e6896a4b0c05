// The second look at a servo that answered a ping: whether one servo or several answer to its ID, and the
// values behind its alarm bits. The bus scan, both node searches and the client's commands share it.
#pragma once

#include <chrono>
#include <cstdint>

#include "link/AlarmWords.h"
#include "link/ScanTiming.h"

class CServoUsb;
struct CRawAnswer;

// What one read of the status span says about the servos at an ID. A ping cannot tell two servos with one
// ID apart (their answers are identical and, below 1000000 baud, overlap cleanly); a read of values that
// differ between them (position, voltage, temperature) can.
enum class EIdSharing {
    Single,   // one clean status, and nothing after it
    Shared,   // anything else came: answers that collided, or a second answer after the first
    Unknown,  // no answer to the read (a servo that answers pings only, or one that went): cannot tell
};

struct CServoCheck {
    EIdSharing sharing = EIdSharing::Unknown;
    uint8_t error = 0;    // the alarm bits of the read's status, or the ping's when the read gave none
    CAlarmValues values;  // the readings of the span, and the limits when a bit needs them
};

// One read of the status span of `id` at the line's present rate `baud`, at the transport's normal timeout,
// and after it one more answer window (with `adapterMargin`) for a second answerer; then, when the alarm
// bits need values to be put in words, one read of the limits (MAX_TEMPERATURE to MIN_VOLTAGE). pingError is
// the error byte of the ping that found the servo. Two servos whose status spans are identical byte for byte
// answer identically, and where those answers overlap cleanly (below 1000000 baud) they read as Single.
// Thread rules: any thread; each exchange takes the bus itself, so a caller that must keep the line as it is
// between its ping and this holds the bus (CServoUsb::AcquireBus) across both.
CServoCheck CheckFoundServo(CServoUsb& servo, uint8_t id, int baud, uint8_t pingError,
                            std::chrono::microseconds adapterMargin = ScanTiming::kDefaultAdapterMargin);

// The judgement of a status-span read's answer, as CheckFoundServo makes it.
EIdSharing JudgeSpanAnswer(const CRawAnswer& answer, uint8_t id);

// The readings (PRESENT_VOLTAGE, PRESENT_TEMPERATURE) and the limits behind alarm bits: two reads at the
// normal timeout; what a read did not give stays unknown. Any thread.
CAlarmValues ReadAlarmValues(CServoUsb& servo, uint8_t id);
