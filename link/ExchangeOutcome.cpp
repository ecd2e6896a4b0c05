// Classification of a status against its request, and the operator's words for each outcome.
#include "link/ExchangeOutcome.h"

#include "link/AlarmWords.h"
#include "link/Packet.h"

CExchangeOutcome OutcomeOfStatus(EStatusVerdict verdict, const uint8_t* reply, int got, uint8_t askedId,
                                 uint8_t expectedLen, bool lost) {
    CExchangeOutcome outcome;
    outcome.askedId = askedId;
    outcome.expectedLen = expectedLen;
    outcome.expectedBytes = static_cast<uint16_t>(expectedLen + 4);
    outcome.gotBytes = static_cast<uint16_t>(got > 0 ? got : 0);
    if (got > 2) outcome.answerId = reply[2];
    if (got > 3) outcome.answerLen = reply[3];
    switch (verdict) {
        case EStatusVerdict::Nothing:
            outcome.kind = lost ? EOutcome::PortLost : EOutcome::NoAnswer;
            break;
        case EStatusVerdict::BadHeader:
            outcome.kind = EOutcome::BadHeader;
            break;
        case EStatusVerdict::OtherId:
            outcome.kind = EOutcome::OtherId;
            break;
        case EStatusVerdict::WrongLength:
            outcome.kind = EOutcome::WrongLength;
            break;
        case EStatusVerdict::CutShort:
            outcome.kind = lost ? EOutcome::PortLost : EOutcome::CutShort;
            break;
        case EStatusVerdict::BadChecksum:
            outcome.kind = EOutcome::BadChecksum;
            break;
        case EStatusVerdict::Good:
            outcome.kind = EOutcome::Good;
            outcome.error = reply[4];
            break;
    }
    // Every servo answers a broadcast, all on one line: a damaged answer is their answers on top of each
    // other far more often than noise.
    const bool damaged = outcome.kind == EOutcome::BadHeader || outcome.kind == EOutcome::BadChecksum ||
                         outcome.kind == EOutcome::WrongLength || outcome.kind == EOutcome::CutShort;
    if (damaged && askedId == BROADCAST_ID) outcome.kind = EOutcome::Collision;
    return outcome;
}

CExchangeOutcome ClassifyStatus(const uint8_t* reply, int got, uint8_t askedId, uint8_t expectedLen,
                                bool lost, uint8_t alsoId) {
    return OutcomeOfStatus(JudgeStatus(reply, got, askedId, expectedLen, alsoId), reply, got, askedId,
                           expectedLen, lost);
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
