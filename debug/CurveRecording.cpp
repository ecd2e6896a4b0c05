// The poll's recording in shared, immutable blocks, and its CSV text.
#include "debug/CurveRecording.h"

#include <algorithm>

#include "link/StatusCsv.h"

CCurveRecording::CCurveRecording(std::size_t capacity, std::size_t blockSize)
    : m_nCapacity(std::max<std::size_t>(capacity, 1)), m_nBlockSize(std::max<std::size_t>(blockSize, 1)) {}

void CCurveRecording::Restart(Clock::time_point start) {
    const std::lock_guard<std::mutex> lock(m_mx);
    m_tStart = start;
    m_full.clear();
    m_current.reset();
}

void CCurveRecording::Append(Clock::time_point when, const CStatusSample& sample) {
    const std::lock_guard<std::mutex> lock(m_mx);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when - m_tStart);
    if (m_current && m_current->size() >= m_nBlockSize) m_full.push_back(std::move(m_current));
    if (!m_current) {
        m_current = std::make_shared<Block>();
        m_current->reserve(m_nBlockSize);
    }
    m_current->push_back({ms.count(), sample});
    // Whole blocks go, so the recording holds between capacity - block size and capacity readings.
    while (!m_full.empty() && m_full.size() * m_nBlockSize + m_current->size() > m_nCapacity)
        m_full.pop_front();
}

std::vector<CTimedSample> CCurveRecording::Snapshot() const {
    std::deque<std::shared_ptr<const Block>> full;
    Block current;
    {
        const std::lock_guard<std::mutex> lock(m_mx);
        full = m_full;
        if (m_current) current = *m_current;
    }
    std::vector<CTimedSample> samples;
    samples.reserve(full.size() * m_nBlockSize + current.size());
    for (const auto& block : full) samples.insert(samples.end(), block->begin(), block->end());
    samples.insert(samples.end(), current.begin(), current.end());
    return samples;
}

std::size_t CCurveRecording::Size() const {
    const std::lock_guard<std::mutex> lock(m_mx);
    return m_full.size() * m_nBlockSize + (m_current ? m_current->size() : 0);
}

std::string CurveCsv(const std::vector<CTimedSample>& samples) {
    std::string text = STATUS_CSV_HEADER;
    text += '\n';
    text.reserve(text.size() + samples.size() * 32);
    for (const CTimedSample& s : samples) {
        text += StatusCsvRow(s.timeMs, s.sample);
        text += '\n';
    }
    return text;
}
