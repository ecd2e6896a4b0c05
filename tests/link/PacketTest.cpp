// The frame codec against frames typed from the protocol's worked examples.
#include <gtest/gtest.h>

#include <vector>

#include "link/Packet.h"

using Bytes = std::vector<uint8_t>;

static Bytes Build(uint8_t id, uint8_t instruction, const Bytes& params) {
    uint8_t frame[kFrameBufferSize] = {};
    CPacket::BuildHeader(id, static_cast<uint8_t>(params.size() + 2), instruction, frame);
    for (size_t i = 0; i < params.size(); ++i) frame[5 + i] = params[i];
    EXPECT_EQ(CPacket::AppendChecksum(frame), 1);
    return Bytes(frame, frame + params.size() + 6);
}

TEST(PacketBuild, WorkedRequestFrames) {
    EXPECT_EQ(Build(1, 0x01, {}), (Bytes{0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB}));
    EXPECT_EQ(Build(0xFE, 0x05, {}), (Bytes{0xFF, 0xFF, 0xFE, 0x02, 0x05, 0xFA}));
    EXPECT_EQ(Build(1, 0x02, {5, 26}), (Bytes{0xFF, 0xFF, 0x01, 0x04, 0x02, 0x05, 0x1A, 0xD9}));
    EXPECT_EQ(Build(1, 0x03, {37, 0}), (Bytes{0xFF, 0xFF, 0x01, 0x04, 0x03, 0x25, 0x00, 0xD2}));
}

TEST(PacketBuild, ChecksumRefusesLengthBelowTwo) {
    uint8_t frame[16] = {0xFF, 0xFF, 1, 1, 1, 0x77, 0x77};
    EXPECT_EQ(CPacket::AppendChecksum(frame), 0);
    EXPECT_EQ(frame[4], 1);
    EXPECT_EQ(frame[5], 0x77);
    frame[3] = 0;
    EXPECT_EQ(CPacket::AppendChecksum(frame), 0);
}

TEST(PacketBuild, HeaderLeavesRecordAlone) {
    CPacket packet;
    uint8_t frame[8] = {};
    packet.BuildHeader(9, 2, 1, frame);
    EXPECT_EQ(packet.m_header[0], 0xFF);
    EXPECT_EQ(packet.m_id, 0);
}

class PacketCheck : public ::testing::Test {
protected:
    // Checks a reply the way the command layer does: judged once, then kept as the record.
    int Check(Bytes frame, uint8_t expectedId, uint8_t expectedLen) {
        const int got = static_cast<int>(frame.size());
        frame.resize(kFrameBufferSize, 0);
        return packet.TakeStatus(frame.data(), got, JudgeStatus(frame.data(), got, expectedId, expectedLen));
    }
    CPacket packet;
};

TEST_F(PacketCheck, GoodStatusWithoutParameters) {
    EXPECT_EQ(Check({0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC}, 1, 2), 1);
    EXPECT_EQ(packet.m_id, 1);
    EXPECT_EQ(packet.m_length, 0);
    EXPECT_EQ(packet.m_checksum, 0xFC);
}

TEST_F(PacketCheck, HeaderFailuresKeepRawLengthAndSkipBody) {
    packet.m_params[0] = 0x55;
    // Right checksum, but a status without parameters where two were expected.
    EXPECT_EQ(Check({0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC}, 1, 4), 0);
    EXPECT_EQ(packet.m_length, 2);
    EXPECT_EQ(Check({0xFF, 0xFE, 0x01, 0x02, 0x00, 0xFC}, 1, 2), 0);
    EXPECT_EQ(packet.m_header[1], 0xFE);
    EXPECT_EQ(Check({0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC}, 3, 2), 0);
    EXPECT_EQ(packet.m_params[0], 0x55);
}

TEST_F(PacketCheck, BroadcastExpectationAcceptsAnyIdAndReportsIt) {
    const Bytes fromSeven{0xFF, 0xFF, 0x07, 0x02, 0x00, 0xF6};
    EXPECT_EQ(Check(fromSeven, 0xFE, 2), 1);
    EXPECT_EQ(packet.m_id, 7);
    EXPECT_EQ(Check(fromSeven, 3, 2), 0);
}

