// The ROBOT page's status poll: reads one servo's status span on a timer thread into a buffer of its own
// and hands each decoded reading to the GUI thread, which alone writes the control-table image.
#pragma once

#include <QObject>
#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "debug/CurveRecording.h"
#include "debug/PeriodicTimer.h"
#include "link/ControlTable.h"
#include "link/StatusSpan.h"
#include "ui/GuiHandOff.h"

class CServoUsb;

// One reading: the decoded values, the alarm bits of its status, and the span's bytes in host order, for
// the GUI thread to put into the image.
struct CStatusReading {
    CStatusSample sample;
    uint8_t alarms = 0;
    std::array<uint8_t, Reg::STATUS_SPAN_LENGTH> span{};
};

// Thread rules: Start, Stop, SetServoId and Recording's Restart are for the GUI thread, where `readings`
// is emitted. The tick runs on the timer's thread and only reads the link and posts; Timer() counts may
// be read from any thread.
class CStatusPoll : public QObject {
    Q_OBJECT
public:
    explicit CStatusPoll(CServoUsb& usb);
    // Stops a running poll before anything it uses goes.
    ~CStatusPoll() override;

    // Reads servo id every period ms from one period on; the timer's id, or 0 when it could not start.
    int Start(int id, int periodMs);
    // Returns once no tick runs any more (within one link timeout) and drops the readings not yet taken.
    void Stop();
    // The servo the next tick reads.
    void SetServoId(int id) { m_nPollId = id; }
    bool IsRunning() const { return m_timer.IsRunning(); }
    const CPeriodicTimer& Timer() const { return m_timer; }
    // Everything read since Start, appended by the ticks.
    const CCurveRecording& Recording() const { return m_recording; }

signals:
    // The readings taken since the last batch, oldest first; never empty.
    void readings(const std::vector<CStatusReading>& batch);

private:
    // Timer thread: one exchange under the link's bus lock, decoded in the poll's own buffer.
    void Tick();
    Q_INVOKABLE void TakeReadings();

    CServoUsb& m_usb;
    CPeriodicTimer m_timer;
    // Written by the GUI thread, read by each tick.
    std::atomic<int> m_nPollId{0};
    // The timer thread's buffer, laid out as the image so the span decodes at its own addresses.
    std::array<uint8_t, IMAGE_SIZE> m_buffer{};
    CCurveRecording m_recording;
    // Readings the GUI thread has not taken yet; beyond 1000 the oldest are dropped.
    CGuiHandOff<CStatusReading> m_readings{this, HAND_OFF_METHOD(CStatusPoll, TakeReadings), 1000};
};
