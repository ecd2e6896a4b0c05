// The command-line client: option parsing, and each command against the embedded simulator.
#include <gtest/gtest.h>

#include <sstream>

#include "CliCommands.h"
#include "CliOptions.h"

struct CliRun {
    int code;
    std::string out;
    std::string err;
};

static CliRun RunClient(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = RunCli(args, out, err);
    return {code, out.str(), err.str()};
}

TEST(CliOptionsParse, GlobalOptionsThenCommand) {
    std::string error;
    auto options = ParseCliOptions(
        {"--port", "/dev/x", "--baud", "115200", "--timeout", "80", "read", "1", "5", "26"}, &error);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->portPath, "/dev/x");
    EXPECT_EQ(options->baud, 115200);
    EXPECT_EQ(options->timeoutMs, 80);
    EXPECT_EQ(options->command, "read");
    EXPECT_EQ(options->arguments.size(), 3u);
    options = ParseCliOptions({"--simulate=5", "scan"}, &error);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->simulatedServos, 5);
    EXPECT_EQ(options->baud, 1000000);
}

TEST(CliOptionsParse, MalformedInputIsRefused) {
    std::string error;
    EXPECT_FALSE(ParseCliOptions({"--baud", "fast", "ping", "1"}, &error));
    EXPECT_FALSE(ParseCliOptions({"--timeout"}, &error));
    EXPECT_FALSE(ParseCliOptions({"--simulate=0", "scan"}, &error));
    EXPECT_FALSE(ParseCliOptions({"--frobnicate", "scan"}, &error));
    EXPECT_FALSE(ParseCliOptions({}, &error));
    EXPECT_FALSE(ParseNumber("12x", 0, 255));
    EXPECT_FALSE(ParseNumber("-1", 0, 255));
    EXPECT_FALSE(ParseNumber("256", 0, 255));
    EXPECT_EQ(ParseNumber("0x1F", 0, 255), 31);
    EXPECT_EQ(ParseHexByte("ff"), 255);
    EXPECT_EQ(ParseHexByte("0x0A"), 10);
    EXPECT_FALSE(ParseHexByte("100"));
    EXPECT_FALSE(ParseHexByte("g1"));
}

TEST(CliCommands, PingAndScan) {
    CliRun run = RunClient({"--simulate", "ping", "2"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "2\n");
    run = RunClient({"--simulate", "ping", "9"});
    EXPECT_EQ(run.code, EXIT_NO_REPLY);
    EXPECT_NE(run.err.find("no reply"), std::string::npos);
    run = RunClient({"--simulate=3", "scan", "0", "5"});
    EXPECT_EQ(run.code, EXIT_OK);
    EXPECT_EQ(run.out, "1\n2\n3\n");
}

TEST(CliCommands, ReadWriteAndReset) {
    CliRun run = RunClient({"--simulate", "read", "1", "0", "5"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "03 08 00 00 01\n");
    run = RunClient({"--simulate", "write", "1", "31", "01"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    run = RunClient({"--simulate", "reset", "3"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    run = RunClient({"--simulate", "write", "8", "31", "01"});
    EXPECT_EQ(run.code, EXIT_NO_REPLY);
}

TEST(CliCommands, DumpShowsRegistersInHostOrder) {
    const CliRun run = RunClient({"--simulate", "dump", "2"});
    ASSERT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_NE(run.out.find("FIRMWARE_VERSION       0  0308"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("ID                     5  2\n"), std::string::npos);
    EXPECT_NE(run.out.find("MAX_TORQUE            16  1023\n"), std::string::npos);
    EXPECT_NE(run.out.find("PRESENT_VOLTAGE       47  74\n"), std::string::npos);
    EXPECT_EQ(run.out.find("HIGH_BYTE_FIRST"), std::string::npos);
}

TEST(CliCommands, ArgumentErrorsHaveTheirOwnCode) {
    EXPECT_EQ(RunClient({"--simulate", "read", "1", "5"}).code, EXIT_BAD_ARGUMENTS);
    EXPECT_EQ(RunClient({"--simulate", "read", "1", "5", "254"}).code, EXIT_BAD_ARGUMENTS);
    EXPECT_EQ(RunClient({"--simulate", "write", "1", "31", "zz"}).code, EXIT_BAD_ARGUMENTS);
    EXPECT_EQ(RunClient({"--simulate", "scan", "9", "3"}).code, EXIT_BAD_ARGUMENTS);
    EXPECT_EQ(RunClient({"--simulate", "fly", "1"}).code, EXIT_BAD_ARGUMENTS);
    EXPECT_EQ(RunClient({"--help"}).code, EXIT_OK);
}

TEST(CliCommands, MissingPortHasItsOwnCode) {
    const CliRun run = RunClient({"--port", "/dev/no-such-adapter", "ping", "1"});
    EXPECT_EQ(run.code, EXIT_NO_ADAPTER);
    EXPECT_NE(run.err.find("/dev/no-such-adapter"), std::string::npos);
}

TEST(CliCommands, TheAdapterSearchUsesTheGivenUsbId) {
    std::string error;
    auto options = ParseCliOptions({"--usb-id", "0403:6001", "scan"}, &error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->usbVendorId, 0x0403);
    EXPECT_EQ(options->usbProductId, 0x6001);
    options = ParseCliOptions({"scan"}, &error);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->usbVendorId, 0x16C0);
    EXPECT_EQ(options->usbProductId, 0x05E1);

    // No adapter on the test machine carries this ID: the search must say which ID it looked for.
    CliRun run = RunClient({"--usb-id", "1d50:60fe", "ping", "1"});
    EXPECT_EQ(run.code, EXIT_NO_ADAPTER);
    EXPECT_NE(run.err.find("1D50:60FE"), std::string::npos) << run.err;
    for (const char* bad : {"0403", "0403:", "0403:60011", "vid:pid"}) {
        run = RunClient({"--usb-id", bad, "ping", "1"});
        EXPECT_EQ(run.code, EXIT_BAD_ARGUMENTS) << bad;
        EXPECT_NE(run.err.find(bad), std::string::npos) << run.err;
    }
}

TEST(CliCommands, SimulatedBusRunsAtTheChosenRate) {
    const CliRun run = RunClient({"--simulate", "--baud", "76800", "ping", "3"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "3\n");
}
