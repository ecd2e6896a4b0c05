// Framing and checking of servo frames; no I/O here.
#include "Packet.h"

#include <cstring>

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
    uint8_t sum = 0;
    for (int i = 2; i <= len + 2; ++i) sum = static_cast<uint8_t>(sum + frame[i]);
    frame[len + 3] = static_cast<uint8_t>(~sum);
    return 1;
}

int CPacket::CheckReplyHeader(const uint8_t* frame, uint8_t expectedId, uint8_t expectedLen) {
    m_header[0] = frame[0];
    m_header[1] = frame[1];
    m_id = frame[2];
    m_length = frame[3];
    m_error = frame[4];
    const bool passed = m_header[0] == 0xFF && m_header[1] == 0xFF && m_length == expectedLen &&
                        (expectedId == BROADCAST_ID || m_id == expectedId);
    if (!passed) return 0;
    m_length = static_cast<uint8_t>(m_length - 2);
    return 1;
}

int CPacket::ParseReplyBody(const uint8_t* frame) {
    if (m_length > 0) std::memcpy(m_params, frame + 5, m_length);
    m_checksum = frame[5 + m_length];
    return VerifyChecksum();
}

int CPacket::VerifyChecksum() const {
    uint8_t sum = static_cast<uint8_t>(m_id + m_length + 2 + m_error);
    for (int i = 0; i < m_length; ++i) sum = static_cast<uint8_t>(sum + m_params[i]);
    return static_cast<uint8_t>(~sum) == m_checksum ? 1 : 0;
}
