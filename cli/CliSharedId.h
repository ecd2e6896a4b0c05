// The check before a command changes a servo: that only one servo answers to its ID.
#pragma once

#include <cstdint>
#include <iosfwd>

class CServoUsb;

// EXIT_OK when at most one servo answers to `id` at the port's present rate `baud` (or none does: the
// command then says what happened itself), else EXIT_BAD_ARGUMENTS after saying on err that `what` would
// change every one of them and how to separate them. A ping, and after an answer one read of the status
// span (CheckFoundServo). The broadcast ID passes unchecked. Main thread.
int RefuseSharedId(CServoUsb& servo, uint8_t id, int baud, const char* what, std::ostream& err);
