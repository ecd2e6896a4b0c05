// One ping per ID, judged byte for byte, and a second look at each ID that answers.
#include "link/IdSweep.h"

#include <chrono>

#include "link/BusScanner.h"
#include "link/ServoUsb.h"

int SweepIds(CServoUsb& servo, int firstId, int lastId, int baud, const CIdSweepEvents& events) {
    int found = 0;
    for (int id = firstId; id <= lastId; ++id) {
        if (events.stopRequested && events.stopRequested()) break;
        if (events.pinging) events.pinging(id);
        // The answer byte for byte, as this exchange's own: at 1000000 baud two servos with one ID already
        // collide on the ping; below, their answers overlap cleanly and only a read of their status spans,
        // which differ, tells them apart.
        CRawAnswer answer;
        const auto pinged = static_cast<uint8_t>(id);
        servo.PingRaw(pinged, std::chrono::microseconds{0}, &answer);
        const EAnswerKind kind = JudgeAnswer(answer.bytes, answer.got, pinged);
        if (kind != EAnswerKind::Clean && kind != EAnswerKind::Collided) continue;
        ++found;
        if (events.answered) events.answered(id);
        if (kind == EAnswerKind::Collided) {
            if (events.shared) events.shared(id);
            continue;
        }
        const CServoCheck check = CheckFoundServo(servo, pinged, baud, answer.bytes[4]);
        if (check.sharing == EIdSharing::Shared && events.shared) events.shared(id);
        if (events.checked) events.checked(id, check);
    }
    return found;
}
