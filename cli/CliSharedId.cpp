// A ping cannot tell two servos with one ID apart; the read of their status spans can, so both are made.
#include "cli/CliSharedId.h"

#include <ostream>

#include "cli/CliOptions.h"
#include "link/BusScanner.h"
#include "link/ServoCheck.h"
#include "link/ServoUsb.h"

int RefuseSharedId(CServoUsb& servo, uint8_t id, int baud, const char* what, std::ostream& err) {
    if (id == BROADCAST_ID) return EXIT_OK;
    bool shared = false;
    {
        const CBusLock bus = servo.AcquireBus();
        CRawAnswer ping;
        servo.Transport()->SetReadWindow(std::chrono::microseconds{0});
        servo.PingRaw(id, std::chrono::microseconds{0}, &ping);
        const EAnswerKind kind = JudgeAnswer(ping.bytes, ping.got, id);
        if (kind == EAnswerKind::Nothing) return EXIT_OK;
        shared = kind == EAnswerKind::Collided ||
                 CheckFoundServo(servo, id, baud, 0).sharing == EIdSharing::Shared;
    }
    if (!shared) return EXIT_OK;
    err << "brennix: ID " << int(id) << " at " << baud << ": two or more servos answer; " << what
        << " would reach all of them, so nothing was sent\n"
        << "brennix: to separate them, power or plug in one of them at a time and give it an ID of its own "
           "(brennix assign does this servo by servo)\n";
    return EXIT_BAD_ARGUMENTS;
}
