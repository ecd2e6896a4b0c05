// Header search, length check and checksum check of incoming request frames.
#include "sim/FrameParser.h"

#include "sim/WireFrame.h"

namespace sim {

namespace {

// Index of the first byte that may begin a frame; everything before it can never be part of one. A header is
// FF FF followed by an ID, and an ID is never FF, so in a run of FFs the last two are the header. A trailing
// FF or FF FF is kept: the rest of its header may still be on the way.
std::size_t FindHeader(const std::vector<uint8_t>& bytes) {
    std::size_t i = 0;
    for (; i < bytes.size(); ++i) {
        if (bytes[i] != HEADER_BYTE) continue;
        if (i + 1 == bytes.size()) return i;
        if (bytes[i + 1] != HEADER_BYTE) continue;
        if (i + 2 == bytes.size() || bytes[i + 2] != HEADER_BYTE) return i;
    }
    return i;
}

}  // namespace

std::vector<std::vector<uint8_t>> CFrameParser::Feed(std::span<const uint8_t> bytes, Clock::time_point now) {
    std::vector<std::vector<uint8_t>> frames;
    if (!m_pending.empty() && now - m_lastByte > m_gap) m_pending.clear();
    m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());
    m_lastByte = now;

    for (;;) {
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<long>(FindHeader(m_pending)));
        if (m_pending.size() <= LEN_OFFSET) break;
        const std::size_t len = m_pending[LEN_OFFSET];
        if (len < 2) {  // no room for the instruction: not a frame
            m_pending.erase(m_pending.begin());
            continue;
        }
        const std::size_t total = len + FRAME_OVERHEAD;
        if (m_pending.size() < total) break;
        const auto body = std::span(m_pending).subspan(ID_OFFSET, len + 1);
        if (FrameChecksum(body) == m_pending[total - 1]) {
            frames.emplace_back(m_pending.begin(), m_pending.begin() + static_cast<long>(total));
            m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<long>(total));
        } else {
            m_pending.erase(m_pending.begin());
        }
    }
    return frames;
}

}  // namespace sim
