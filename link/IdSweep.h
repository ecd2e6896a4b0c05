// The sweep of a range of IDs at the port's own rate, one ping each: the desktop tool's node search and
// the command line's scan both run it.
#pragma once

#include <functional>

#include "link/ServoCheck.h"

class CServoUsb;

// What the sweep reports, on the thread that runs it, in the order it happens. Unset members are skipped.
struct CIdSweepEvents {
    // Before each ID: true ends the sweep there.
    std::function<bool()> stopRequested;
    // Just before the ID is pinged.
    std::function<void(int id)> pinging;
    // The ID answered (cleanly or in a collision), before it is checked any further.
    std::function<void(int id)> answered;
    // Two or more servos answer to the ID: their answers collided, or a read of their status spans differed.
    std::function<void(int id)> shared;
    // The follow-up read of a cleanly answering ID, after `shared` when it applies.
    std::function<void(int id, const CServoCheck& check)> checked;
};

// Pings every ID from firstId to lastId at the normal timeout; baud is the port's rate, for the checks.
// Returns how many IDs answered.
int SweepIds(CServoUsb& servo, int firstId, int lastId, int baud, const CIdSweepEvents& events);
