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
