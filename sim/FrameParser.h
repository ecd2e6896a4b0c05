// Cuts a byte stream from the host into checksum-correct request frames, resynchronising after noise.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

namespace sim {

// Not thread-safe: one parser belongs to the one thread that reads the line.
class CFrameParser {
public:
    using Clock = std::chrono::steady_clock;

    // A servo gives up on a frame whose bytes stop arriving; this is how long the line may stay quiet
    // in mid-frame before the partial frame is dropped.
    static constexpr std::chrono::milliseconds kDefaultGap{5};

    explicit CFrameParser(Clock::duration gap = kDefaultGap) : m_gap(gap) {}

    // Takes the bytes read at `now` and returns the frames they complete, oldest first. Bytes that cannot
    // start a frame, frames with a bad checksum and a partial frame older than the gap are dropped; after a
    // bad checksum the search restarts one byte further on, so a good frame hidden behind noise is found.
    std::vector<std::vector<uint8_t>> Feed(std::span<const uint8_t> bytes, Clock::time_point now);

    // Bytes held for a frame not complete yet.
    std::size_t Pending() const { return m_pending.size(); }

private:
    std::vector<uint8_t> m_pending;
    Clock::time_point m_lastByte{};
    Clock::duration m_gap;
};

}  // namespace sim
