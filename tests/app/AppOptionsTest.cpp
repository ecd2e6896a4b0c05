// The command line of brennix-debug: what is accepted and what is refused with a reason.
#include <gtest/gtest.h>

#include "app/AppOptions.h"

TEST(AppOptionsTest, AcceptedForms) {
    struct CCase {
        std::vector<std::string> args;
        int servos;
        std::string port;
    };
    const CCase cases[] = {
        {{}, 0, ""},
        {{"--simulate"}, 3, ""},
        {{"--simulate=1"}, 1, ""},
        {{"--simulate=253"}, 253, ""},
        {{"--port", "/dev/ttyUSB0"}, 0, "/dev/ttyUSB0"},
        {{"--port=/dev/ttyACM1"}, 0, "/dev/ttyACM1"},
    };
    for (const CCase& c : cases) {
        const CAppOptionsResult parsed = ParseAppOptions(c.args);
        const std::string first = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_TRUE(parsed.szError.empty()) << first << ": " << parsed.szError;
        EXPECT_EQ(parsed.options.nSimulatedServos, c.servos) << first;
        EXPECT_EQ(parsed.options.szPortPath, c.port) << first;
    }
}

TEST(AppOptionsTest, RefusedForms) {
    const std::vector<std::vector<std::string>> refused = {
        {"--simulate=0"}, {"--simulate=254"}, {"--simulate=x"},
        {"--simulate="},  {"--port"},         {"--port="},
        {"--frobnicate"}, {"--scan"},         {"--simulate", "--port", "/dev/ttyUSB0"},
    };
    for (const auto& args : refused) EXPECT_FALSE(ParseAppOptions(args).szError.empty()) << args[0];
}

TEST(AppOptionsTest, TheTourTakesADirectoryAndRunsOnlyOnTheSimulatedBus) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"--simulate", "--tour", "out/tour"},
                                                                  {"--tour=out/tour", "--simulate=2"}}) {
        const CAppOptionsResult parsed = ParseAppOptions(args);
        EXPECT_TRUE(parsed.szError.empty()) << args[0] << ": " << parsed.szError;
        EXPECT_EQ(parsed.options.szTourDir, "out/tour") << args[0];
    }
    const std::vector<std::vector<std::string>> refused = {
        {"--simulate", "--tour"},
        {"--simulate", "--tour="},
        {"--tour", "out"},
        {"--port", "/dev/ttyUSB0", "--tour", "out"},
    };
    for (const auto& args : refused) EXPECT_FALSE(ParseAppOptions(args).szError.empty()) << args.back();
}

TEST(AppOptionsTest, UsbIdForTheAdapterSearch) {
    CAppOptionsResult parsed = ParseAppOptions({});
    EXPECT_EQ(parsed.options.wUsbVendorId, 0x16C0);
    EXPECT_EQ(parsed.options.wUsbProductId, 0x05E1);
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"--usb-id", "0403:6001"}, {"--usb-id=0403:6001"}}) {
        parsed = ParseAppOptions(args);
        EXPECT_TRUE(parsed.szError.empty()) << args[0] << ": " << parsed.szError;
        EXPECT_EQ(parsed.options.wUsbVendorId, 0x0403) << args[0];
        EXPECT_EQ(parsed.options.wUsbProductId, 0x6001) << args[0];
    }
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--usb-id"}, {"--usb-id="}, {"--usb-id", "0403"}, {"--usb-id=0403:6001:1"}}) {
        EXPECT_FALSE(ParseAppOptions(args).szError.empty()) << args.back();
    }
}

TEST(AppOptionsTest, ToolkitOptionsAreLeftAlone) {
    const CAppOptionsResult parsed =
        ParseAppOptions({"-platform", "offscreen", "--simulate=2", "-style", "fusion"});
    EXPECT_TRUE(parsed.szError.empty()) << parsed.szError;
    EXPECT_EQ(parsed.options.nSimulatedServos, 2);
}

TEST(AppOptionsTest, RefusalsSayWhyInTheToolsOwnWords) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--simulate=0"}, "--simulate needs a servo count from 1 to 253"},
        {{"--simulate="}, "--simulate needs a servo count from 1 to 253"},
        {{"--port"}, "--port needs a device path"},
        {{"--port", ""}, "--port needs a device path"},
        {{"--port="}, "unknown option: --port="},
        {{"--tour="}, "unknown option: --tour="},
        {{"--simulate", "--tour"}, "--tour needs a directory"},
        {{"--usb-id"}, "--usb-id needs VID:PID"},
        {{"--usb-id=0403"}, "--usb-id needs VID:PID in hex, such as 16C0:05E1, not \"0403\""},
        {{"--frobnicate=3"}, "unknown option: --frobnicate=3"},
        {{"--"}, "unknown option: --"},
        {{"--h"}, "unknown option: --h"},
        {{"--help=1"}, "unknown option: --help=1"},
        {{"--simulate", "--port", "/dev/ttyUSB0"}, "--simulate and --port exclude each other"},
        {{"--tour", "out"}, "--tour runs only on the simulated bus: add --simulate"},
    };
    for (const auto& [args, why] : cases) EXPECT_EQ(ParseAppOptions(args).szError, why) << args[0];
}

TEST(AppOptionsTest, HelpAndValuesThatLookLikeOptions) {
    for (const char* help : {"--help", "-h"}) {
        const CAppOptionsResult parsed = ParseAppOptions({"--simulate", help, "--frobnicate"});
        EXPECT_TRUE(parsed.options.bHelp) << help << ": help wins over a mistake beside it";
    }
    CAppOptionsResult parsed = ParseAppOptions({"--port", "-x"});
    EXPECT_TRUE(parsed.szError.empty()) << parsed.szError;
    EXPECT_EQ(parsed.options.szPortPath, "-x") << "a separate value is taken as it is";
    parsed = ParseAppOptions({"--simulate", "--simulate=7", "-simulate", "5"});
    EXPECT_TRUE(parsed.szError.empty()) << parsed.szError;
    EXPECT_EQ(parsed.options.nSimulatedServos, 7)
        << "the last count wins; single-dash words are the toolkit's";
}
