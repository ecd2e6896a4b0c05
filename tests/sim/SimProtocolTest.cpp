// The simulated bus as a host sees it: request bytes into the pty slave, status bytes out.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "sim/BusSimulator.h"
#include "tests/sim/PtyClient.h"
#include "tests/support/LineRateProbe.h"

namespace {

using namespace simtest;
using namespace std::chrono_literals;

class SimProtocol : public ::testing::Test {
protected:
    explicit SimProtocol(std::vector<uint8_t> ids = {1, 2, 3}, uint8_t baudCode = 0,
                         uint32_t clientBaud = 1000000)
        : m_sim(std::move(ids), baudCode), m_nClientBaud(clientBaud) {}
    explicit SimProtocol(const std::vector<sim::CSimServoSpec>& servos)
        : m_sim(servos, sim::CSimLineOptions{}), m_nClientBaud(1000000) {}

    void SetUp() override {
        SKIP_UNLESS_LINE_RATE(1000000);
        ASSERT_TRUE(m_sim.Start());
        m_client = std::make_unique<CPtyClient>(m_sim.SlavePath(), m_nClientBaud);
        ASSERT_TRUE(m_client->IsOpen());
    }

    Bytes Exchange(const Bytes& request, std::size_t replySize) {
        EXPECT_TRUE(m_client->Send(request));
        return m_client->Receive(replySize);
    }

    // The simulator handles requests in order, so if a ping's status is the first thing to come back,
    // nothing sent before it was answered.
    void ExpectNothingAnsweredBefore(uint8_t pingId = 1) {
        EXPECT_EQ(Exchange(Request(pingId, PING), 6), Status(pingId, 0));
    }

    // Sends a frame at another line rate and returns to ours once the simulator has taken it in.
    void SendAtRate(const Bytes& request, uint32_t baud) {
        const std::size_t before = m_sim.Frames().size();
        ASSERT_TRUE(m_client->SetBaud(baud));
        ASSERT_TRUE(m_client->Send(request));
        ASSERT_TRUE(m_sim.WaitForFrames(before + 1, 1s));
        ASSERT_TRUE(m_client->SetBaud(m_nClientBaud));
    }

    uint8_t Reg(uint8_t id, uint8_t address) const {
        const Bytes table = m_sim.Table(id);
        return address < table.size() ? table[address] : 0xEE;
    }

