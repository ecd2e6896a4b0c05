// The simulated boot loader checks every block frame with its own CRC code, so a framing fault in the host
// shows as a refused block rather than cancelling itself out.
#include "sim/ServoBootLoader.h"

#include <algorithm>

#include "link/BootLoader.h"

namespace sim {

namespace {

// A partial unit whose bytes stop arriving for this long is dropped, as a UART receiver resets.
constexpr std::chrono::milliseconds kByteGap{100};

// CRC-16 with polynomial 0x1021, start 0, most significant bit first, over the frame's first 64 bytes.
uint16_t BlockCrc(std::span<const uint8_t> bytes) {
    uint16_t crc = 0;
    for (uint8_t byte : bytes.first(BOOT_BLOCK_SIZE)) {
        crc = static_cast<uint16_t>(crc ^ byte << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
    }
    return crc;
}

// 0 when the pending bytes begin with the whole entry code, 1 when they are a proper start of it, else -1.
int MatchEntry(const std::vector<uint8_t>& pending) {
    const std::size_t n = std::min(pending.size(), BOOT_ENTRY_CODE.size());
    if (!std::equal(pending.begin(), pending.begin() + static_cast<long>(n), BOOT_ENTRY_CODE.begin()))
        return -1;
    return n == BOOT_ENTRY_CODE.size() ? 0 : 1;
}

}  // namespace

CBootSession::CBootSession(uint8_t id, Clock::time_point now) : m_id(id), m_tLastTraffic(now) {
    m_image.fill(0xFF);
}

CSimBootAnswer CBootSession::Feed(std::span<const uint8_t> bytes, const CSimBootFaults& faults,
                                  Clock::time_point now) {
    if (!m_pending.empty() && now - m_tLastTraffic > kByteGap) m_pending.clear();
    m_tLastTraffic = now;
    m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());

