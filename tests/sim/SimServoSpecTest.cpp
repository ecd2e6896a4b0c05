// The servo set-up as scripts type it on the simulator's command line.
#include <gtest/gtest.h>

#include "sim/ServoSpec.h"

namespace {

using sim::ParseServoSpec;

TEST(CSimServoSpec, ReadsEverySetting) {
    std::string error;
    auto servo = ParseServoSpec("9@38400:delay=250:temp=85", &error);
    ASSERT_TRUE(servo) << error;
    EXPECT_EQ(servo->id, 9);
    EXPECT_EQ(servo->baudCode, 7);
    EXPECT_EQ(servo->returnDelay, 250);
    EXPECT_EQ(servo->returnLevel, 2);
    EXPECT_EQ(servo->temperature, 85);
    EXPECT_FALSE(servo->voltage);

    servo = ParseServoSpec("0:level=1:volt=260:load=-1023", &error);
    EXPECT_FALSE(servo) << "volt is a register byte";
    servo = ParseServoSpec("253:load=-1023:volt=49:level=0", &error);
    ASSERT_TRUE(servo) << error;
    EXPECT_EQ(servo->id, 253);
    EXPECT_EQ(servo->baudCode, 0) << "1000000 when no rate is given";
    EXPECT_EQ(servo->load, -1023);
    EXPECT_EQ(servo->voltage, 49);
    EXPECT_EQ(servo->returnLevel, 0);

    servo = ParseServoSpec("4:hand=200-800/1:temp=40", &error);
    ASSERT_TRUE(servo) << error;
    EXPECT_EQ(servo->hand, (sim::CHandRange{200, 800, 1.0}));
    EXPECT_EQ(servo->temperature, 40);
    EXPECT_EQ(ParseServoSpec("4:hand=0-1023/2.5", &error)->hand, (sim::CHandRange{0, 1023, 2.5}));
    EXPECT_EQ(ParseServoSpec("4:extload=-1023", &error)->externalLoad, -1023);
    EXPECT_EQ(ParseServoSpec("4:extload=1023:load=5", &error)->externalLoad, 1023);
    EXPECT_FALSE(ParseServoSpec("4", &error)->externalLoad);

    servo = ParseServoSpec("1:reply=old:plug=2.5:unplug=10", &error);
    ASSERT_TRUE(servo) << error;
    EXPECT_EQ(servo->changeReply, sim::EChangeReply::Old);
    EXPECT_EQ(servo->plugAfter, std::chrono::milliseconds(2500));
    EXPECT_EQ(servo->unplugAfter, std::chrono::milliseconds(10000));
    servo = ParseServoSpec("1:reply=new:plug=0", &error);
    ASSERT_TRUE(servo) << error;
    EXPECT_EQ(servo->changeReply, sim::EChangeReply::New);
    EXPECT_EQ(servo->plugAfter, std::chrono::milliseconds(0));
    EXPECT_EQ(ParseServoSpec("1", &error)->changeReply, sim::EChangeReply::New) << "as real servos answer";

    for (const auto& [text, code] : std::vector<std::pair<std::string, int>>{
             {"1@1000000", 0}, {"1@500000", 1}, {"1@128000", 3}, {"1@76800", 5}, {"1@57600", 6}})
        EXPECT_EQ(ParseServoSpec(text, &error)->baudCode, code) << text;
}

TEST(CSimServoSpec, RefusesWhatIsNotAServoWithTheReason) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "ID"},
        {"254", "ID"},
        {"1x", "ID"},
        {"-1", "ID"},
        {"010@abc", "servo rate"},
        {"1@9600", "servo rate"},
        {"1@115201", "servo rate"},
        {"1@", "servo rate"},
        {"1:delay=255", "over 254"},
        {"1:delay=-1", "not one of"},
        {"1:level=3", "not one of"},
        {"1:load=1024", "not one of"},
        {"1:speed=3", "not one of"},
        {"1:temp", "not one of"},
        {"1:temp=0x50", "not one of"},
        {"1::temp=5", "not one of"},
        {"1:temp=5:", "empty"},
        {"1:hand", "not one of"},
        {"1:hand=200-800", "LOW-HIGH/SECONDS"},
        {"1:hand=800-200/1", "below HIGH"},
        {"1:hand=200-200/1", "below HIGH"},
        {"1:hand=200-1024/1", "0 to 1023"},
        {"1:hand=-5-800/1", "0 to 1023"},
        {"1:hand=200-800/0", "0.1 to 3600"},
        {"1:hand=200-800/-1", "0.1 to 3600"},
        {"1:hand=200-800/1e3", "0.1 to 3600"},
        {"1:hand=200-800/1.2.3", "0.1 to 3600"},
        {"1:reply=both", "neither old nor new"},
        {"1:reply=", "neither old nor new"},
        {"1:reply", "not one of"},
        {"1:plug=-1", "seconds"},
        {"1:plug=soon", "seconds"},
        {"1:unplug=", "seconds"},
        {"1:plug=1e3", "seconds"},
        {"1:plug=.", "seconds"},
        {"1:extload=1024", "extload=-1023..1023"},
        {"1:extload=", "extload=-1023..1023"},
    };
    for (const auto& [text, why] : cases) {
        std::string error;
        EXPECT_FALSE(ParseServoSpec(text, &error)) << text;
        EXPECT_NE(error.find(why), std::string::npos) << text << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << "one line";
    }
}

}  // namespace
