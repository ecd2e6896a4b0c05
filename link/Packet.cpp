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
    // The record is put back into frame form, so the one checksum rule judges it.
    uint8_t frame[MAX_FRAME_SIZE] = {0xFF, 0xFF, m_id, static_cast<uint8_t>(m_length + 2), m_error};
    std::memcpy(frame + 5, m_params, m_length);
    frame[5 + m_length] = m_checksum;
    return HasGoodChecksum(frame) ? 1 : 0;
}
