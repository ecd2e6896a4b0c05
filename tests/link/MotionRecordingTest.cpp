// Recordings of a taught motion as text and as files, the ID lists that name their servos, and the poll's
// arithmetic: what the bus allows and how a silent servo is asked less and less often.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "link/MotionFile.h"
#include "link/MotionRecording.h"
#include "link/PollTiming.h"
#include "link/RoundRobinPoller.h"
#include "link/ServoGroup.h"
#include "tests/program/TempDir.h"

namespace {

using namespace std::chrono_literals;

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(MotionText, WrittenAndReadBackTheSame) {
    const CMotionRecording recording{{3, 1}, {{0, {512, 0}}, {20, {513, 1023}}, {20, {514, 1000}}}};
    const std::string text = MotionText(recording);
    EXPECT_EQ(text, "time_ms,3,1\n0,512,0\n20,513,1023\n20,514,1000\n");
    std::string error;
    EXPECT_EQ(ParseMotion(text, &error), recording) << error;
    // Windows line ends and a blank line at the end are taken as they come.
    EXPECT_EQ(ParseMotion("time_ms,3,1\r\n0,512,0\r\n20,513,1023\r\n20,514,1000\r\n\r\n", &error), recording)
        << error;
}

// Each fault is refused with its row (the header is row 1) and column (from 1).
TEST(MotionText, EveryFaultIsNamedByRowAndColumn) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"", "row 1: no header (time_ms,ID,ID,...)"},
        {"time,1\n0,5\n", "row 1, column 1: the first column must be time_ms"},
        {"time_ms\n0\n", "row 1, column 2: no servo ID"},
        {"time_ms,1,254\n", "row 1, column 3: \"254\" is no servo ID 0-253"},
        {"time_ms,1,x\n", "row 1, column 3: \"x\" is no servo ID 0-253"},
        {"time_ms,4,4\n", "row 1, column 3: ID 4 comes twice"},
        {"time_ms,1,2\n", "row 2: no positions recorded"},
        {"time_ms,1,2\n0,1,2\n20,1\n", "row 3, column 3: missing (the header has 3 columns)"},
        {"time_ms,1,2\n0,1,2,3\n", "row 2, column 4: one column too many (the header has 3)"},
        {"time_ms,1,2\n0,1,2\n20,1,2.5\n", "row 3, column 3: \"2.5\" is not a whole number"},
        {"time_ms,1,2\n0,1,\n", "row 2, column 3: \"\" is not a whole number"},
        {"time_ms,1\n-5,1\n", "row 2, column 1: the time is below 0"},
        {"time_ms,1,2\n0,1,2\n40,1,2\n39,1,2\n", "row 4, column 1: the time 39 ms goes back from 40 ms"},
        {"time_ms,1,7\n0,1,1024\n", "row 2, column 3: position 1024 of ID 7 is outside 0-1023"},
        {"time_ms,1,7\n0,-1,0\n", "row 2, column 2: position -1 of ID 1 is outside 0-1023"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseMotion(c.text, &error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

TEST(MotionFile, RowsReachTheFileAsTheyComeAndReadBackWhole) {
    const CTempDir dir;
    const std::string path = (dir.Path() / "wave.csv").string();
    std::string error;
    {
        CMotionFileWriter writer;
        ASSERT_TRUE(writer.Create(path, {1, 2}, &error)) << error;
        ASSERT_TRUE(writer.Append({0, {300, 700}}, &error)) << error;
        // Before any close: a crash now would leave what is already in the file.
        EXPECT_EQ(ReadAll(path), "time_ms,1,2\n0,300,700\n");
        ASSERT_TRUE(writer.Append({20, {301, 699}}, &error)) << error;
    }
    const auto recording = ReadMotionFile(path, &error);
    ASSERT_TRUE(recording) << error;
    EXPECT_EQ(*recording, (CMotionRecording{{1, 2}, {{0, {300, 700}}, {20, {301, 699}}}}));
}

TEST(MotionFile, FilesThatCannotBeUsedSayWhy) {
    const CTempDir dir;
    std::string error;
    CMotionFileWriter writer;
    EXPECT_FALSE(writer.Create((dir.Path() / "no" / "such.csv").string(), {1}, &error));
    EXPECT_EQ(error,
              "cannot write " + (dir.Path() / "no" / "such.csv").string() + ": No such file or directory");
    EXPECT_FALSE(writer.Append({0, {1}}, &error)) << "nothing is open";

    EXPECT_FALSE(ReadMotionFile((dir.Path() / "missing.csv").string(), &error));
    EXPECT_EQ(error, "cannot read " + (dir.Path() / "missing.csv").string() + ": No such file or directory");
    EXPECT_FALSE(ReadMotionFile(dir.Path().string(), &error));
    EXPECT_EQ(error, dir.Path().string() + " is not a regular file");
    const std::string fifo = (dir.Path() / "pipe").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(ReadMotionFile(fifo, &error)) << "never blocks on a FIFO";
    const std::string bad = (dir.Path() / "bad.csv").string();
    std::ofstream(bad) << "time_ms,1\n0,2000\n";
    EXPECT_FALSE(ReadMotionFile(bad, &error));
    EXPECT_EQ(error, bad + ": row 2, column 2: position 2000 of ID 1 is outside 0-1023");
}

TEST(IdList, IdsInTheOrderGivenEachOnce) {
    std::string error;
    EXPECT_EQ(ParseIdList("3,1,253,0", &error), (std::vector<uint8_t>{3, 1, 253, 0}));
    EXPECT_EQ(IdListText({3, 1, 253}), "3, 1, 253");
    const struct {
        const char* text;
        const char* error;
    } bad[] = {{"1,2,1", "ID 1 is listed twice"}, {"1,254", "ID 254 is outside 0-253"},
               {"-1", "ID -1 is outside 0-253"},  {"1,,2", "\"\" is not an ID"},
               {"1,x", "\"x\" is not an ID"},     {"1 ,2", "\"1 \" is not an ID"},
               {"", "\"\" is not an ID"},         {"99999999999", "ID 99999999999 is outside 0-253"}};
    for (const auto& c : bad) {
        EXPECT_FALSE(ParseIdList(c.text, &error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

// Six servos at 1000000 baud without return delay behind an adapter of 1 ms each way: a read is 270 us on
// the wire and 2 ms in the adapter, so a round of six takes 13.62 ms, 73.4 reads a second each.
TEST(PollTiming, TheBusLimitComesFromWireTimeReturnDelayAndLatency) {
    using PollTiming::Micros;
    EXPECT_EQ(PollTiming::SpanReadTime(1000000, Micros{0}, Micros{1000}), Micros{2270});
    EXPECT_EQ(PollTiming::SpanReadTime(57600, Micros{500}, Micros{0}), Micros{4688 + 500});
    EXPECT_NEAR(PollTiming::RatePerServo(std::vector<Micros>(6, Micros{2270})), 73.4, 0.05);
    EXPECT_EQ(PollTiming::RatePerServo({}), 0.0);
}

TEST(PollTiming, ASilentServoIsAskedLessAndLessOften) {
    EXPECT_EQ(CRoundRobinPoller::RetryDelay(0), 0ms);
    EXPECT_EQ(CRoundRobinPoller::RetryDelay(1), 250ms);
    EXPECT_EQ(CRoundRobinPoller::RetryDelay(2), 500ms);
    EXPECT_EQ(CRoundRobinPoller::RetryDelay(4), 2000ms);
    EXPECT_EQ(CRoundRobinPoller::RetryDelay(1000), 2000ms);
}

}  // namespace