    sim::CBusSimulator m_sim;
    uint32_t m_nClientBaud;
    std::unique_ptr<CPtyClient> m_client;
};

TEST_F(SimProtocol, AnswersThePingOfTheDocumentedFrame) {
    EXPECT_EQ(Exchange({0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB}, 6), (Bytes{0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC}));
}

TEST_F(SimProtocol, ReadsTheFactoryTableHighByteFirst) {
    const Bytes parameters = {0x01, 0x00, 0x00, 0x02,        // ID, BAUD_RATE, RETURN_DELAY, RETURN_LEVEL
                              0x00, 0x00, 0x03, 0xFF,        // position limits 0, 1023
                              0x50, 0xFA, 0x32, 0x03, 0xFF,  // 80 degrees, 25.0 V, 5.0 V, torque 1023
                              0x00, 0x00, 0x14, 0x0F, 0x64, 0x00,  // flags, V P D I
                              0x00, 0x64, 0x01, 0x01,              // punch 100, dead bands
                              0x00, 0x00, 0x00};                   // current limit, address 30
    const Bytes status = Exchange({0xFF, 0xFF, 0x01, 0x04, 0x02, 0x05, 0x1A, 0xD9}, 32);
    ASSERT_EQ(status.size(), 32u);
    EXPECT_EQ(Bytes(status.begin(), status.begin() + 5), (Bytes{0xFF, 0xFF, 0x01, 0x1C, 0x00}));
    EXPECT_EQ(status, Status(1, 0, parameters));

    EXPECT_EQ(Exchange(Request(2, READ, {41, 13}), 19),
              Status(2, 0, {0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 74, 31, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Exchange(Request(3, READ, {0, 2}), 8), Status(3, 0, {0x03, 0x08}));
    EXPECT_EQ(Exchange(Request(3, READ, {3, 2}), 8), Status(3, 0, {0x00, 0x01}));
}

TEST_F(SimProtocol, ReadsPastTheTableAsZeros) {
    m_sim.SetRegister(1, 53, 0x77);
    EXPECT_EQ(Exchange(Request(1, READ, {52, 4}), 10), Status(1, 0, {0x00, 0x77, 0x00, 0x00}));
}

TEST_F(SimProtocol, StoresParametersOnlyWhileUnlocked) {
    EXPECT_EQ(Exchange(Request(1, WRITE, {13, 70}), 6), Status(1, 0)) << "a locked write is still answered";
    EXPECT_EQ(Reg(1, 13), 80);

    EXPECT_EQ(Exchange({0xFF, 0xFF, 0x01, 0x04, 0x03, 0x25, 0x00, 0xD2}, 6), Status(1, 0));
    EXPECT_EQ(Reg(1, 37), 0);
    EXPECT_EQ(Exchange(Request(1, WRITE, {13, 70}), 6), Status(1, 0));
    EXPECT_EQ(Reg(1, 13), 70);

    EXPECT_EQ(Exchange(Request(1, WRITE, {37, 1}), 6), Status(1, 0));
    EXPECT_EQ(Exchange(Request(1, WRITE, {29, 0xAA, 0xBB, 0x01, 0x05}), 6), Status(1, 0));
    EXPECT_EQ(Reg(1, 29), 0x00) << "locked again";
    EXPECT_EQ(Reg(1, 30), 0x00);
    EXPECT_EQ(Reg(1, 31), 0x01) << "the same write still reaches the registers from 31 on";
    EXPECT_EQ(Reg(1, 32), 0x05);
    EXPECT_EQ(Reg(2, 37), 1) << "other servos keep their own lock";
}

TEST_F(SimProtocol, RegisteredWriteWaitsForTheBroadcastAction) {
    EXPECT_EQ(Exchange(Request(2, REG_WRITE, {33, 0x01, 0x00}), 6), Status(2, 0));
    EXPECT_EQ(Reg(2, 33), 0x02);

    ASSERT_TRUE(m_client->Send({0xFF, 0xFF, 0xFE, 0x02, 0x05, 0xFA}));
    ExpectNothingAnsweredBefore();
    EXPECT_EQ(Reg(2, 33), 0x01);
    EXPECT_EQ(Reg(2, 34), 0x00);
    EXPECT_EQ(Reg(3, 33), 0x02) << "nothing was registered with ID 3";
}

TEST_F(SimProtocol, SyncWriteSetsEachServoSilently) {
    ASSERT_TRUE(
        m_client->Send({0xFF, 0xFF, 0xFE, 0x0A, 0x83, 0x1F, 0x01, 0x01, 0x01, 0x02, 0x01, 0x03, 0x01, 0x4B}));
    ExpectNothingAnsweredBefore();
    for (uint8_t id : {1, 2, 3}) EXPECT_EQ(Reg(id, 31), 1) << "ID " << int(id);

    ASSERT_TRUE(m_client->Send(Request(BROADCAST, 0x83, {33, 2, 1, 0x00, 0x10, 3, 0x03, 0x00})));
    ExpectNothingAnsweredBefore();
    EXPECT_EQ(Reg(1, 34), 0x10);
    EXPECT_EQ(Reg(2, 34), 0x00);
    EXPECT_EQ(Reg(3, 33), 0x03);
}

TEST_F(SimProtocol, ResetAnswersFromTheOldIdThenBehavesAsFactoryNew) {
    m_sim.SetRegister(3, 37, 0);
    EXPECT_EQ(Exchange(Request(3, WRITE, {13, 60}), 6), Status(3, 0));
    m_sim.RemoveServo(1);

    EXPECT_EQ(Exchange({0xFF, 0xFF, 0x03, 0x02, 0x06, 0xF4}, 6), Status(3, 0));
    EXPECT_TRUE(m_sim.Table(3).empty());
    const Bytes table = m_sim.Table(1);
    ASSERT_EQ(table.size(), 54u);
    EXPECT_EQ(table[5], 1);
    EXPECT_EQ(table[13], 80);
    EXPECT_EQ(table[37], 1);
    ExpectNothingAnsweredBefore(1);
}

TEST_F(SimProtocol, BroadcastsAreCarriedOutButNeverAnswered) {
    ASSERT_TRUE(m_client->Send(Request(BROADCAST, WRITE, {31, 1})));
    ExpectNothingAnsweredBefore();
    for (uint8_t id : {1, 2, 3}) EXPECT_EQ(Reg(id, 31), 1) << "ID " << int(id);

    ASSERT_TRUE(m_client->Send(Request(BROADCAST, RESET)));
    ASSERT_TRUE(m_sim.WaitForFrames(3, 1s));
    EXPECT_TRUE(m_sim.Table(2).empty());
    EXPECT_TRUE(m_sim.Table(3).empty());
    EXPECT_EQ(Reg(1, 31), 0);
    EXPECT_NE(Exchange(Request(1, PING), 6), Status(1, 0)) << "three servos now share ID 1: answers collide";
}

TEST_F(SimProtocol, ReturnLevelDecidesWhatIsAnswered) {
    struct CCase {
        uint8_t level;
        Bytes request;
        std::size_t replySize;  // 0: no status
    };
    const CCase cases[] = {
        {0, Request(2, PING), 6},           {0, Request(2, READ, {31, 1}), 0},
        {0, Request(2, WRITE, {31, 0}), 0}, {1, Request(2, PING), 6},
        {1, Request(2, READ, {31, 1}), 7},  {1, Request(2, WRITE, {31, 0}), 0},
        {2, Request(2, READ, {31, 1}), 7},  {2, Request(2, WRITE, {31, 0}), 6},
        {1, Request(2, RESET), 0},  // last: the reset gives servo 2 the ID 1
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "level " << int(c.level) << ", instruction " << int(c.request[4]));
        m_sim.SetRegister(2, 8, c.level);
        if (c.replySize == 0) {
            ASSERT_TRUE(m_client->Send(c.request));
            ExpectNothingAnsweredBefore(3);  // not 1: after the reset two servos answer to it
        } else {
            EXPECT_EQ(Exchange(c.request, c.replySize).size(), c.replySize);
        }
    }
}

TEST_F(SimProtocol, UnknownInstructionGetsTheInstructionError) {
    EXPECT_EQ(Exchange(Request(1, 0x07), 6), Status(1, 0x40));
    EXPECT_EQ(Exchange(Request(1, READ, {5}), 6), Status(1, 0x40)) << "a read needs address and count";
}

TEST_F(SimProtocol, BootLoaderHandOffIsRecordedButNotAnswered) {
    ASSERT_TRUE(m_client->Send(Request(1, 0x08)));
    ExpectNothingAnsweredBefore(2);
    ASSERT_EQ(m_sim.Frames().size(), 2u);
    EXPECT_EQ(m_sim.Frames()[0].bytes, (Bytes{0xFF, 0xFF, 0x01, 0x02, 0x08, 0xF4}));
    EXPECT_TRUE(m_sim.BootStatus(1).inBootLoader) << "servo 1 now runs its boot loader";
}

TEST_F(SimProtocol, IgnoresFramesWithABadChecksum) {
    ASSERT_TRUE(m_client->Send({0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFA}));
    ExpectNothingAnsweredBefore();
    EXPECT_EQ(m_sim.Frames().size(), 1u) << "only the good ping is a frame";
}

TEST_F(SimProtocol, FindsAGoodFrameAfterNoise) {
    EXPECT_EQ(Exchange({0x00, 0x13, 0xFF, 0x42, 0xFF, 0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB}, 6), Status(1, 0));
    EXPECT_EQ(Exchange({0xFF, 0xFF, 0x02, 0x04, 0x02, 0xFF, 0xFF, 0x02, 0x02, 0x01, 0xFA}, 6), Status(2, 0))
        << "a torn frame, then a whole one";
}

TEST_F(SimProtocol, ServosHearOnlyTheirOwnLineRate) {
    SendAtRate(Request(1, PING), 500000);
    ExpectNothingAnsweredBefore();

    m_sim.AddServo(20, 5);
    ASSERT_TRUE(m_client->Send(Request(20, PING)));
    ExpectNothingAnsweredBefore();
    ASSERT_TRUE(m_client->SetBaud(76800));
    EXPECT_EQ(Exchange(Request(20, PING), 6), Status(20, 0));
    ASSERT_TRUE(m_client->SetBaud(m_nClientBaud));
    ExpectNothingAnsweredBefore();
}

TEST(SimBaudCodes, EachCodeListensAtItsRate) {
    SKIP_UNLESS_LINE_RATE(1000000);
    const uint32_t rates[] = {1000000, 500000, 250000, 128000, 115200, 76800, 57600, 38400};
    for (uint8_t code = 0; code < 8; ++code) {
        SCOPED_TRACE(testing::Message() << "code " << int(code));
        sim::CBusSimulator bus({1}, code);
        ASSERT_TRUE(bus.Start());
        CPtyClient client(bus.SlavePath(), rates[(code + 1) % 8]);
        ASSERT_TRUE(client.Send(Request(1, PING)));
        ASSERT_TRUE(bus.WaitForFrames(1, 1s));
        ASSERT_TRUE(client.SetBaud(rates[code]));
        ASSERT_TRUE(client.Send(Request(1, PING)));
        EXPECT_EQ(client.Receive(6), Status(1, 0)) << "only the ping at the servo's own rate is answered";
    }
}

// Servos 1 to 3 that answer a change of their ID or rate as they were before it.
class SimProtocolOldReply : public SimProtocol {
protected:
    SimProtocolOldReply() : SimProtocol(OldReplyServos()) {}
    static std::vector<sim::CSimServoSpec> OldReplyServos() {
        std::vector<sim::CSimServoSpec> servos;
        for (uint8_t id : {1, 2, 3}) {
            servos.push_back(sim::DefaultServo(id));
            servos.back().changeReply = sim::EChangeReply::Old;
        }
        return servos;
    }
};

TEST_F(SimProtocol, AChangedIdOrRateAnswersFromTheNewIdAtTheNewRate) {
    m_sim.SetRegister(2, 37, 0);
    EXPECT_EQ(Exchange(Request(2, WRITE, {5, 9}), 6), Status(9, 0)) << "the status is built after the change";
    EXPECT_EQ(Exchange(Request(9, PING), 6), Status(9, 0));

    // At 1000000 a status sent at 76800 is the garbage a receiver makes of much longer bits.
    m_sim.SetRegister(1, 37, 0);
    ASSERT_TRUE(m_client->Send(Request(1, WRITE, {6, 5})));
    ASSERT_TRUE(m_sim.WaitForQuietLine(1s));
    const Bytes garbage = m_client->Receive(64, 50ms);
    EXPECT_GT(garbage.size(), 6u) << "a byte for every level change it sees";
    const Bytes header{0xFF, 0xFF};
    EXPECT_EQ(std::search(garbage.begin(), garbage.end(), header.begin(), header.end()), garbage.end())
        << "no frame in it";
    ASSERT_TRUE(m_client->SetBaud(76800));
    EXPECT_EQ(Exchange(Request(1, PING), 6), Status(1, 0));
    // And a host at 76800 makes one or two bytes of a whole status sent at 1000000.
    m_sim.SetRegister(1, 37, 0);
    ASSERT_TRUE(m_client->Send(Request(1, WRITE, {6, 0})));
    ASSERT_TRUE(m_sim.WaitForQuietLine(1s));
    const Bytes fast = m_client->Receive(64, 50ms);
    EXPECT_GE(fast.size(), 1u);
    EXPECT_LE(fast.size(), 2u);
}

TEST_F(SimProtocolOldReply, NewBaudRateAndIdApplyAfterTheirStatus) {
    m_sim.SetRegister(1, 37, 0);
    EXPECT_EQ(Exchange(Request(1, WRITE, {6, 5}), 6), Status(1, 0)) << "answered at the old rate";
    ASSERT_TRUE(m_client->Send(Request(1, PING)));
    ExpectNothingAnsweredBefore(2);
    ASSERT_TRUE(m_client->SetBaud(76800));
    EXPECT_EQ(Exchange(Request(1, PING), 6), Status(1, 0));
    ASSERT_TRUE(m_client->SetBaud(m_nClientBaud));

    m_sim.SetRegister(2, 37, 0);
    EXPECT_EQ(Exchange(Request(2, WRITE, {5, 9}), 6), Status(2, 0));
    EXPECT_EQ(Exchange(Request(9, PING), 6), Status(9, 0));
}

TEST_F(SimProtocol, RecordsEveryWellFormedFrameWithItsRate) {
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(m_client->Send(Request(42, PING)));  // nobody has ID 42
    // A pty gives no notice of a rate change: a frame is judged at the rate the line has when the simulator
    // wakes up, so the rate may only change once the frame has been taken in.
    ASSERT_TRUE(m_sim.WaitForFrames(1, 1s));
    SendAtRate(Request(BROADCAST, WRITE, {31, 1}), 115200);
    ExpectNothingAnsweredBefore();

    const auto frames = m_sim.Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].bytes, Request(42, PING));
    EXPECT_EQ(frames[0].baud, 1000000u);
    EXPECT_EQ(frames[1].bytes, Request(BROADCAST, WRITE, {31, 1}));
    EXPECT_EQ(frames[1].baud, 115200u);
    EXPECT_EQ(Reg(1, 31), 0) << "sent at a rate nobody listens to";
    EXPECT_GE(frames[0].time, before);
    EXPECT_LE(frames[0].time, frames[2].time);

