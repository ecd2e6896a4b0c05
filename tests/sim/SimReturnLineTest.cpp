// The shared return line with made-up time: when answers reach the host and what overlapping answers become.
#include <gtest/gtest.h>

#include "sim/ReturnLine.h"

namespace {

using sim::CReturnLine;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;
using Time = CReturnLine::Clock::time_point;

const Bytes kPing1 = {0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC};
const Bytes kPing2 = {0xFF, 0xFF, 0x02, 0x02, 0x00, 0xFB};
const Bytes kPing3 = {0xFF, 0xFF, 0x03, 0x02, 0x00, 0xFA};

Bytes And(const Bytes& a, const Bytes& b) {
    Bytes out(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) out[i] = a[i] & b[i];
    return out;
}

// Everything the host receives until the line is quiet.
Bytes Drain(CReturnLine& line) {
    Bytes all;
    while (const auto at = line.NextArrival()) {
        const Bytes got = line.Receive(*at);
        all.insert(all.end(), got.begin(), got.end());
    }
    return all;
}

TEST(SimReturnLine, EachByteArrivesAtTheEndOfItsStopBitPlusTheLatency) {
    EXPECT_EQ(sim::WireTime(6, 1000000), 60us);
    EXPECT_EQ(sim::WireTime(6, 38400), 1562500ns);
    EXPECT_EQ(sim::WireTime(70, 500000), 1400us);
    for (uint32_t rate : {1000000u, 38400u}) {
        SCOPED_TRACE(rate);
        for (auto latency : {0us, 1000us}) {
            CReturnLine line(latency);
            const Time t0 = Time{} + 1s;
            auto after = [&](std::size_t bytes) { return t0 + sim::WireTime(bytes, rate) + latency; };
            EXPECT_EQ(line.Send(1, t0, rate, kPing1), t0 + sim::WireTime(6, rate));
            EXPECT_TRUE(line.Receive(after(1) - 1ns).empty());
            EXPECT_EQ(line.NextArrival(), after(1));
            EXPECT_EQ(line.Receive(after(1)), Bytes{0xFF});
            EXPECT_EQ(line.Receive(after(6) - 1ns), Bytes({0xFF, 0x01, 0x02, 0x00}));
            EXPECT_EQ(line.Receive(after(6)), Bytes{0xFC});
            EXPECT_FALSE(line.NextArrival()) << "quiet again";
        }
    }
}

TEST(SimReturnLine, AnswersApartInTimeArriveCleanInTheirOrder) {
    CReturnLine line;
    const Time t0{};
    line.Send(7, t0 + 400us, 1000000, kPing3);
    line.Send(5, t0 + 0us, 1000000, kPing1);
    line.Send(6, t0 + 200us, 1000000, kPing2);
    EXPECT_EQ(line.Receive(t0 + 60us), kPing1);
    EXPECT_EQ(line.NextArrival(), t0 + 210us);
    EXPECT_EQ(line.Receive(t0 + 260us), kPing2) << "the delay of 100 answers 200 us after the delay of 0";
    EXPECT_EQ(line.Receive(t0 + 460us), kPing3);

    // One sender's answers never overlap: the second waits for the first to leave the line.
    EXPECT_EQ(line.Send(5, t0 + 1000us, 1000000, kPing1), t0 + 1060us);
    EXPECT_EQ(line.Send(5, t0 + 1000us, 1000000, kPing2), t0 + 1120us);
    EXPECT_EQ(Drain(line), Bytes({0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC, 0xFF, 0xFF, 0x02, 0x02, 0x00, 0xFB}));
}

TEST(SimReturnLine, OverlappingAnswersGiveTheAndOfTheirBytesWhereTheyOverlap) {
    // Byte for byte at the same moment: the AND, so the ID and checksum are wrong together.
    CReturnLine line;
    line.Send(1, Time{}, 115200, kPing1);
    line.Send(2, Time{}, 115200, kPing2);
    line.Send(3, Time{}, 115200, kPing3);
    EXPECT_EQ(Drain(line), And(And(kPing1, kPing2), kPing3));

    // Three bytes apart: the first answer's head and the second's tail come through untouched.
    line.Send(1, Time{} + 1s, 1000000, kPing1);
    line.Send(2, Time{} + 1s + 30us, 1000000, kPing2);
    const Bytes mixed =
        And(Bytes(kPing1.begin() + 3, kPing1.end()), Bytes(kPing2.begin(), kPing2.begin() + 3));
    Bytes expected(kPing1.begin(), kPing1.begin() + 3);
    expected.insert(expected.end(), mixed.begin(), mixed.end());
    expected.insert(expected.end(), kPing2.begin() + 3, kPing2.end());
    EXPECT_EQ(Drain(line), expected);
}

TEST(SimReturnLine, IdenticalAnswersABitApartAreDamaged) {
    CReturnLine line;
    line.Send(1, Time{}, 1000000, kPing1);
    line.Send(2, Time{} + 1us, 1000000, kPing1);  // one bit later
    const Bytes got = Drain(line);
    EXPECT_NE(got, kPing1);
    EXPECT_FALSE(got.size() >= 6 && Bytes(got.end() - 6, got.end()) == kPing1);

    // A twentieth of a bit at 38400 is below what the receiver samples: the two read as one clean answer.
    line.Send(1, Time{} + 1s, 38400, kPing1);
    line.Send(2, Time{} + 1s + 1us, 38400, kPing1);
    EXPECT_EQ(Drain(line), kPing1);
}

// The host's receiver samples at its own rate: a byte sent ten times slower is a start bit that lasts the
// whole of a fast byte (0x00 with a framing error); a fast byte is over within one slow bit.
TEST(SimReturnLine, AHostAtAnotherRateReceivesWhatItsOwnClockMakesOfTheLine) {
    const Time t0 = Time{} + 1s;
    CReturnLine slow;
    slow.Send(1, t0, 100000, {0xFF});
    Bytes got;
    while (const auto at = slow.NextArrival(1000000)) {
        const Bytes some = slow.Receive(*at, 1000000);
        got.insert(got.end(), some.begin(), some.end());
    }
    EXPECT_EQ(got, Bytes{0x00});

    CReturnLine fast;
    fast.Send(1, t0, 1000000, kPing1);
    const auto at = fast.NextArrival(100000);
    ASSERT_TRUE(at);
    EXPECT_LE(*at, t0 + sim::WireTime(6, 1000000) + sim::WireTime(1, 100000));
    EXPECT_EQ(fast.Receive(*at, 100000).size(), 1u);
    EXPECT_FALSE(fast.NextArrival(100000)) << "the rest of the status lies within that byte";
}

}  // namespace
