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
