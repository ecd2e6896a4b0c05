// Frames typed by hand from the protocol's worked examples, through the command layer into the recording,
// and the words the decoder finds for each instruction, status and outcome.
#include <gtest/gtest.h>

#include "link/BusRecorder.h"
#include "link/ControlTable.h"
#include "link/FrameDecoder.h"
#include "link/ServoUsb.h"
#include "tests/link/ScriptedTransport.h"

namespace {

using Bytes = std::vector<uint8_t>;

class FrameWords : public ::testing::Test {
protected:
    void SetUp() override {
        servo.SetRecorder(&recorder);
        servo.Image()[Reg::HIGH_BYTE_FIRST] = 1;
    }

    // "> FF FF ...  meaning" for every frame recorded since the last call.
    std::vector<std::string> Lines() {
        std::vector<CBusFrame> frames;
        m_next = recorder.CopySince(m_next, frames, 1000);
        std::vector<std::string> lines;
        for (const CBusFrame& frame : frames) {
            const std::string line = TraceLine(frame);
            lines.push_back(line.substr(line.find(' ') + 1));  // without the time
        }
        return lines;
    }

    CScriptedTransport transport;
    CServoUsb servo{&transport};
    CBusRecorder recorder{64};
    uint64_t m_next = 0;
};

TEST_F(FrameWords, InstructionsAndTheirStatus) {
    transport.Reply({0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC});
    servo.Ping(1);
    servo.Action();
    EXPECT_EQ(Lines(),
              (std::vector<std::string>{"> FF FF 01 02 01 FB  ping 1", "< FF FF 01 02 00 FC  status of 1: ok",
                                        "> FF FF FE 02 05 FA  action all"}));

    uint8_t data[26];
    servo.ReadData(1, 5, 26, data);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"> FF FF 01 04 02 05 1A D9  read 1: 26 bytes from 5 (ID)",
                                                 "< --  no answer from ID 1"}));

    // Goal position 512 high byte first, then the goal speed.
    transport.Reply({0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC});
    const uint8_t goal[4] = {0x02, 0x00, 0x00, 0x64};
    servo.WriteData(1, Reg::GOAL_POSITION, 4, goal, 2);
    servo.RegWrite(2, Reg::TORQUE_ENABLE, 1, goal + 1, 1);
    servo.Reset(0xFE);
    servo.BeginUpgrade(3);
    const uint8_t speed[2] = {0x00, 0x20};
    servo.SyncWrite(1, 3, Reg::GOAL_SPEED, 2, speed);
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "> FF FF 01 07 03 21 02 00 00 64 6D  write 1: GOAL_POSITION = 512, GOAL_SPEED = 100");
    EXPECT_EQ(lines[1], "< FF FF 01 02 00 FC  status of 1: ok");
    EXPECT_EQ(lines[2], "> FF FF 02 04 04 1F 00 D6  reg-write 2: TORQUE_ENABLE = 0");
    EXPECT_EQ(lines[3], "> FF FF FE 02 06 F9  reset all");
    EXPECT_EQ(lines[4], "> FF FF 03 02 08 F2  begin upgrade 3");
    EXPECT_EQ(lines[5].substr(lines[5].find("  ")), "  sync-write 2 bytes at 35 to IDs 1 2 3");
}

TEST_F(FrameWords, RegisterValuesAlarmsAndOtherErrorBits) {
    // The status span: position 512, speed 0, load 0, 7.4 V, 31 degrees; over-heat and over-load set.
    transport.Reply({0xFF, 0xFF, 0x01, 0x0A, 0x24, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4A, 0x1F, 0x65});
    uint8_t data[8];
    CExchangeOutcome outcome;
    EXPECT_EQ(servo.ReadData(1, Reg::PRESENT_POSITION, 8, data, &outcome), 8) << "alarms never fail a read";
    EXPECT_EQ(outcome.kind, EOutcome::Good);
    EXPECT_EQ(outcome.error, 0x24);
    EXPECT_EQ(Lines().at(1),
              "< FF FF 01 0A 24 02 00 00 00 00 00 4A 1F 65  status of 1: ok; PRESENT_POSITION = 512, "
              "PRESENT_SPEED = 0, PRESENT_LOAD = 0, PRESENT_VOLTAGE = 74, PRESENT_TEMPERATURE = 31; "
              "alarms: over-heat, over-load");

    EXPECT_EQ(AlarmText(0x01), "voltage") << "the bit alone cannot say which side";
    EXPECT_EQ(AlarmText(0x42), "bit1, instruction");
    EXPECT_EQ(AlarmText(0), "");
}

