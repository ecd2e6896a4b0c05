// How one exchange on the bus ended, in enough detail to tell the operator what went wrong.
#pragma once

#include <cstdint>
#include <string>

#include "link/Packet.h"

enum class EOutcome : uint8_t {
    Good,           // a status that passed every check (its error byte may still carry alarms)
    NotAwaited,     // sent; no status comes (broadcast, return level, status-less instruction)
    NoAnswer,       // nothing came within the timeout
    CutShort,       // the bytes that came fit, but too few came
    BadHeader,      // the first two bytes are not FF FF
    BadChecksum,    // well framed, but the checksum does not match
    OtherId,        // a status from another ID than the one asked
    WrongLength,    // a status with another LEN than the request calls for
    Collision,      // a damaged answer to a broadcast: several servos answered at once
    PortLost,       // the adapter went away during the exchange
    RefusedLimits,  // not sent: the request would not fit its frame
    RefusedClosed,  // not sent: the port is closed
};

// Plain data, no heap: it travels inside every recorded frame.
struct CExchangeOutcome {
    EOutcome kind = EOutcome::NotAwaited;
    uint8_t askedId = 0;   // the ID the request went to
    uint8_t answerId = 0;  // the ID byte that came back (OtherId, and every status received)
    uint8_t error = 0;     // the servo's error byte (Good)
    uint8_t expectedLen = 0;
    uint8_t answerLen = 0;  // LEN byte that came back (WrongLength)
    uint16_t expectedBytes = 0;
    uint16_t gotBytes = 0;  // bytes that came back (CutShort and every status received)

    bool IsGood() const { return kind == EOutcome::Good || kind == EOutcome::NotAwaited; }
};

// Names the outcome of a status read for `askedId` (LEN `expectedLen`) from the `got` bytes that came and
// the verdict JudgeStatus gave them; `lost` tells that the transport lost its port meanwhile, which explains
// silence or a short answer better than the answer itself. A status counts as Good exactly when its verdict
// is Good.
CExchangeOutcome OutcomeOfStatus(EStatusVerdict verdict, const uint8_t* reply, int got, uint8_t askedId,
                                 uint8_t expectedLen, bool lost);
// JudgeStatus and OutcomeOfStatus in one, for a reader that needs no more than the outcome. A status from
// `alsoId` counts as from askedId; BROADCAST_ID for none.
CExchangeOutcome ClassifyStatus(const uint8_t* reply, int got, uint8_t askedId, uint8_t expectedLen,
                                bool lost, uint8_t alsoId = 0xFE);

// The alarm bits of a status's error byte by name ("voltage", "over-heat", "over-load", "instruction", any
// other as "bitN"; AlarmNames), comma separated; empty for 0. The bit alone cannot say whether the voltage
// is too high or too low.
std::string AlarmText(uint8_t error);

// One phrase for the operator ("no answer from ID 3 within 50 ms", "answer from ID 3 failed its checksum").
// timeoutMs is the wait the transport used, 0 when not known.
std::string DescribeOutcome(const CExchangeOutcome& outcome, int timeoutMs);
