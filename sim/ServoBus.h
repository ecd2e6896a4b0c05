// The servos sharing one bus: who hears a request at the current line rate, what they do and who answers.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/ServoBootLoader.h"
#include "sim/ServoModel.h"
#include "sim/ServoSpec.h"

namespace sim {

// A status frame, which servo sends it and how long after the request has left the wire it goes out.
struct CSimReply {
    std::chrono::microseconds delay;
    std::vector<uint8_t> bytes;
    int sender = 0;
    uint32_t rate = 0;  // bit/s it goes out at; 0: the rate of the request it answers
};

// Rules a real bus imposes and how collisions are avoided:
// - A servo hears a request only when the line rate equals its own baud rate (any rate with SetAnyRate).
// - Servos answer per RETURN_LEVEL: 0 ping only, 1 ping and read, 2 everything.
// - A broadcast (ID 0xFE) is never answered, except a ping, which every servo that hears it answers.
// - Several servos with the same ID (as after resetting two of them) all carry out the request and all
//   answer it.
// - Each servo answers its return delay after the request has left the wire, plus a turn-around of its own:
//   no two servos' firmware turns the line around in exactly the same time, so answers meant for the same
//   moment land a microsecond or so apart (CReturnLine decides what the host makes of them).
// - A status carries the return delay and return level from before the request. A write that changes the
//   servo's ID or rate is answered from the new ID at the new rate (EChangeReply::New, as real servos build
//   the status after the table changed), or from the old ID at the old rate (Old); with SetAnyRate every
//   answer goes out at the line's rate.
// - A servo set up with plugAfter or unplugAfter hears nothing before it is powered up or after it is
//   powered down.
// - Sync write is never answered; each servo takes the block with its ID.
// - An unknown instruction, or a read or write whose parameters do not fit it, is answered (when the return
//   level allows) with the instruction error bit 0x40 and no parameters.
// - Every status carries the servo's alarm bits (CServoModel::Alarms) in its error byte.
// - A read of more than 253 bytes cannot be answered in one frame and stays unanswered.
// - Entering the boot loader (0x08) is never answered. From then on the servo hears no frames: its boot
//   loader takes raw bytes at the boot rate (CBootLoaders) until a transfer completes or the line rests.
// Not thread-safe: CBusSimulator guards the bus with its mutex.
class CServoBus {
public:
    using Clock = std::chrono::steady_clock;

    void AddServo(const CSimServoSpec& spec, Clock::time_point now);
    // Removes every servo with that ID.
    void RemoveServo(uint8_t id);
    // The first servo with that ID, or nullptr.
    CServoModel* Find(uint8_t id);
    const CServoModel* Find(uint8_t id) const;

    // Carries out one well-formed request frame that arrived at `lineRate` bit/s at `now`, after moving
    // every shaft up to `now`. Returns every status sent in answer, in the order the servos were added.
    std::vector<CSimReply> Dispatch(std::span<const uint8_t> frame, uint32_t lineRate, Clock::time_point now);

    // How long after its return delay the servo added as the n-th (from 0) starts to answer.
    static std::chrono::microseconds TurnAround(int serial);

    // Servos (and their boot loaders) hear and answer at whatever rate the line has, not only their own.
    void SetAnyRate(bool anyRate) { m_bAnyRate = anyRate; }
    bool AnyRate() const { return m_bAnyRate; }

    // The servos' boot loaders, for the raw bytes of a firmware transfer.
    CBootLoaders& Boot() { return m_boot; }
    const CBootLoaders& Boot() const { return m_boot; }

private:
    struct CServo {
        CServoModel model;
        int serial;  // order of addition, never reused: names the sender on the return line
        EChangeReply changeReply = EChangeReply::New;
        std::optional<Clock::time_point> poweredFrom;
        std::optional<Clock::time_point> poweredUntil;
        bool PoweredAt(Clock::time_point now) const {
            return (!poweredFrom || now >= *poweredFrom) && (!poweredUntil || now < *poweredUntil);
        }
    };
    std::vector<CServo> m_servos;  // in the order added; Find returns the first among equal IDs
    int m_nNextSerial = 0;
    CBootLoaders m_boot;
    bool m_bAnyRate = false;
};

}  // namespace sim
