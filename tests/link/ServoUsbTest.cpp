// The command layer over a scripted transport: exact request bytes and the status rules of each instruction.
#include <gtest/gtest.h>

#include "link/ControlTable.h"
#include "link/FrameDecoder.h"
#include "link/ServoUsb.h"
#include "tests/link/ScriptedTransport.h"

using Bytes = std::vector<uint8_t>;

class ServoCommands : public ::testing::Test {
protected:
    CScriptedTransport transport;
    CServoUsb servo{&transport};

    const Bytes& Sent(size_t i = 0) { return transport.m_written.at(i); }
};

TEST_F(ServoCommands, ConstructionState) {
    EXPECT_EQ(servo.MaxPosition(), 1023);
    EXPECT_EQ(servo.MaxSpeed(), 100);
    for (size_t i = 0; i < IMAGE_SIZE; ++i) EXPECT_EQ(servo.Image()[i], 0);
    EXPECT_EQ(servo.IsHighByteFirst(), 0);
    servo.Image()[Reg::HIGH_BYTE_FIRST] = 7;
    EXPECT_EQ(servo.IsHighByteFirst(), 1);
}

TEST_F(ServoCommands, PingReportsAnsweringId) {
    transport.Reply({0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC});
    uint8_t who = 0;
    EXPECT_EQ(servo.Ping(1, &who), 1);
    EXPECT_EQ(Sent(), (Bytes{0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB}));
    EXPECT_EQ(who, 1);

    transport.Reply({0xFF, 0xFF, 0x07, 0x02, 0x00, 0xF6});
    EXPECT_EQ(servo.Ping(0xFE, &who), 1);
    EXPECT_EQ(who, 7);
    EXPECT_EQ(servo.m_id, 7);

    who = 0;
    EXPECT_EQ(servo.Ping(2, &who), 0);  // nothing came
    EXPECT_EQ(who, 0);
}

TEST_F(ServoCommands, ReadDataCopiesOnlyGoodStatus) {
    transport.Reply({0xFF, 0xFF, 0x01, 0x04, 0x20, 0x12, 0x34, 0x94});
    uint8_t out[4] = {9, 9, 9, 9};
    EXPECT_EQ(servo.ReadData(1, 43, 2, out), 2);  // error bits never fail a status
    EXPECT_EQ(Sent(), (Bytes{0xFF, 0xFF, 0x01, 0x04, 0x02, 0x2B, 0x02, 0xCB}));
    EXPECT_EQ(out[0], 0x12);
    EXPECT_EQ(out[1], 0x34);
    EXPECT_EQ(out[2], 9);

    uint8_t untouched[2] = {7, 7};
    transport.Reply({0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC});  // wrong length
    EXPECT_EQ(servo.ReadData(1, 43, 2, untouched), -1);
    transport.Reply({0xFF, 0xFF, 0x01, 0x04, 0x00});  // short: the rest reads as zeros
    EXPECT_EQ(servo.ReadData(1, 43, 2, untouched), -1);
    EXPECT_EQ(servo.ReadData(1, 43, 2, untouched), -1);  // silence
    EXPECT_EQ(untouched[0], 7);
}

// A status cut off before its last bytes used to pass whenever the zeros standing in for them happened to
// make the checksum right, and a read then reported data that never came.
TEST_F(ServoCommands, CutShortStatusFailsEvenWhenZerosWouldCheck) {
    // ID 0xFD's bare status has checksum 0x00: without that byte it would check as complete.
    transport.Reply({0xFF, 0xFF, 0xFD, 0x02, 0x00});
    EXPECT_EQ(servo.Ping(0xFD), 0);
    transport.Reply({0xFF, 0xFF, 0xFD, 0x02, 0x00, 0x00});
    EXPECT_EQ(servo.Ping(0xFD), 1);

    // A two-byte read cut off after its first data byte: 0xFA balances the sum, the missing byte read 0.
    uint8_t out[2] = {7, 7};
    transport.Reply({0xFF, 0xFF, 0x01, 0x04, 0x00, 0xFA});
    EXPECT_EQ(servo.ReadData(1, 43, 2, out), -1);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(out[1], 7);
    transport.Reply({0xFF, 0xFF, 0x01, 0x04, 0x00, 0xFA, 0x00, 0x00});
    EXPECT_EQ(servo.ReadData(1, 43, 2, out), 2);
    EXPECT_EQ(out[0], 0xFA);

    // A write's status the same way; the record still shows the header that came.
    transport.Reply({0xFF, 0xFF, 0xFD, 0x02, 0x00});
    const uint8_t zero = 0;
    EXPECT_EQ(servo.WriteData(0xFD, Reg::LOCK, 1, &zero, 2), 0);
    EXPECT_EQ(servo.m_id, 0xFD);
}

