// Everything the status poll has read since "Draw", with its time, kept for export as CSV.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/StatusSpan.h"

struct CTimedSample {
    int64_t timeMs = 0;  // since the recording began
    CStatusSample sample;
};

// An hour of readings at the shortest usual cycle of 10 ms; a faster poll keeps a shorter span.
inline constexpr std::size_t kMaxRecordedSamples = 60 * 60 * 100;

// Readings are kept in blocks; a full block never changes again, so a snapshot shares the full blocks and
// copies only the one being filled, and the poll is never held up by an export, however long the recording.
// When more than the capacity would be held the oldest whole block goes.
//
// Thread rules: every member may be called from any thread. Append is meant for the poll's thread,
// Restart and Snapshot for the GUI thread.
class CCurveRecording {
public:
    using Clock = std::chrono::steady_clock;

    explicit CCurveRecording(std::size_t capacity = kMaxRecordedSamples, std::size_t blockSize = 4096);

    // Empties the recording; times count from `start` on.
    void Restart(Clock::time_point start);
    void Append(Clock::time_point when, const CStatusSample& sample);
    // The readings held, oldest first.
    std::vector<CTimedSample> Snapshot() const;
    std::size_t Size() const;

private:
    using Block = std::vector<CTimedSample>;

    const std::size_t m_nCapacity;
    const std::size_t m_nBlockSize;
    mutable std::mutex m_mx;  // guards everything below
    Clock::time_point m_tStart;
    std::deque<std::shared_ptr<const Block>> m_full;
    std::shared_ptr<Block> m_current;
};

// The CSV file of a snapshot: the header line, then one row per reading, each ending in a line feed.
std::string CurveCsv(const std::vector<CTimedSample>& samples);