    CSimBootAnswer answer;
    while (!m_pending.empty() && !m_bFinished) {
        const int entry = MatchEntry(m_pending);
        if (entry == 1) break;  // the rest of the entry code may still come
        if (entry == 0) {
            m_pending.erase(m_pending.begin(), m_pending.begin() + BOOT_ENTRY_CODE.size());
            if (faults.ignoreEntry) continue;
            // A new session: whatever an earlier, abandoned transfer left is forgotten.
            m_state = EState::WaitStart;
            m_nNextBlock = 1;
            m_nFramesSeen = m_nAccepted = m_nRefused = 0;
            m_image.fill(0xFF);
            answer.bytes.push_back(BOOT_ACK);
            continue;
        }
        if (m_state == EState::WaitStart && m_pending.front() == BOOT_START) {
            m_pending.erase(m_pending.begin());
            m_state = EState::Blocks;
            answer.bytes.push_back(BOOT_ACK);
            continue;
        }
        if (m_state != EState::Blocks) {
            m_pending.erase(m_pending.begin());  // noise before the handshake
            continue;
        }
        if (m_pending.size() < BOOT_FRAME_SIZE) break;
        const std::vector<uint8_t> reply = TakeBlock(faults, answer);
        answer.bytes.insert(answer.bytes.end(), reply.begin(), reply.end());
    }
    return answer;
}

std::vector<uint8_t> CBootSession::TakeBlock(const CSimBootFaults& faults, CSimBootAnswer& answer) {
    const std::vector<uint8_t> frame(m_pending.begin(), m_pending.begin() + BOOT_FRAME_SIZE);
    m_pending.erase(m_pending.begin(), m_pending.begin() + BOOT_FRAME_SIZE);
    const int ordinal = ++m_nFramesSeen;
    if (ordinal == faults.silentAtBlock) return {};
    if (ordinal == faults.slowAtBlock) answer.delay = faults.slowBy;

    const uint16_t crc = BlockCrc(frame);
    const uint8_t endFlag = frame[69];
    const bool good = frame[0] == m_nNextBlock && frame[1] == static_cast<uint8_t>(255 - frame[0]) &&
                      frame[67] == crc >> 8 && frame[68] == (crc & 0xFF) &&
                      (endFlag == BOOT_MORE_FOLLOW || endFlag == BOOT_LAST_BLOCK) &&
                      static_cast<std::size_t>(m_nNextBlock) * BOOT_BLOCK_SIZE <= BOOT_CAPACITY;
    if (!good || ordinal == faults.nakAtBlock) {
        ++m_nRefused;
        return {BOOT_NAK};
    }
    std::copy_n(frame.begin() + 3, BOOT_BLOCK_SIZE, m_image.begin() + (m_nNextBlock - 1) * BOOT_BLOCK_SIZE);
    ++m_nNextBlock;
    ++m_nAccepted;
    if (endFlag == BOOT_LAST_BLOCK) m_bFinished = true;
    return {BOOT_ACK};
}

std::vector<uint8_t> CBootSession::Image() const {
    return {m_image.begin(), m_image.begin() + (m_nNextBlock - 1) * BOOT_BLOCK_SIZE};
}

void CBootLoaders::Enter(uint8_t id, Clock::time_point now) {
    if (Holds(id)) return;
    m_sessions.emplace_back(id, now);
    CSimBootStatus& status = m_lastStatus[id];
    status = CSimBootStatus{true, false, 0, 0, status.flashes};
}

bool CBootLoaders::Holds(uint8_t id) const {
    return std::any_of(m_sessions.begin(), m_sessions.end(),
                       [id](const CBootSession& s) { return s.Id() == id; });
}

bool CBootLoaders::Listens(uint32_t lineRate) const {
    return !m_sessions.empty() && lineRate == static_cast<uint32_t>(BOOT_BAUD);
}

const CSimBootFaults& CBootLoaders::FaultsOf(uint8_t id) const {
    static const CSimBootFaults kNone;
    const auto found = m_faults.find(id);
    return found == m_faults.end() ? kNone : found->second;
}

CSimBootAnswer CBootLoaders::Feed(std::span<const uint8_t> bytes, Clock::time_point now) {
    CSimBootAnswer heard;
    for (CBootSession& session : m_sessions) {
        CSimBootAnswer answer = session.Feed(bytes, FaultsOf(session.Id()), now);
        if (heard.bytes.empty()) heard = std::move(answer);
        CSimBootStatus& status = m_lastStatus[session.Id()];
        status.started = session.Started();
        status.blocksAccepted = session.BlocksAccepted();
        status.blocksRefused = session.BlocksRefused();
        if (session.Finished()) {
            m_firmware[session.Id()] = session.Image();
            ++status.flashes;
            status.inBootLoader = false;
        }
    }
    std::erase_if(m_sessions, [](const CBootSession& s) { return s.Finished(); });
    return heard;
}

void CBootLoaders::Expire(Clock::time_point now) {
    std::erase_if(m_sessions, [&](const CBootSession& s) {
        if (now - s.LastTraffic() <= m_idleTimeout) return false;
        m_lastStatus[s.Id()].inBootLoader = false;
        return true;
    });
}

void CBootLoaders::Drop(uint8_t id) {
    std::erase_if(m_sessions, [id](const CBootSession& s) { return s.Id() == id; });
    m_lastStatus[id].inBootLoader = false;
}

CSimBootStatus CBootLoaders::Status(uint8_t id, Clock::time_point now) const {
    const auto found = m_lastStatus.find(id);
    if (found == m_lastStatus.end()) return {};
    CSimBootStatus status = found->second;
    // Expiry is carried out when the next byte arrives; a status asked for in between already tells it.
    for (const CBootSession& session : m_sessions)
        if (session.Id() == id && now - session.LastTraffic() > m_idleTimeout) status.inBootLoader = false;
    return status;
}

std::vector<uint8_t> CBootLoaders::Firmware(uint8_t id) const {
    const auto found = m_firmware.find(id);
    return found == m_firmware.end() ? std::vector<uint8_t>{} : found->second;
}

}  // namespace sim