// The status's LEN is read before the rest: one a few bytes longer than asked is taken whole, so none of it
// is left to spoil the next answer, and it still fails.
TEST_F(ServoCommands, ALongerStatusIsTakenWholeAndFails) {
    CExchangeOutcome outcome;
    transport.Reply({0xFF, 0xFF, 0x01, 0x04, 0x00, 0x12, 0x34, 0x94, 0x77});
    EXPECT_EQ(servo.Ping(1, nullptr, &outcome), 0);
    EXPECT_EQ(outcome.kind, EOutcome::WrongLength);
    EXPECT_EQ(outcome.gotBytes, 8);
    EXPECT_EQ(transport.m_arrived, (Bytes{0x77})) << "what follows the status is not taken";
}

TEST_F(ServoCommands, ReadOfNothingExpectsBareStatus) {
    transport.Reply({0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC});
    EXPECT_EQ(servo.ReadData(1, 5, 0, nullptr), 0);
}

TEST_F(ServoCommands, WriteAwaitsStatusOnlyWhenDue) {
    const uint8_t zero = 0;
    EXPECT_EQ(servo.WriteData(0xFE, Reg::LOCK, 1, &zero, 2), 1);
    EXPECT_EQ(servo.WriteData(3, Reg::LOCK, 1, &zero, 1), 1);
    EXPECT_EQ(servo.WriteData(3, Reg::LOCK, 1, &zero, 0), 1);
    EXPECT_EQ(transport.m_nReads, 0);

    EXPECT_EQ(servo.WriteData(1, Reg::LOCK, 1, &zero, 2), 0);  // status due, none came
    EXPECT_EQ(transport.m_nReads, 1);
    EXPECT_EQ(Sent(3), (Bytes{0xFF, 0xFF, 0x01, 0x04, 0x03, 0x25, 0x00, 0xD2}));

    transport.Reply({0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC});
    EXPECT_EQ(servo.RegWrite(1, Reg::LOCK, 1, &zero, 2), 1);
    EXPECT_EQ(Sent(4)[4], 0x04);
}

// Servos build the status of a write after the write: one that changes the ID may come from the new ID.
TEST_F(ServoCommands, AWriteThatChangesTheIdTakesTheStatusFromTheOldOrTheNewIdOnly) {
    CBusRecorder recorder(16);
    servo.SetRecorder(&recorder);
    const auto status = [](uint8_t id) {
        return Bytes{0xFF, 0xFF, id, 0x02, 0x00, static_cast<uint8_t>(~(id + 2))};
    };
    const uint8_t span[3] = {7, 0, 0};  // ID 7 at address 5, BAUD_RATE, RETURN_DELAY
    CExchangeOutcome outcome;
    transport.Reply(status(7));
    EXPECT_EQ(servo.WriteData(1, Reg::ID, 3, span, 2, &outcome), 1);
    EXPECT_EQ(outcome.kind, EOutcome::Good);
    EXPECT_EQ(outcome.answerId, 7);
    transport.Reply(status(1));
    EXPECT_EQ(servo.WriteData(1, Reg::ID, 3, span, 2, &outcome), 1);
    transport.Reply(status(3));
    EXPECT_EQ(servo.WriteData(1, Reg::ID, 3, span, 2, &outcome), 0);
    EXPECT_EQ(outcome.kind, EOutcome::OtherId);

    // A write that leaves the ID, or one held until ACTION, must be answered from the ID asked.
    const uint8_t same[1] = {1};
    transport.Reply(status(7));
    EXPECT_EQ(servo.WriteData(1, Reg::ID, 1, same, 2), 0);
    transport.Reply(status(7));
    EXPECT_EQ(servo.WriteData(1, Reg::P_COEFF, 1, span, 2), 0);
    transport.Reply(status(7));
    EXPECT_EQ(servo.RegWrite(1, Reg::ID, 3, span, 2), 0);

    std::vector<CBusFrame> frames;
    recorder.CopySince(0, frames, 16);
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(DescribeFrame(frames[1]), "status of 7: ok") << "shown as a good answer";
    servo.SetRecorder(nullptr);
}

TEST_F(ServoCommands, ResetAndActionAndUpgradeHandOff) {
    EXPECT_EQ(servo.Reset(0xFE), 1);
    EXPECT_EQ(transport.m_nReads, 0);
    EXPECT_EQ(servo.Reset(3), 0);  // waits whatever the return level; nobody answered
    EXPECT_EQ(Sent(1), (Bytes{0xFF, 0xFF, 0x03, 0x02, 0x06, 0xF4}));
    EXPECT_EQ(servo.Action(), 6);
    EXPECT_EQ(Sent(2), (Bytes{0xFF, 0xFF, 0xFE, 0x02, 0x05, 0xFA}));
    EXPECT_EQ(servo.BeginUpgrade(1), 6);
    EXPECT_EQ(Sent(3), (Bytes{0xFF, 0xFF, 0x01, 0x02, 0x08, 0xF4}));
    EXPECT_EQ(transport.m_nReads, 1);
}

