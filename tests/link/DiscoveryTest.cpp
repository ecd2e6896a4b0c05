// Matching the adapter among listed ports, without hardware.
#include <gtest/gtest.h>

#include "PortDiscovery.h"

TEST(Discovery, FirstMatchingAdapterWins) {
    const std::vector<SerialPortInfo> ports{
        {"/dev/ttyS0", -1, -1},
        {"/dev/ttyUSB0", 0x0403, 0x6001},
        {"/dev/ttyACM1", 0x16C0, 0x05E1},
        {"/dev/ttyACM2", 0x16C0, 0x05E1},
    };
    EXPECT_EQ(MatchAdapterPort(ports, 0x16C0, 0x05E1), "/dev/ttyACM1");
}

TEST(Discovery, ProductMustMatchToo) {
    const std::vector<SerialPortInfo> ports{{"/dev/ttyACM0", 0x16C0, 0x05E2},
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
