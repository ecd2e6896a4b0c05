// The poll's tick on the timer thread and the hand-over of its readings to the GUI thread.
#include "debug/StatusPoll.h"

#include <algorithm>
#include <chrono>

#include "link/ExchangeOutcome.h"
#include "link/ServoUsb.h"

CStatusPoll::CStatusPoll(CServoUsb& usb) : m_usb(usb) {}

CStatusPoll::~CStatusPoll() {
    m_timer.Stop();
}

int CStatusPoll::Start(int id, int periodMs) {
    m_nPollId = id;
    m_recording.Restart(CCurveRecording::Clock::now());
    return m_timer.Start(std::chrono::milliseconds(periodMs), [this] { Tick(); });
}

void CStatusPoll::Stop() {
    m_timer.Stop();
    m_readings.Clear();
}

void CStatusPoll::Tick() {
    uint8_t* span = m_buffer.data() + Reg::STATUS_SPAN_START;
    // The read is one exchange under the link's bus lock, so the page's own commands never interleave.
    CExchangeOutcome outcome;
    const int read = m_usb.ReadData(static_cast<uint8_t>(m_nPollId.load()), Reg::STATUS_SPAN_START,
                                    Reg::STATUS_SPAN_LENGTH, span, &outcome);
    if (read == -1) return;
    CStatusReading reading;
    reading.alarms = outcome.error;
    reading.sample = DecodeStatusSpan(m_buffer.data(), m_usb.IsHighByteFirst() != 0);
    std::copy_n(span, Reg::STATUS_SPAN_LENGTH, reading.span.begin());
    m_recording.Append(CCurveRecording::Clock::now(), reading.sample);
    m_readings.Post(reading);
}

void CStatusPoll::TakeReadings() {
    const std::vector<CStatusReading> batch = m_readings.Take();
    if (!batch.empty()) emit readings(batch);
}