TEST_F(ServoCommands, SyncWriteBlocks) {
    const uint8_t one = 1;
    EXPECT_EQ(servo.SyncWrite(1, 3, Reg::TORQUE_ENABLE, 1, &one), 14);
    EXPECT_EQ(Sent(),
              (Bytes{0xFF, 0xFF, 0xFE, 0x0A, 0x83, 0x1F, 0x01, 0x01, 0x01, 0x02, 0x01, 0x03, 0x01, 0x4B}));
    EXPECT_EQ(servo.SyncWrite(4, 4, Reg::TORQUE_ENABLE, 1, &one), 10);
    EXPECT_EQ(Sent(1).size(), 10u);
    EXPECT_EQ(servo.SyncWrite(1, 3, Reg::TORQUE_ENABLE, 0, nullptr), 11);
    EXPECT_EQ(Sent(2)[3], 3 + 4);
    EXPECT_EQ(transport.m_nReads, 0);
}

// Each servo its own goal: positions 300 and 700, high byte first as the tool sends words; then three
// servos in the order given (not sorted), each with its own torque byte.
TEST_F(ServoCommands, SyncWriteEachGivesEveryServoItsOwnBytes) {
    const uint8_t ids[] = {1, 2};
    const uint8_t goals[] = {0x01, 0x2C, 0x02, 0xBC};
    EXPECT_EQ(servo.SyncWriteEach(Reg::GOAL_POSITION, 2, ids, 2, goals), 14);
    EXPECT_EQ(Sent(),
              (Bytes{0xFF, 0xFF, 0xFE, 0x0A, 0x83, 0x21, 0x02, 0x01, 0x01, 0x2C, 0x02, 0x02, 0xBC, 0x63}));
    const uint8_t unordered[] = {7, 3, 12};
    const uint8_t torque[] = {1, 0, 1};
    EXPECT_EQ(servo.SyncWriteEach(Reg::TORQUE_ENABLE, 1, unordered, 3, torque), 14);
    EXPECT_EQ(Sent(1),
              (Bytes{0xFF, 0xFF, 0xFE, 0x0A, 0x83, 0x1F, 0x01, 0x07, 0x01, 0x03, 0x00, 0x0C, 0x01, 0x3C}));
    EXPECT_EQ(transport.m_nReads, 0) << "a sync write is never answered";

    // No ID, or one block too many for LEN's byte: nothing goes out. 83 two-byte blocks still fit.
    std::vector<uint8_t> many(84), data(2 * 84);
    for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(servo.SyncWriteEach(Reg::GOAL_POSITION, 2, many.data(), 0, data.data()), 0);
    EXPECT_EQ(servo.SyncWriteEach(Reg::GOAL_POSITION, 2, many.data(), 84, data.data()), 0);
    EXPECT_EQ(transport.m_written.size(), 2u);
    EXPECT_EQ(servo.SyncWriteEach(Reg::GOAL_POSITION, 2, many.data(), 83, data.data()), 257);
    EXPECT_EQ(Sent(2)[3], 253);
}

TEST_F(ServoCommands, OutOfLimitRequestsSendNothing) {
    uint8_t data[256] = {};
    EXPECT_EQ(servo.SyncWrite(5, 3, 31, 1, data), 0);
    EXPECT_EQ(servo.SyncWrite(0, 253, 33, 4, data), 0);  // LEN would exceed 255
    EXPECT_EQ(servo.WriteData(1, 5, 253, data, 2), 0);
    EXPECT_EQ(servo.RegWrite(1, 5, 255, data, 2), 0);
    EXPECT_EQ(servo.ReadData(1, 0, 254, data), -1);
    EXPECT_TRUE(transport.m_written.empty());

    // The largest requests that fit still go out.
    EXPECT_EQ(servo.WriteData(0xFE, 0, 252, data, 2), 1);
    EXPECT_EQ(Sent().size(), 259u);
    EXPECT_EQ(servo.SyncWrite(0, 49, 33, 4, data), 258);
    EXPECT_EQ(Sent(1)[3], 254);
}

TEST_F(ServoCommands, RawTransferReturnsTheOneByte) {
    const uint8_t code[5] = {'A', 'B', 'C', 'D', 'E'};
    transport.Reply({0x00});
    EXPECT_EQ(servo.RawTransfer(5, code), 0);
    EXPECT_EQ(Sent(), (Bytes{'A', 'B', 'C', 'D', 'E'}));
    transport.Reply({0x06, 0x07});
    EXPECT_EQ(servo.RawTransfer(5, code), 6);
    EXPECT_EQ(servo.RawTransfer(5, code), -1);
}

TEST_F(ServoCommands, ClosedPortWritesNothing) {
    transport.m_bOpen = false;
    const uint8_t one = 1;
    EXPECT_EQ(servo.Ping(1), 0);
    EXPECT_EQ(servo.ReadData(1, 5, 1, nullptr), -1);
    EXPECT_EQ(servo.WriteData(3, 31, 1, &one, 1), 1);
    EXPECT_EQ(servo.Action(), 0);
    EXPECT_EQ(servo.SyncWrite(1, 2, 31, 1, &one), 0);
}

TEST_F(ServoCommands, ConnectAsksTheTransport) {
    EXPECT_EQ(servo.Connect(), 1);
    transport.m_bDevicePresent = false;
    EXPECT_EQ(servo.Connect(), 0);
}
