// The command-line client: option parsing, and each command against the embedded simulator.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "tests/support/CliRun.h"
#include "tests/support/LineRateProbe.h"

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
    EXPECT_FALSE(ParseNumber("0x", 0, 255));
    EXPECT_FALSE(ParseNumber("0b11", 0, 255));
    EXPECT_EQ(ParseHexByte("ff"), 255);
    EXPECT_EQ(ParseHexByte("0x0A"), 10);
    EXPECT_FALSE(ParseHexByte("100"));
    EXPECT_FALSE(ParseHexByte("g1"));
}

TEST(CliCommands, PingAndScan) {
    SKIP_UNLESS_LINE_RATE(1000000);
    CCliRun run = RunClient({"--simulate", "ping", "2"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "2\n");
    run = RunClient({"--simulate", "ping", "9"});
    EXPECT_EQ(run.code, EXIT_NO_REPLY);
    EXPECT_NE(run.err.find("no answer from ID 9 within 50 ms"), std::string::npos) << run.err;
    run = RunClient({"--simulate=3", "scan", "0", "5"});
    EXPECT_EQ(run.code, EXIT_OK);
    EXPECT_EQ(run.out, "1\n2\n3\n");
}

TEST(CliCommands, ReadWriteAndReset) {
    SKIP_UNLESS_LINE_RATE(1000000);
    CCliRun run = RunClient({"--simulate", "read", "1", "0", "5"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "03 08 00 00 01\n");
    run = RunClient({"--simulate", "write", "1", "31", "01"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    run = RunClient({"--simulate", "reset", "3"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    run = RunClient({"--simulate", "write", "8", "31", "01"});
    EXPECT_EQ(run.code, EXIT_NO_REPLY);
}

// A freshly powered simulated servo, every register by name: the factory defaults in host order, the
// version bytes and PRESENT_CURRENT as they travel, HIGH_BYTE_FIRST (never on the wire) left out.
TEST(CliCommands, DumpMatchesGoldenText) {
    SKIP_UNLESS_LINE_RATE(1000000);
    const CCliRun run = RunClient({"--simulate", "dump", "2"});
    ASSERT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out,
              "FIRMWARE_VERSION       0  0308\n"
              "HARDWARE_VERSION       3  0001\n"
              "ID                     5  2\n"
              "BAUD_RATE              6  0\n"
              "RETURN_DELAY           7  0\n"
              "RETURN_LEVEL           8  2\n"
              "MIN_POSITION_LIMIT     9  0\n"
              "MAX_POSITION_LIMIT    11  1023\n"
              "MAX_TEMPERATURE       13  80\n"
              "MAX_VOLTAGE           14  250\n"
              "MIN_VOLTAGE           15  50\n"
              "MAX_TORQUE            16  1023\n"
              "LED_ERROR_FLAGS       18  0\n"
              "UNLOAD_FLAGS          19  0\n"
              "V_COEFF               20  20\n"
              "P_COEFF               21  15\n"
              "D_COEFF               22  100\n"
              "I_COEFF               23  0\n"
              "PUNCH                 24  100\n"
              "CW_DEAD_BAND          26  1\n"
              "CCW_DEAD_BAND         27  1\n"
              "CURRENT_LIMIT         28  0\n"
              "TORQUE_ENABLE         31  0\n"
              "GOAL_POSITION         33  512\n"
              "GOAL_SPEED            35  100\n"
              "LOCK                  37  1\n"
              "PRESENT_POSITION      41  512\n"
              "PRESENT_SPEED         43  0\n"
              "PRESENT_LOAD          45  0\n"
              "PRESENT_VOLTAGE       47  74\n"
              "PRESENT_TEMPERATURE   48  31\n"
              "PRESENT_CURRENT       52  0000\n");
}

TEST(CliCommands, ArgumentErrorsHaveTheirOwnCode) {
    SKIP_UNLESS_LINE_RATE(1000000);
    EXPECT_EQ(RunClient({"--simulate", "read", "1", "5"}).code, EXIT_BAD_ARGUMENTS);
    EXPECT_EQ(RunClient({"--simulate", "read", "1", "5", "254"}).code, EXIT_BAD_ARGUMENTS);
    EXPECT_EQ(RunClient({"--simulate", "write", "1", "31", "zz"}).code, EXIT_BAD_ARGUMENTS);
    EXPECT_EQ(RunClient({"--simulate", "scan", "9", "3"}).code, EXIT_BAD_ARGUMENTS);
    EXPECT_EQ(RunClient({"--simulate", "fly", "1"}).code, EXIT_BAD_ARGUMENTS);
    EXPECT_EQ(RunClient({"--help"}).code, EXIT_OK);
}

TEST(CliCommands, EachKindOfWrongPortHasItsOwnWords) {
    CCliRun run = RunClient({"--port", "/dev/no-such-adapter", "ping", "1"});
    EXPECT_EQ(run.code, EXIT_NO_ADAPTER);
    EXPECT_EQ(run.err, "brennix: no such port: /dev/no-such-adapter\n");
    run = RunClient({"--port", "/dev/null", "ping", "1"});
    EXPECT_EQ(run.code, EXIT_PORT_UNAVAILABLE);
    EXPECT_EQ(run.err, "brennix: /dev/null is not a serial port\n");
    const std::string dir = std::filesystem::temp_directory_path().string();
    run = RunClient({"--port", dir, "ping", "1"});
    EXPECT_EQ(run.code, EXIT_PORT_UNAVAILABLE);
    EXPECT_EQ(run.err, "brennix: " + dir + " is a directory, not a serial port\n");
}

// Every frame of the run on stderr, sent and received, with its meaning; the output itself is unchanged.
TEST(CliCommands, TracePrintsEveryFrameAsItGoes) {
    SKIP_UNLESS_LINE_RATE(1000000);
    const CCliRun run = RunClient({"--simulate=2", "--trace", "scan", "1", "3"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "1\n2\n");
    const std::regex line(R"(\d+\.\d{6} ([<>]) ([0-9A-F ]+|--)  (.*))");
    std::vector<std::string> meanings;
    std::istringstream lines(run.err);
    for (std::string text; std::getline(lines, text);) {
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(text, parts, line)) << text;
        meanings.push_back(parts[1].str() + " " + parts[3].str());
    }
    // Each ID that answers is read once more, to tell several servos with that ID from one.
    const std::string span = "13 bytes from 41 (PRESENT_POSITION)";
    const std::string values =
        "PRESENT_POSITION = 512, PRESENT_SPEED = 0, PRESENT_LOAD = 0, PRESENT_VOLTAGE = 74, "
        "PRESENT_TEMPERATURE = 31, PRESENT_CURRENT = 0000";
    EXPECT_EQ(meanings,
              (std::vector<std::string>{"> ping 1", "< status of 1: ok", "> read 1: " + span,
                                        "< status of 1: ok; " + values, "> ping 2", "< status of 2: ok",
                                        "> read 2: " + span, "< status of 2: ok; " + values, "> ping 3",
                                        "< no answer from ID 3"}));
    EXPECT_NE(run.err.find("> FF FF 01 02 01 FB  ping 1\n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("< FF FF 01 02 00 FC  status of 1: ok\n"), std::string::npos) << run.err;
}

TEST(CliCommands, SilentScanAndImpossibleOptionsAreNotSuccess) {
    SKIP_UNLESS_LINE_RATE(1000000);
    CCliRun run = RunClient({"--simulate=3", "scan", "10", "20"});
    EXPECT_EQ(run.code, EXIT_NO_REPLY);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("no servo answered"), std::string::npos);
    // Servos cannot run at 9600: a simulated bus there would mislead about a real one.
    run = RunClient({"--simulate", "--baud", "9600", "ping", "1"});
    EXPECT_EQ(run.code, EXIT_BAD_ARGUMENTS);
    EXPECT_NE(run.err.find("9600"), std::string::npos);
    run = RunClient({"--port", "/dev/null", "--simulate", "ping", "1"});
    EXPECT_EQ(run.code, EXIT_BAD_ARGUMENTS);
    EXPECT_NE(run.err.find("--port"), std::string::npos);
    EXPECT_EQ(RunClient({"--simulate", "--port", "/dev/null", "ping", "1"}).code, EXIT_BAD_ARGUMENTS);
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
    CCliRun run = RunClient({"--usb-id", "1d50:60fe", "ping", "1"});
    EXPECT_EQ(run.code, EXIT_NO_ADAPTER);
    EXPECT_NE(run.err.find("1D50:60FE"), std::string::npos) << run.err;
    for (const char* bad : {"0403", "0403:", "0403:60011", "vid:pid"}) {
        run = RunClient({"--usb-id", bad, "ping", "1"});
        EXPECT_EQ(run.code, EXIT_BAD_ARGUMENTS) << bad;
        EXPECT_NE(run.err.find(bad), std::string::npos) << run.err;
    }
}

TEST(CliCommands, SimulatedBusRunsAtTheChosenRate) {
    SKIP_UNLESS_LINE_RATE(1000000);
    const CCliRun run = RunClient({"--simulate", "--baud", "76800", "ping", "3"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "3\n");
}

// A terminal given by mistake (or a port another program set up) gets its settings back when the client
// closes it: echo, canonical input and the rate are as they were.
TEST(CliCommands, PortSettingsAreRestoredOnClose) {
    SKIP_UNLESS_LINE_RATE(1000000);
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slavePath = ptsname(master);
    const int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(slave, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    before.c_lflag |= ECHO | ICANON;
    cfsetspeed(&before, B9600);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);

    const CCliRun run = RunClient({"--port", slavePath, "--timeout", "5", "ping", "1"});
    EXPECT_EQ(run.code, EXIT_NO_REPLY) << run.err;

    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(cfgetospeed(&after), B9600);
    close(slave);
    close(master);
}
