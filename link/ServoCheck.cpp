// A found servo's status span read byte for byte: one clean status is one servo, anything more is several.
#include "link/ServoCheck.h"

#include "link/ControlTable.h"
#include "link/Packet.h"
#include "link/ServoUsb.h"

namespace {

constexpr int kSpanStatusBytes = Reg::STATUS_SPAN_LENGTH + 6;
// MAX_TEMPERATURE, MAX_VOLTAGE and MIN_VOLTAGE lie next to each other.
constexpr uint8_t kLimitsStart = Reg::MAX_TEMPERATURE;
constexpr uint8_t kLimitsLength = 3;

void ReadLimits(CServoUsb& servo, uint8_t id, CAlarmValues& values) {
    uint8_t limits[kLimitsLength] = {};
    if (servo.ReadData(id, kLimitsStart, kLimitsLength, limits) == kLimitsLength)
        TakeAlarmLimits(limits, values);
}

}  // namespace

EIdSharing JudgeSpanAnswer(const CRawAnswer& answer, uint8_t id) {
    if (answer.got == 0) return EIdSharing::Unknown;
    if (answer.got != kSpanStatusBytes) return EIdSharing::Shared;
    const uint8_t* b = answer.bytes;
    if (b[0] != 0xFF || b[1] != 0xFF || b[2] != id || b[3] != Reg::STATUS_SPAN_LENGTH + 2)
        return EIdSharing::Shared;
    return HasGoodChecksum(b) ? EIdSharing::Single : EIdSharing::Shared;
}

CServoCheck CheckFoundServo(CServoUsb& servo, uint8_t id, int baud, uint8_t pingError,
                            std::chrono::microseconds adapterMargin) {
    CServoCheck check;
    check.error = pingError;
    servo.Transport()->SetReadWindow(std::chrono::microseconds{0});
    CRawAnswer answer;
    servo.ReadRaw(id, Reg::STATUS_SPAN_START, Reg::STATUS_SPAN_LENGTH,
                  ScanTiming::TailWindow(kSpanStatusBytes, baud, adapterMargin), &answer);
    check.sharing = JudgeSpanAnswer(answer, id);
    if (check.sharing != EIdSharing::Single) return check;
    check.error = answer.bytes[4];
    TakeStatusSpan(answer.bytes + 5, check.values);
    if (check.error & kAlarmsNeedingValues) ReadLimits(servo, id, check.values);
    return check;
}

CAlarmValues ReadAlarmValues(CServoUsb& servo, uint8_t id) {
    CAlarmValues values;
    uint8_t readings[2] = {};
    if (servo.ReadData(id, Reg::PRESENT_VOLTAGE, 2, readings) == 2) {
        values.voltage = readings[0];
        values.temperature = readings[1];
    }
    ReadLimits(servo, id, values);
    return values;
}