TEST_F(FrameWords, FailedStatusesSayWhatWentWrong) {
    const std::pair<Bytes, std::string> cases[] = {
        {{0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFD}, "answer from ID 1 failed its checksum"},
        {{0xFF, 0xFF, 0x05, 0x02, 0x00, 0xF8}, "answer from ID 5 while asking ID 1"},
        {{0xFF, 0xFF, 0x01}, "ID 1 answered 3 of 6 bytes"},
        {{0x55, 0xFF, 0x00, 0xAA, 0xFF, 0x13}, "garbage instead of an answer from ID 1 (no FF FF header)"},
        {{0xFF, 0xFF, 0x01, 0x03, 0x00, 0x00}, "answer from ID 1 has LEN 3 where 2 was expected"},
    };
    for (const auto& [reply, words] : cases) {
        transport.Reply(reply);
        CExchangeOutcome outcome;
        EXPECT_EQ(servo.Ping(1, nullptr, &outcome), 0);
        EXPECT_EQ(DescribeOutcome(outcome, 50), words);
        const auto lines = Lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1].substr(lines[1].find("  ") + 2), words) << "the monitor shows the same words";
    }
    CExchangeOutcome outcome;
    EXPECT_EQ(servo.Ping(3, nullptr, &outcome), 0);
    EXPECT_EQ(DescribeOutcome(outcome, 50), "no answer from ID 3 within 50 ms");
}

TEST_F(FrameWords, RequestsRefusedBeforeSending) {
    uint8_t data[254] = {};
    CExchangeOutcome outcome;
    EXPECT_EQ(servo.WriteData(1, 0, 253, data, 2, &outcome), 0);
    EXPECT_EQ(outcome.kind, EOutcome::RefusedLimits);
    EXPECT_EQ(servo.SyncWrite(3, 1, 0, 1, data, &outcome), 0);
    EXPECT_EQ(outcome.kind, EOutcome::RefusedLimits);
    transport.m_bOpen = false;
    EXPECT_EQ(servo.Ping(1, nullptr, &outcome), 0);
    EXPECT_EQ(outcome.kind, EOutcome::RefusedClosed);
    EXPECT_TRUE(transport.m_written.empty());
    EXPECT_EQ(Lines(),
              (std::vector<std::string>{
                  "> --  write 1: 253 bytes at 0: not sent: the request does not fit one frame",
                  "> --  sync-write 1 bytes at 0 to IDs: not sent: the request does not fit one frame",
                  "> --  ping 1: not sent: the port is closed"}));
}

TEST_F(FrameWords, BootLoaderTraffic) {
    const uint8_t entry[5] = {'B', 'X', 'L', 'D', '7'};
    transport.Reply({0x06});
    servo.RawTransfer(5, entry);
    uint8_t block[70] = {17, 238, 1};
    block[69] = 4;
    transport.Reply({0x15});
    EXPECT_EQ(servo.RawTransfer(70, block), 0x15);
    servo.RawTransfer(70, block);
    std::vector<std::string> meanings;
    for (const std::string& line : Lines()) meanings.push_back(line.substr(line.rfind("  ") + 2));
    EXPECT_EQ(meanings, (std::vector<std::string>{"boot loader entry code", "ACK", "block 17 (last)",
                                                  "block 17 NAK", "block 17 (last)", "block 17 no answer"}));
}

}  // namespace

TEST(FrameWordsRate, ALineRateChangeIsOneLineWithTheFramesTime) {
    CBusFrame frame{};
    frame.timeUs = 12345678;
    frame.rate = 500000;
    EXPECT_EQ(RateChangeLine(frame), "12.345678 -- line rate 500000 baud");
}
