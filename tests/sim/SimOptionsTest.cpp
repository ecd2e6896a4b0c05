// The simulator's command line as scripts and tests type it: the servos, line and faults it asks for, and the
// refusals, each with its exit route and words.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/SimOptions.h"

namespace {

using sim::CSimCommand;
using sim::ParseSimArguments;
using EAction = CSimCommand::EAction;

std::vector<std::pair<int, int>> IdsAndCodes(const sim::CSimOptions& options) {
    std::vector<std::pair<int, int>> found;
    for (const auto& servo : options.servos) found.emplace_back(servo.id, servo.baudCode);
    return found;
}

TEST(SimOptions, ServosFromIdsThenEachServoInOrder) {
    CSimCommand command = ParseSimArguments({});
    ASSERT_EQ(command.action, EAction::Serve);
    EXPECT_EQ(IdsAndCodes(command.options), (std::vector<std::pair<int, int>>{{1, 0}, {2, 0}, {3, 0}}));
    EXPECT_TRUE(command.options.devicePath.empty());

    command = ParseSimArguments({"--servo", "9@38400", "--baud", "4", "--ids", "5,0,253"});
    ASSERT_EQ(command.action, EAction::Serve) << command.text;
    EXPECT_EQ(IdsAndCodes(command.options),
              (std::vector<std::pair<int, int>>{{5, 4}, {0, 4}, {253, 4}, {9, 7}}))
        << "the --ids servos at --baud's code, whatever the order typed, then the --servo ones";

    command = ParseSimArguments({"--servo", "7"});
    EXPECT_EQ(IdsAndCodes(command.options), (std::vector<std::pair<int, int>>{{7, 0}}))
        << "--servo alone replaces the default 1, 2, 3";
}

TEST(SimOptions, LineDeviceAndFaults) {
    const CSimCommand command =
        ParseSimArguments({"--any-rate", "--latency", "100000", "--device", "/dev/ttyGS0", "--fault", "drop",
                           "--fault", "late:id=1,delay=120"});
    ASSERT_EQ(command.action, EAction::Serve) << command.text;
    EXPECT_TRUE(command.options.line.anyRate);
    EXPECT_EQ(command.options.line.latency.count(), 100000);
    EXPECT_EQ(command.options.devicePath, "/dev/ttyGS0");
    ASSERT_EQ(command.options.faults.size(), 2u);
    EXPECT_EQ(command.options.faults[1].servoId, 1);
    EXPECT_EQ(command.options.faults[1].delay.count(), 120);
}

TEST(SimOptions, HelpBeforeAnyMistakeAfterIt) {
    for (const char* help : {"--help", "-h"}) {
        const CSimCommand command = ParseSimArguments({"--ids", "4", help, "--bogus"});
        EXPECT_EQ(command.action, EAction::Help) << help;
        EXPECT_EQ(command.text, sim::SimUsage());
    }
    EXPECT_EQ(ParseSimArguments({"--bogus", "--help"}).action, EAction::Refuse);
    const std::string usage = sim::SimUsage();
    EXPECT_EQ(
        usage.rfind("Usage: brennix-sim [--ids 1,2,3] [--baud CODE] [--servo SPEC]... [--any-rate]\n", 0),
        0u);
    EXPECT_NE(usage.find("  --fault RULE a line fault"), std::string::npos);
    EXPECT_EQ(usage.back(), '\n');
}

TEST(SimOptions, RefusalsNameTheArgument) {
    const std::string usage = sim::SimUsage();
    const std::vector<std::vector<std::string>> bad = {
        {"--ids"},           {"--ids", "1,,2"}, {"--ids", "254"}, {"--baud", "8"}, {"--latency", "100001"},
        {"--latency", "-1"}, {"--device", ""},  {"--servo"},      {"--verbose"},   {"1"},
    };
    for (const auto& args : bad) {
        const CSimCommand command = ParseSimArguments(args);
        EXPECT_EQ(command.action, EAction::Refuse) << args[0];
        EXPECT_EQ(command.text, "brennix-sim: bad argument '" + args[0] + "'\n" + usage) << args[0];
    }
}

TEST(SimOptions, ABadServoOrFaultSaysWhy) {
    CSimCommand command = ParseSimArguments({"--servo", "9@38400:delay=255"});
    ASSERT_EQ(command.action, EAction::Refuse);
    EXPECT_EQ(command.text.rfind("brennix-sim: bad servo", 0), 0u);
    EXPECT_NE(command.text.find("over 254\n"), std::string::npos);
    EXPECT_EQ(command.text.find("Usage:"), std::string::npos) << "a bad servo is one line";

    command = ParseSimArguments({"--fault", "late:delay=soon"});
    ASSERT_EQ(command.action, EAction::Refuse);
    EXPECT_EQ(command.text.rfind("brennix-sim: ", 0), 0u);
    EXPECT_NE(command.text.find("\nUsage: brennix-sim"), std::string::npos) << "a bad fault shows the usage";
}

}  // namespace
