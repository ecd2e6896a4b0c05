// Framing and checking of servo frames; no I/O here.
#include "link/Packet.h"

#include <cstring>

uint8_t FrameChecksum(const uint8_t* frame) {
    const int len = frame[3];
    uint8_t sum = 0;
    for (int i = 2; i <= len + 2; ++i) sum = static_cast<uint8_t>(sum + frame[i]);
    return static_cast<uint8_t>(~sum);
}

bool HasGoodChecksum(const uint8_t* frame) {
    return FrameChecksum(frame) == frame[frame[3] + 3];
}

EStatusVerdict JudgeStatus(const uint8_t* reply, int got, uint8_t askedId, uint8_t expectedLen,
                           uint8_t alsoId) {
    if (got <= 0) return EStatusVerdict::Nothing;
    if (reply[0] != 0xFF || (got > 1 && reply[1] != 0xFF)) return EStatusVerdict::BadHeader;
    if (got > 2 && askedId != BROADCAST_ID && reply[2] != askedId &&
        (alsoId == BROADCAST_ID || reply[2] != alsoId))
        return EStatusVerdict::OtherId;
    if (got > 3 && reply[3] != expectedLen) return EStatusVerdict::WrongLength;
    if (got < expectedLen + kStatusHeaderBytes) return EStatusVerdict::CutShort;
    if (!HasGoodChecksum(reply)) return EStatusVerdict::BadChecksum;  // LEN is expectedLen by now
    return EStatusVerdict::Good;
}

int StatusBodyLength(const uint8_t* header, uint8_t askedId, uint8_t expectedLen, uint8_t alsoId) {
    constexpr int kLongestOverrun = 4;
    const int len = header[3];
    const bool framed = header[0] == 0xFF && header[1] == 0xFF;
    const bool fromAsked = header[2] == askedId || (alsoId != BROADCAST_ID && header[2] == alsoId);
    return framed && fromAsked && len > expectedLen && len - expectedLen <= kLongestOverrun ? len
                                                                                            : expectedLen;
}

CPacket::CPacket() : m_header{0xFF, 0xFF}, m_id(0), m_length(0), m_error(0), m_checksum(0), m_params{} {}

void CPacket::BuildHeader(uint8_t id, uint8_t len, uint8_t instruction, uint8_t* frame) {
    frame[0] = 0xFF;
    frame[1] = 0xFF;
    frame[2] = id;
    frame[3] = len;
    frame[4] = instruction;
}

int CPacket::AppendChecksum(uint8_t* frame) {
    const uint8_t len = frame[3];
    if (len < 2) return 0;
    frame[len + 3] = FrameChecksum(frame);
    return 1;
}

int CPacket::TakeStatus(const uint8_t* frame, int got, EStatusVerdict verdict) {
    m_header[0] = frame[0];
    m_header[1] = frame[1];
    m_id = frame[2];
    m_length = frame[3];
    m_error = frame[4];
    const bool headerFits = got >= kStatusHeaderBytes &&
                            (verdict == EStatusVerdict::CutShort || verdict == EStatusVerdict::BadChecksum ||
                             verdict == EStatusVerdict::Good);
    if (!headerFits) return 0;
    m_length = static_cast<uint8_t>(m_length - 2);
    if (m_length > 0) std::memcpy(m_params, frame + 5, m_length);
    m_checksum = frame[5 + m_length];
    return verdict == EStatusVerdict::Good ? 1 : 0;
}