    m_sim.ClearFrames();
    EXPECT_TRUE(m_sim.Frames().empty());
    EXPECT_FALSE(m_sim.WaitForFrames(1, 10ms));
}

TEST(SimServoSettings, MeasurementsPastTheLimitsSetTheAlarmBits) {
    SKIP_UNLESS_LINE_RATE(1000000);
    sim::CSimServoSpec hot = sim::DefaultServo(1), low = sim::DefaultServo(2), loaded = sim::DefaultServo(3);
    hot.temperature = 85;
    low.voltage = 45;
    loaded.load = -1023;
    sim::CBusSimulator bus({hot, low, loaded, sim::DefaultServo(4)}, {});
    ASSERT_TRUE(bus.Start());
    CPtyClient client(bus.SlavePath(), 1000000);
    auto exchange = [&](const Bytes& request, std::size_t size) {
        EXPECT_TRUE(client.Send(request));
        return client.Receive(size);
    };
    EXPECT_EQ(exchange(Request(1, PING), 6), Status(1, 0x04));
    EXPECT_EQ(exchange(Request(2, READ, {47, 2}), 8), Status(2, 0x01, {45, 31}));
    EXPECT_EQ(exchange(Request(3, WRITE, {31, 0}), 6), Status(3, 0x20));
    EXPECT_EQ(exchange(Request(4, PING), 6), Status(4, 0));
    EXPECT_EQ(exchange(Request(1, 0x07), 6), Status(1, 0x44)) << "with the instruction error";

    bus.SetRegister(4, 48, 81);  // the same through the fault API
    EXPECT_EQ(exchange(Request(4, PING), 6), Status(4, 0x04));
    EXPECT_EQ(exchange(Request(1, WRITE, {37, 0}), 6), Status(1, 0x04));
    EXPECT_EQ(exchange(Request(1, WRITE, {13, 90}), 6), Status(1, 0)) << "a higher limit clears it";
}