TEST_F(PacketCheck, ErrorByteCountsOnlyThroughTheChecksum) {
    EXPECT_EQ(Check({0xFF, 0xFF, 0x01, 0x02, 0x20, 0xDC}, 1, 2), 1);
    EXPECT_EQ(packet.m_error, 0x20);
    EXPECT_EQ(Check({0xFF, 0xFF, 0x01, 0x02, 0x21, 0xDC}, 1, 2), 0);
}

TEST_F(PacketCheck, BadChecksumStillUnpacksBody) {
    EXPECT_EQ(Check({0xFF, 0xFF, 0x01, 0x04, 0x00, 0x12, 0x34, 0x00}, 1, 4), 0);
    EXPECT_EQ(packet.m_params[0], 0x12);
    EXPECT_EQ(packet.m_params[1], 0x34);
    EXPECT_EQ(packet.m_checksum, 0x00);
}

TEST_F(PacketCheck, TrailingBytesIgnoredAndEmptyBodyKeepsParams) {
    packet.m_params[0] = 0xAB;
    EXPECT_EQ(Check({0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC, 0x99, 0x98}, 1, 2), 1);
    EXPECT_EQ(packet.m_params[0], 0xAB);
}

// The reader takes a status's header first and then the bytes its LEN calls for: the one it asked for, or
// a few more from the very servo asked (taken whole, so they never spoil the next answer).
TEST(PacketRead, BodyLengthFollowsLenOnlyForAStatusOfTheServoAsked) {
    const uint8_t asked[4] = {0xFF, 0xFF, 0x03, 0x04};
    EXPECT_EQ(StatusBodyLength(asked, 3, 4), 4);
    const uint8_t longer[4] = {0xFF, 0xFF, 0x03, 0x08};
    EXPECT_EQ(StatusBodyLength(longer, 3, 4), 8);
    EXPECT_EQ(StatusBodyLength(longer, 5, 4), 4) << "another servo's status is not waited for";
    EXPECT_EQ(StatusBodyLength(longer, 5, 4, 3), 8) << "unless the write gave it that ID";
    EXPECT_EQ(StatusBodyLength(longer, BROADCAST_ID, 4), 4);
    const uint8_t runTogether[4] = {0xFF, 0xFF, 0x03, 0x09};
    EXPECT_EQ(StatusBodyLength(runTogether, 3, 4), 4);
    const uint8_t shorter[4] = {0xFF, 0xFF, 0x03, 0x02};
    EXPECT_EQ(StatusBodyLength(shorter, 3, 4), 4);
    const uint8_t noise[4] = {0xFF, 0x00, 0x03, 0x06};
    EXPECT_EQ(StatusBodyLength(noise, 3, 4), 4);
}

TEST(PacketRead, JudgeNamesTheFirstFaultOfWhatCame) {
    const Bytes good{0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC};
    EXPECT_EQ(JudgeStatus(good.data(), 6, 1, 2), EStatusVerdict::Good);
    EXPECT_EQ(JudgeStatus(good.data(), 0, 1, 2), EStatusVerdict::Nothing);
    EXPECT_EQ(JudgeStatus(good.data(), 5, 1, 2), EStatusVerdict::CutShort);
    EXPECT_EQ(JudgeStatus(good.data(), 6, 2, 2), EStatusVerdict::OtherId);
    EXPECT_EQ(JudgeStatus(good.data(), 6, 2, 2, 1), EStatusVerdict::Good);
    EXPECT_EQ(JudgeStatus(good.data(), 6, 1, 4), EStatusVerdict::WrongLength);
    EXPECT_EQ(JudgeStatus(good.data(), 2, 1, 4), EStatusVerdict::CutShort) << "LEN has not come yet";
    const Bytes bad{0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFD};
    EXPECT_EQ(JudgeStatus(bad.data(), 6, 1, 2), EStatusVerdict::BadChecksum);
    const Bytes noise{0xFF, 0x7F, 0x01, 0x02, 0x00, 0xFC};
    EXPECT_EQ(JudgeStatus(noise.data(), 6, 1, 2), EStatusVerdict::BadHeader);
}
