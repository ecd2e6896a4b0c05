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
    // Checks a reply the way the command layer does.
    int Check(Bytes frame, uint8_t expectedId, uint8_t expectedLen) {
        frame.resize(kFrameBufferSize, 0);
        if (!packet.CheckReplyHeader(frame.data(), expectedId, expectedLen)) return 0;
        return packet.ParseReplyBody(frame.data());
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
