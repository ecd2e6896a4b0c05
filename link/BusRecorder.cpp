// The ring is written under one short lock: a frame copy, no allocation, so the exchange does not slow.
#include "link/BusRecorder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

CBusRecorder::CBusRecorder(std::size_t capacity)
    : m_nCapacity(capacity < 1 ? 1 : capacity),
      // calloc hands out fresh zero pages: the part of the ring the recording never reaches costs nothing.
      m_ring(static_cast<CBusFrame*>(std::calloc(m_nCapacity, sizeof(CBusFrame)))),
      m_tStart(Clock::now()) {
    if (!m_ring) throw std::bad_alloc();
}

void CBusRecorder::CFree::operator()(CBusFrame* ring) const {
    std::free(ring);
}

void CBusRecorder::SetListener(std::function<void(const CBusFrame&)> listener) {
    const std::lock_guard<std::mutex> lock(m_mxRing);
    m_listener = std::move(listener);
}

void CBusRecorder::Record(CBusFrame& frame) {
    frame.timeUs = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - m_tStart).count();
    if (frame.direction == EDirection::Received && frame.outcome.kind == EOutcome::Good) {
        // A status without alarms clears the condition of its ID, so the same alarm coming back is new.
        const uint32_t state = static_cast<uint32_t>(frame.outcome.answerId) << 8 | frame.outcome.error;
        if (frame.outcome.error != 0 || (m_nAlarmState.load() >> 8) == frame.outcome.answerId)
            m_nAlarmState.store(state);
    }
    std::function<void(const CBusFrame&)> listener;
    {
        const std::lock_guard<std::mutex> lock(m_mxRing);
        frame.seq = m_nNextSeq++;
        CBusFrame& slot = m_ring[frame.seq % m_nCapacity];
        // Only the bytes that came are copied; the rest of the slot is never read.
        std::memcpy(&slot, &frame, offsetof(CBusFrame, bytes) + static_cast<std::size_t>(frame.KeptBytes()));
        if (m_listener) listener = m_listener;
    }
    if (listener) listener(frame);
}

uint64_t CBusRecorder::CopySince(uint64_t from, std::vector<CBusFrame>& out, std::size_t max) const {
    const std::lock_guard<std::mutex> lock(m_mxRing);
    const uint64_t oldest = m_nNextSeq > m_nCapacity ? m_nNextSeq - m_nCapacity : 0;
    uint64_t seq = std::max(from, oldest);
    for (; seq < m_nNextSeq && max > 0; ++seq, --max) {
        const CBusFrame& slot = m_ring[seq % m_nCapacity];
        // Bytes past the kept count were never written: the copy has zeros there.
        out.emplace_back();
        std::memcpy(&out.back(), &slot,
                    offsetof(CBusFrame, bytes) + static_cast<std::size_t>(slot.KeptBytes()));
    }
    return seq;
}

uint64_t CBusRecorder::NextSeq() const {
    const std::lock_guard<std::mutex> lock(m_mxRing);
    return m_nNextSeq;
}

bool CBusRecorder::TakeAlarmChange(CAlarm* alarm) {
    const uint32_t state = m_nAlarmState.load();
    if (state == m_nAlarmTaken.exchange(state)) return false;
    alarm->id = static_cast<uint8_t>(state >> 8);
    alarm->error = static_cast<uint8_t>(state & 0xFF);
    return true;
}
