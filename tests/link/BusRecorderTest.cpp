// The recorder's ring: it wraps keeping the newest frames in order, a reader that fell behind resumes at the
// oldest frame still held, and an alarm condition is reported once per change.
#include <gtest/gtest.h>

#include "link/BusRecorder.h"
#include "link/ServoUsb.h"
#include "tests/link/ScriptedTransport.h"

namespace {

TEST(BusRecorderRing, WrapsKeepingTheNewestFramesInOrder) {
    CScriptedTransport transport;
    CServoUsb servo(&transport);
    CBusRecorder recorder(7);
    servo.SetRecorder(&recorder);
    for (int id = 0; id < 20; ++id) {
        transport.Reply({0xFF, 0xFF, static_cast<uint8_t>(id), 0x02, 0x00, static_cast<uint8_t>(~(id + 2))});
        ASSERT_EQ(servo.Ping(static_cast<uint8_t>(id)), 1);
    }
    EXPECT_EQ(recorder.NextSeq(), 40u);

    std::vector<CBusFrame> frames;
    EXPECT_EQ(recorder.CopySince(0, frames, 100), 40u) << "a reader that fell behind skips what was dropped";
    ASSERT_EQ(frames.size(), 7u);
    for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i].seq, 33 + i);
    // The newest frame is the last status: ID 19's.
    EXPECT_EQ(frames.back().direction, EDirection::Received);
    EXPECT_EQ(frames.back().bytes[2], 19);
    EXPECT_EQ(frames.front().bytes[2], 16) << "seq 33 is the status of ping 16";
    for (std::size_t i = 1; i < frames.size(); ++i) EXPECT_GE(frames[i].timeUs, frames[i - 1].timeUs);

    frames.clear();
    EXPECT_EQ(recorder.CopySince(38, frames, 1), 39u) << "at most max frames";
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].seq, 38u);
    frames.clear();
    EXPECT_EQ(recorder.CopySince(40, frames, 10), 40u);
    EXPECT_TRUE(frames.empty());
}

TEST(BusRecorderRing, AnAlarmIsReportedOncePerChange) {
    CScriptedTransport transport;
    CServoUsb servo(&transport);
    CBusRecorder recorder(16);
    servo.SetRecorder(&recorder);
    CBusRecorder::CAlarm alarm;
    auto ping = [&](uint8_t error) {
        transport.Reply({0xFF, 0xFF, 0x01, 0x02, error, static_cast<uint8_t>(~(0x03 + error))});
        ASSERT_EQ(servo.Ping(1), 1);
    };
    ping(0);
    EXPECT_FALSE(recorder.TakeAlarmChange(&alarm));
    ping(0x04);
    ping(0x04);
    ASSERT_TRUE(recorder.TakeAlarmChange(&alarm));
    EXPECT_EQ(alarm.id, 1);
    EXPECT_EQ(alarm.error, 0x04);
    ping(0x04);
    EXPECT_FALSE(recorder.TakeAlarmChange(&alarm)) << "a condition that persists is not news";
    ping(0x24);
    ASSERT_TRUE(recorder.TakeAlarmChange(&alarm));
    EXPECT_EQ(alarm.error, 0x24);
    ping(0);
    ASSERT_TRUE(recorder.TakeAlarmChange(&alarm));
    EXPECT_EQ(alarm.error, 0) << "cleared";
    EXPECT_FALSE(recorder.TakeAlarmChange(&alarm));
}

}  // namespace
