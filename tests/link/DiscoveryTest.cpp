// Matching the adapter among listed ports, without hardware.
#include <gtest/gtest.h>

#include "link/PortDiscovery.h"

TEST(Discovery, FirstMatchingAdapterWins) {
    const std::vector<CSerialPortInfo> ports{
        {"/dev/ttyS0", -1, -1},
        {"/dev/ttyUSB0", 0x0403, 0x6001},
        {"/dev/ttyACM1", 0x16C0, 0x05E1},
        {"/dev/ttyACM2", 0x16C0, 0x05E1},
    };
    EXPECT_EQ(MatchAdapterPort(ports, 0x16C0, 0x05E1), "/dev/ttyACM1");
}

TEST(Discovery, ProductMustMatchToo) {
    const std::vector<CSerialPortInfo> ports{{"/dev/ttyACM0", 0x16C0, 0x05E2},
                                             {"/dev/ttyACM1", 0x05E1, 0x16C0}};
    EXPECT_EQ(MatchAdapterPort(ports, 0x16C0, 0x05E1), "");
    EXPECT_EQ(MatchAdapterPort({}, 0x16C0, 0x05E1), "");
}

TEST(Discovery, PortNumbers) {
    EXPECT_EQ(PortNumberOf("/dev/ttyACM0"), 0);
    EXPECT_EQ(PortNumberOf("COM12"), 12);
    EXPECT_EQ(PortNumberOf("/dev/serial"), -1);
    EXPECT_EQ(PortNumberOf("x123456"), -1);
}

// Windows lists device instance IDs; the adapter's IDs are read from them the way the device manager writes
// them, and only a VID_ followed by a PID_ counts.
TEST(Discovery, UsbIdsFromWindowsDeviceIds) {
    struct CCase {
        const char* deviceId;
        int vendorId, productId;
    };
    const CCase cases[] = {
        {"USB\\VID_16C0&PID_05E1\\5&2A3B4C5D&0&2", 0x16C0, 0x05E1},
        {"USB\\VID_16c0&PID_05e1&MI_00\\6&1", 0x16C0, 0x05E1},  // hex digits in either case
        {"FTDIBUS\\VID_0403+PID_6001+A12345\\0000", 0x0403, 0x6001},
        {"USB\\VID_116C0&PID_105E1", 0x16C0, 0x05E1},  // longer numbers keep their low 16 bits
        {"USB\\VID_&PID_", 0, 0},                      // no digits read as 0, as the device manager's IDs
        {"USB\\PID_05E1&VID_16C0", -1, -1},            // PID_ only before VID_
        {"ACPI\\PNP0501\\1", -1, -1},                  // an on-board port
    };
    for (const CCase& c : cases) {
        const CSerialPortInfo port = PortFromDeviceId("COM3", c.deviceId);
        EXPECT_EQ(port.name, "COM3") << c.deviceId;
        EXPECT_EQ(port.vendorId, c.vendorId) << c.deviceId;
        EXPECT_EQ(port.productId, c.productId) << c.deviceId;
    }
}

TEST(Discovery, FirstAdapterInTheDeviceWalkWins) {
    const std::vector<CSerialPortInfo> walk{
        PortFromDeviceId("COM1", "ACPI\\PNP0501\\1"),
        PortFromDeviceId("COM7", "USB\\VID_16C0&PID_05E2\\1"),
        PortFromDeviceId("COM9", "USB\\VID_16C0&PID_05E1\\2"),
        PortFromDeviceId("COM4", "USB\\VID_16C0&PID_05E1\\3"),
    };
    EXPECT_EQ(MatchAdapterPort(walk, 0x16C0, 0x05E1), "COM9");
}

TEST(Discovery, UsbIdsAsTyped) {
    const struct {
        const char* text;
        int vendor;  // -1: refused
        int product;
    } cases[] = {
        {"16C0:05E1", 0x16C0, 0x05E1},
        {"0403:6001", 0x0403, 0x6001},
        {"0x16c0:0x5e1", 0x16C0, 0x05E1},
        {"ffff:0", 0xFFFF, 0x0000},
        {"16C0", -1, 0},
        {"16C0:", -1, 0},
        {":05E1", -1, 0},
        {"16C0:05E1:1", -1, 0},
        {"10000:05E1", -1, 0},
        {"16G0:05E1", -1, 0},
        {"16C0 :05E1", -1, 0},
        {"-1:05E1", -1, 0},
        {"", -1, 0},
        {"0x:05E1", -1, 0},
    };
    for (const auto& c : cases) {
        const auto id = ParseUsbId(c.text);
        if (c.vendor < 0) {
            EXPECT_FALSE(id) << c.text;
            continue;
        }
        ASSERT_TRUE(id) << c.text;
        EXPECT_EQ(id->vendorId, c.vendor) << c.text;
        EXPECT_EQ(id->productId, c.product) << c.text;
    }
}
