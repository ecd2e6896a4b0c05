// Scheduling answers on the shared return line and decoding the line as the host's receiver would.
#include "sim/ReturnLine.h"

#include <algorithm>

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

// The offset of `halfBits` half bit times at `rate`, exact to the nanosecond over any frame length. Rounded
// up, so the moment a bit starts already lies within that bit when it is turned back into a bit index.
std::chrono::nanoseconds HalfBits(std::size_t halfBits, uint32_t rate) {
    return std::chrono::nanoseconds((static_cast<int64_t>(halfBits) * 500000000LL + rate - 1) / rate);
}

}  // namespace

std::chrono::nanoseconds WireTime(std::size_t bytes, uint32_t rate) {
    return rate == 0 ? std::chrono::nanoseconds(0) : HalfBits(2 * BITS_PER_BYTE * bytes, rate);
}

Clock::time_point CReturnLine::CBurst::End() const {
    return start + WireTime(bytes.size(), rate);
}

Clock::time_point CReturnLine::CBurst::BitStart(std::size_t bit) const {
    return start + HalfBits(2 * bit, rate);
}

bool CReturnLine::CBurst::Level(Clock::time_point t) const {
    const auto offset = std::chrono::duration_cast<std::chrono::nanoseconds>(t - start).count();
    const auto bit = static_cast<std::size_t>(offset * static_cast<int64_t>(rate) / 1000000000LL);
    const std::size_t inByte = bit % BITS_PER_BYTE;
    if (inByte == 0) return false;                 // start bit
    if (inByte == BITS_PER_BYTE - 1) return true;  // stop bit
    return (bytes[bit / BITS_PER_BYTE] >> (inByte - 1)) & 1;
}

Clock::time_point CReturnLine::Send(int sender, Clock::time_point start, uint32_t rate,
                                    const std::vector<uint8_t>& bytes) {
    if (const auto busy = m_busyUntil.find(sender); busy != m_busyUntil.end())
        start = std::max(start, busy->second);
    if (bytes.empty() || rate == 0) return start;
    CBurst burst{start, rate, bytes};
    const auto end = burst.End();
    m_busyUntil[sender] = end;
    m_bursts.push_back(std::move(burst));
    return end;
}

bool CReturnLine::LineLevel(Clock::time_point t) const {
    for (const CBurst& b : m_bursts)
        if (t >= b.start && t < b.End() && !b.Level(t)) return false;
    return true;
}

std::optional<CReturnLine::CDecoded> CReturnLine::NextByte(uint32_t hostRate) const {
    Clock::time_point hunt = m_cursor;
    for (;;) {
        // The first moment from `hunt` on when some sender pulls the line low.
        std::optional<Clock::time_point> edge;
        const CBurst* owner = nullptr;
        std::size_t ownerBit = 0;
        for (const CBurst& b : m_bursts) {
            const Clock::time_point from = std::max(hunt, b.start);
            if (from >= b.End()) continue;
            const auto offset = std::chrono::duration_cast<std::chrono::nanoseconds>(from - b.start).count();
            const std::size_t total = b.bytes.size() * BITS_PER_BYTE;
            for (auto bit = static_cast<std::size_t>(offset * static_cast<int64_t>(b.rate) / 1000000000LL);
                 bit < total; ++bit) {
                const Clock::time_point at = std::max(b.BitStart(bit), from);
                if (b.Level(at)) continue;
                if (!edge || at < *edge) {
                    edge = at;
                    owner = &b;
                    ownerBit = bit;
                }
                break;
            }
        }
        if (!edge) return std::nullopt;
        const uint32_t rate = hostRate != 0 ? hostRate : owner->rate;
        // Offsets from the edge in half bits; on the sender's own bit grid where the edge lies on it and the
        // rates agree, so a clean byte ends exactly when its sender's stop bit does.
        const bool onGrid = rate == owner->rate && *edge == owner->BitStart(ownerBit);
        auto at = [&](std::size_t halfBits) {
            return onGrid ? owner->start + HalfBits(2 * ownerBit + halfBits, rate)
                          : *edge + HalfBits(halfBits, rate);
        };
        // Still low in the middle of the start bit, or it was a glitch: hunt on from there.
        if (LineLevel(at(1))) {
            hunt = at(1);
            continue;
        }
        uint8_t byte = 0;
        for (std::size_t bit = 0; bit < 8; ++bit)
            if (LineLevel(at(2 * bit + 3))) byte |= static_cast<uint8_t>(1u << bit);
        // A stop bit found low is a framing error; the receiver hands the byte on all the same, as a raw
        // serial port does.
        return CDecoded{byte, *edge, at(2 * BITS_PER_BYTE), at(2 * BITS_PER_BYTE - 1)};
    }
}

std::vector<uint8_t> CReturnLine::Receive(Clock::time_point now, uint32_t hostRate) {
    std::vector<uint8_t> received;
    for (auto next = NextByte(hostRate); next && next->ready + m_latency <= now; next = NextByte(hostRate)) {
        received.push_back(next->byte);
        m_cursor = next->resume;
        std::erase_if(m_bursts, [&](const CBurst& b) { return b.End() <= m_cursor; });
    }
    return received;
}

std::optional<Clock::time_point> CReturnLine::NextArrival(uint32_t hostRate) const {
    const auto next = NextByte(hostRate);
    if (!next) return std::nullopt;
    return next->ready + m_latency;
}

}  // namespace sim