TEST(SimServoSettings, EachServoKeepsItsOwnRateDelayAndLevel) {
    SKIP_UNLESS_LINE_RATE(1000000);
    sim::CSimServoSpec slow = sim::DefaultServo(7, 4), quiet = sim::DefaultServo(8);
    quiet.returnLevel = 1;
    quiet.returnDelay = 100;
    sim::CBusSimulator bus({sim::DefaultServo(1), slow, quiet}, {});
    ASSERT_TRUE(bus.Start());
    CPtyClient client(bus.SlavePath(), 1000000);
    ASSERT_TRUE(client.Send(Request(7, PING)));
    ASSERT_TRUE(client.Send(Request(1, PING)));
    EXPECT_EQ(client.Receive(6), Status(1, 0)) << "7 is silent at 1000000";
    ASSERT_TRUE(client.SetBaud(115200));
    ASSERT_TRUE(client.Send(Request(7, PING)));
    EXPECT_EQ(client.Receive(6), Status(7, 0));
    ASSERT_TRUE(client.Send(Request(1, PING)));
    EXPECT_TRUE(client.Receive(6, 100ms).empty()) << "1 is silent at 115200";

    ASSERT_TRUE(client.SetBaud(1000000));
    EXPECT_EQ(bus.Table(8)[7], 100);
    ASSERT_TRUE(client.Send(Request(8, WRITE, {31, 1})));
    ASSERT_TRUE(client.Send(Request(8, READ, {31, 1})));
    EXPECT_EQ(client.Receive(7), Status(8, 0, {1})) << "level 1 answers the read only";
}

