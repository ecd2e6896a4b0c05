// Classification of a status against its request, and the operator's words for each outcome.
#include "link/ExchangeOutcome.h"

#include "link/AlarmWords.h"
#include "link/Packet.h"

CExchangeOutcome ClassifyStatus(const uint8_t* reply, int got, uint8_t askedId, uint8_t expectedLen,
                                bool lost, uint8_t alsoId) {
    CExchangeOutcome outcome;
    outcome.askedId = askedId;
    outcome.expectedLen = expectedLen;
    outcome.expectedBytes = static_cast<uint16_t>(expectedLen + 4);
    outcome.gotBytes = static_cast<uint16_t>(got > 0 ? got : 0);
    if (got > 2) outcome.answerId = reply[2];
    if (got > 3) outcome.answerLen = reply[3];
    // Judge only the bytes that came: a frame cut short is named as such unless what did come is already
    // wrong, and a lost port explains a short answer better than the answer itself.
    auto set = [&](EOutcome kind) {
        // Every servo answers a broadcast, all on one line: a damaged answer is their answers on top of
        // each other far more often than noise.
        const bool damaged = kind == EOutcome::BadHeader || kind == EOutcome::BadChecksum ||
                             kind == EOutcome::WrongLength || kind == EOutcome::CutShort;
        outcome.kind = damaged && askedId == BROADCAST_ID ? EOutcome::Collision : kind;
        return outcome;
    };
    if (got <= 0) return set(lost ? EOutcome::PortLost : EOutcome::NoAnswer);
    if (reply[0] != 0xFF || (got > 1 && reply[1] != 0xFF)) return set(EOutcome::BadHeader);
    if (got > 2 && askedId != BROADCAST_ID && reply[2] != askedId &&
        (alsoId == BROADCAST_ID || reply[2] != alsoId))
        return set(EOutcome::OtherId);
    if (got > 3 && reply[3] != expectedLen) return set(EOutcome::WrongLength);
    if (got < outcome.expectedBytes) return set(lost ? EOutcome::PortLost : EOutcome::CutShort);
    if (!HasGoodChecksum(reply)) return set(EOutcome::BadChecksum);  // LEN is expectedLen by now
    outcome.error = reply[4];
    return set(EOutcome::Good);
}

std::string AlarmText(uint8_t error) {
    return AlarmNames(error, {}, ", ");
}

std::string DescribeOutcome(const CExchangeOutcome& o, int timeoutMs) {
    const std::string asked = std::to_string(o.askedId);
    const std::string who = o.askedId == BROADCAST_ID ? "any ID" : "ID " + asked;
    switch (o.kind) {
        case EOutcome::Good: {
            const std::string alarms = AlarmText(o.error);
            return alarms.empty() ? "ok" : "ok, alarms: " + alarms;
        }
        case EOutcome::NotAwaited:
            return "sent, no answer awaited";
        case EOutcome::NoAnswer:
            if (timeoutMs <= 0) return "no answer from " + who;
            return "no answer from " + who + " within " + std::to_string(timeoutMs) + " ms";
        case EOutcome::CutShort:
            return who + " answered " + std::to_string(o.gotBytes) + " of " +
                   std::to_string(o.expectedBytes) + " bytes";
        case EOutcome::BadHeader:
            return "garbage instead of an answer from " + who + " (no FF FF header)";
        case EOutcome::BadChecksum:
            return "answer from ID " + std::to_string(o.answerId) + " failed its checksum";
        case EOutcome::OtherId:
            return "answer from ID " + std::to_string(o.answerId) + " while asking ID " + asked;
        case EOutcome::WrongLength:
            return "answer from " + who + " has LEN " + std::to_string(o.answerLen) + " where " +
                   std::to_string(o.expectedLen) + " was expected";
        case EOutcome::Collision:
            return "answers from several servos collided (" + std::to_string(o.gotBytes) + " damaged bytes)";
        case EOutcome::PortLost:
            return "the adapter went away";
        case EOutcome::RefusedLimits:
            return "not sent: the request does not fit one frame";
        case EOutcome::RefusedClosed:
            return "not sent: the port is closed";
    }
    return {};
}
