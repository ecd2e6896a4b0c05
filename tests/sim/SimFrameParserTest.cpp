// Frame cutting and resynchronisation of the simulator's request parser.
#include <gtest/gtest.h>

#include "sim/FrameParser.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const Bytes kPing1 = {0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB};
const Bytes kRead1 = {0xFF, 0xFF, 0x01, 0x04, 0x02, 0x05, 0x1A, 0xD9};
const Bytes kAction = {0xFF, 0xFF, 0xFE, 0x02, 0x05, 0xFA};

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(SimFrameParser, CutsBackToBackFramesFromOneChunk) {
    sim::CFrameParser parser;
    const auto frames = parser.Feed(Concat({kPing1, kRead1, kAction}), Clock::now());
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0], kPing1);
    EXPECT_EQ(frames[1], kRead1);
    EXPECT_EQ(frames[2], kAction);
    EXPECT_EQ(parser.Pending(), 0u);
}

TEST(SimFrameParser, JoinsAFrameSplitAcrossReads) {
    sim::CFrameParser parser;
    const auto t = Clock::now();
    for (std::size_t i = 0; i + 1 < kRead1.size(); ++i) {
        EXPECT_TRUE(parser.Feed(std::span(&kRead1[i], 1), t + 1ms * i).empty()) << "byte " << i;
    }
    const auto frames = parser.Feed(std::span(&kRead1.back(), 1), t + 7ms);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], kRead1);
}

TEST(SimFrameParser, DropsBadChecksumsAndFindsTheFrameBehindThem) {
    sim::CFrameParser parser;
    // A torn frame whose LEN swallows the start of the good one; the checksum fails and the search resumes.
    const Bytes torn = {0xFF, 0xFF, 0x01, 0x04, 0x02};
    auto frames = parser.Feed(Concat({torn, kPing1}), Clock::now());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], kPing1);

    Bytes corrupt = kPing1;
    corrupt.back() ^= 0x01;
    EXPECT_TRUE(parser.Feed(corrupt, Clock::now()).empty());
}

TEST(SimFrameParser, RejectsLengthsTooShortForAnInstruction) {
    sim::CFrameParser parser;
    const auto frames = parser.Feed(Concat({{0xFF, 0xFF, 0x01, 0x01, 0xFD}, kPing1}), Clock::now());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], kPing1);
}

TEST(SimFrameParser, ForgetsAPartialFrameAfterTheLineWentQuiet) {
    // LEN 0x20 would swallow the next 32 bytes if the partial frame were kept.
    const Bytes partial = {0xFF, 0xFF, 0x01, 0x20, 0x03, 0x1E};
    const auto t = Clock::now();

    sim::CFrameParser quiet;
    quiet.Feed(partial, t);
    auto frames = quiet.Feed(kPing1, t + sim::CFrameParser::kDefaultGap + 1ms);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], kPing1);

    sim::CFrameParser busy;
    busy.Feed(partial, t);
    EXPECT_TRUE(busy.Feed(kPing1, t + 1ms).empty());
    EXPECT_EQ(busy.Pending(), partial.size() + kPing1.size());
}

TEST(SimFrameParser, AcceptsTheLongestFrame) {
    Bytes frame = {0xFF, 0xFF, 0x01, 0xFF, 0x03};
    frame.resize(5 + 253, 0x00);
    unsigned sum = 0x01 + 0xFF + 0x03;
    frame.push_back(static_cast<uint8_t>(~sum));
    sim::CFrameParser parser;
    const auto frames = parser.Feed(frame, Clock::now());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].size(), 259u);
}

}  // namespace