TEST(SimServoSettings, AServoIsHeardOnlyWhilePluggedIn) {
    SKIP_UNLESS_LINE_RATE(1000000);
    sim::CSimServoSpec late = sim::DefaultServo(4), leaving = sim::DefaultServo(5);
    late.plugAfter = 300ms;
    leaving.unplugAfter = 300ms;
    const auto start = std::chrono::steady_clock::now();
    sim::CBusSimulator bus({late, leaving}, {});
    ASSERT_TRUE(bus.Start());
    CPtyClient client(bus.SlavePath(), 1000000);
    auto answers = [&](uint8_t id) {
        EXPECT_TRUE(client.Send(Request(id, PING)));
        return client.Receive(6, 20ms) == Status(id, 0);
    };
    ASSERT_TRUE(answers(5));
    ASSERT_FALSE(answers(4)) << "not powered yet";
    while (!answers(4)) ASSERT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_FALSE(answers(5)) << "powered down at the same moment";
}

TEST(SimServoSettings, AnyRateServosHearWhateverTheLineCarries) {
    SKIP_UNLESS_LINE_RATE(1000000);
    sim::CSimLineOptions line;
    line.anyRate = true;
    sim::CBusSimulator bus({sim::DefaultServo(1, 7)}, line);
    ASSERT_TRUE(bus.Start());
    for (uint32_t rate : {1000000u, 57600u, 9600u}) {
        CPtyClient client(bus.SlavePath(), rate);
        ASSERT_TRUE(client.Send(Request(1, PING)));
        EXPECT_EQ(client.Receive(6), Status(1, 0)) << rate;
    }
}

}  // namespace
