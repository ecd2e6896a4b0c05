// The network transport's pure layers: telnet's stream codec cut at every byte, option negotiation that
// never loops, COM-PORT-OPTION requests and answers, and the rfc2217:// port names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/ComPortOption.h"
#include "link/NetworkPortName.h"
#include "link/TelnetCodec.h"

using Bytes = std::vector<uint8_t>;
using namespace Telnet;

namespace {

// Everything a decoder found, written down in order: data runs joined, commands and sub-negotiations as
// markers, so two cuts of one stream can be compared.
struct CRecorder : CTelnetSink {
    void OnData(const uint8_t* data, int count) override {
        this->data.insert(this->data.end(), data, data + count);
    }
    void OnCommand(uint8_t verb, uint8_t option) override {
        events.push_back("cmd " + std::to_string(verb) + " " + std::to_string(option) + " after " +
                         std::to_string(data.size()));
    }
    void OnSubnegotiation(uint8_t option, const Bytes& payload) override {
        std::string text = "sb " + std::to_string(option) + ":";
        for (uint8_t byte : payload) text += " " + std::to_string(byte);
        events.push_back(text + " after " + std::to_string(data.size()));
    }
    Bytes data;
    std::vector<std::string> events;
};

CRecorder DecodeInPieces(const Bytes& stream, const std::vector<size_t>& cuts, bool peerBinary = true) {
    CTelnetDecoder decoder;
    decoder.SetPeerBinary(peerBinary);
    CRecorder recorder;
    size_t from = 0;
    std::vector<size_t> ends = cuts;
    ends.push_back(stream.size());
    for (size_t end : ends) {
        decoder.Feed(stream.data() + from, static_cast<int>(end - from), recorder);
        from = end;
    }
    return recorder;
}

}  // namespace

TEST(TelnetCodec, SendingDoublesEveryIacAndStuffsCrOnlyWithoutBinary) {
    const Bytes ping{0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB};
    Bytes out;
    AppendData(ping.data(), 6, true, out);
    EXPECT_EQ(out, (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB}));

    const Bytes withCr{0x0D, 0x0A, 0xFF};
    out.clear();
    AppendData(withCr.data(), 3, false, out);
    EXPECT_EQ(out, (Bytes{0x0D, 0x00, 0x0A, 0xFF, 0xFF}));

    out.clear();
    AppendSubnegotiation(OPT_COM_PORT, {ComPort::SET_BAUDRATE, 0x00, 0x00, 0xFF, 0x10}, out);
    EXPECT_EQ(out, (Bytes{IAC, SB, 44, 1, 0, 0, 0xFF, 0xFF, 0x10, IAC, SE}));
}

// A servo status with FF FF in it, a negotiation, a rate answer whose value holds an IAC, more data: however
// TCP cuts it, the decoder finds the same things in the same order.
TEST(TelnetCodec, EveryCutOfAStreamDecodesAlike) {
    const Bytes stream{0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC,                 // FF FF 01 02 00 FC
                       IAC,  DO,   44,                                                 // DO COM-PORT-OPTION
                       IAC,  SB,   44,   101,  0x00, 0x0F, 0xFF, 0xFF, 0x40, IAC, SE,  // rate 0x000FFF40
                       0x0D, 0x00, 0x07, IAC,  IAC};                                   // CR NUL 07 FF
    const CRecorder whole = DecodeInPieces(stream, {});
    EXPECT_EQ(whole.data, (Bytes{0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC, 0x0D, 0x00, 0x07, 0xFF}));
    ASSERT_EQ(whole.events.size(), 2u);
    EXPECT_EQ(whole.events[0], "cmd 253 44 after 6");
    EXPECT_EQ(whole.events[1], "sb 44: 101 0 15 255 64 after 6");

    for (size_t cut = 1; cut < stream.size(); ++cut) {
        const CRecorder two = DecodeInPieces(stream, {cut});
        EXPECT_EQ(two.data, whole.data) << "cut at " << cut;
        EXPECT_EQ(two.events, whole.events) << "cut at " << cut;
    }
    std::vector<size_t> everyByte;
    for (size_t i = 1; i < stream.size(); ++i) everyByte.push_back(i);
    const CRecorder bytewise = DecodeInPieces(stream, everyByte);
    EXPECT_EQ(bytewise.data, whole.data);
    EXPECT_EQ(bytewise.events, whole.events);
}

TEST(TelnetCodec, WithoutBinaryTheNulAfterCrIsDroppedEvenAcrossReads) {
    const Bytes stream{0x41, 0x0D, 0x00, 0x42, 0x0D, 0x0A};
    EXPECT_EQ(DecodeInPieces(stream, {}, false).data, (Bytes{0x41, 0x0D, 0x42, 0x0D, 0x0A}));
    EXPECT_EQ(DecodeInPieces(stream, {2}, false).data, (Bytes{0x41, 0x0D, 0x42, 0x0D, 0x0A}));
    EXPECT_EQ(DecodeInPieces(stream, {2}, true).data, stream);
}

TEST(TelnetCodec, OtherCommandsCarryNoDataAndAnUnclosedSubnegotiationEndsAtTheNextCommand) {
    // NOP (241) and GA (249) vanish; SB without IAC SE is handed on when a command follows it.
    const Bytes stream{0x01, IAC, 241, 0x02, IAC, 249, IAC, SB, 44, 112, 1, IAC, WILL, 0, 0x03};
    const CRecorder found = DecodeInPieces(stream, {});
    EXPECT_EQ(found.data, (Bytes{0x01, 0x02, 0x03}));
    ASSERT_EQ(found.events.size(), 2u);
    EXPECT_EQ(found.events[0], "sb 44: 112 1 after 2");
    EXPECT_EQ(found.events[1], "cmd 251 0 after 2");
}

TEST(TelnetOptions, RequestsAreAnsweredOnceAndNegotiationNeverLoops) {
    CTelnetOptions options({OPT_BINARY, OPT_COM_PORT}, {OPT_BINARY});
    Bytes out;
    options.RequestOwn(OPT_COM_PORT, out);
    options.RequestOwn(OPT_COM_PORT, out);  // asked already: nothing more
    EXPECT_EQ(out, (Bytes{IAC, WILL, 44}));

    // The server's agreement to our request is not answered again.
    out.clear();
    options.Receive(DO, OPT_COM_PORT, out);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(options.OwnOn(OPT_COM_PORT));
    options.Receive(DO, OPT_COM_PORT, out);  // nothing changes: no answer
    EXPECT_TRUE(out.empty());

    // Its own offer of binary, unasked: agreed to, once.
    options.Receive(WILL, OPT_BINARY, out);
    options.Receive(WILL, OPT_BINARY, out);
    EXPECT_EQ(out, (Bytes{IAC, DO, 0}));
    EXPECT_TRUE(options.PeerOn(OPT_BINARY));

    // Echo and the rest are refused each time they are offered or asked for.
    out.clear();
    options.Receive(WILL, OPT_ECHO, out);
    options.Receive(DO, OPT_SGA, out);
    EXPECT_EQ(out, (Bytes{IAC, DONT, 1, IAC, WONT, 3}));
    EXPECT_FALSE(options.PeerOn(OPT_ECHO));

    // Turning an option off is acknowledged once.
    out.clear();
    options.Receive(WONT, OPT_BINARY, out);
    options.Receive(WONT, OPT_BINARY, out);
    EXPECT_EQ(out, (Bytes{IAC, DONT, 0}));
    EXPECT_FALSE(options.PeerOn(OPT_BINARY));
}

TEST(TelnetOptions, ARefusalOfOurRequestIsRememberedWithoutAnAnswer) {
    CTelnetOptions options({OPT_COM_PORT}, {});
    Bytes out;
    options.RequestOwn(OPT_COM_PORT, out);
    out.clear();
    options.Receive(DONT, OPT_COM_PORT, out);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(options.OwnRefused(OPT_COM_PORT));
    EXPECT_FALSE(options.OwnOn(OPT_COM_PORT));
}

TEST(ComPortOption, RatesTravelInNetworkOrderAndAnswersAreTakenApart) {
    EXPECT_EQ(ComPort::BaudRateRequest(1000000), (Bytes{1, 0x00, 0x0F, 0x42, 0x40}));
    EXPECT_EQ(ComPort::BaudRateRequest(0), (Bytes{1, 0, 0, 0, 0}));
    EXPECT_EQ(ComPort::ByteRequest(ComPort::PURGE_DATA, ComPort::PURGE_RECEIVE), (Bytes{12, 1}));

    const auto rate = ComPort::ParseServerAnswer({101, 0x00, 0x01, 0xF4, 0x00});
    ASSERT_TRUE(rate);
    EXPECT_EQ(rate->command, ComPort::SET_BAUDRATE);
    EXPECT_EQ(rate->value, 128000u);
    const auto purge = ComPort::ParseServerAnswer({112, 1});
    ASSERT_TRUE(purge);
    EXPECT_EQ(purge->command, ComPort::PURGE_DATA);
    EXPECT_EQ(purge->value, 1u);
    // A client's request, a cut-short rate and nothing at all are not answers.
    EXPECT_FALSE(ComPort::ParseServerAnswer({1, 0, 0, 0, 0}));
    EXPECT_FALSE(ComPort::ParseServerAnswer({101, 0, 0}));
    EXPECT_FALSE(ComPort::ParseServerAnswer({}));
}

TEST(NetworkPortName, HostsPortsAndTheirFaults) {
    struct CCase {
        const char* name;
        const char* host;  // nullptr: refused
        int port;
        const char* problem;
    };
    const CCase cases[] = {
        {"rfc2217://127.0.0.1:4000", "127.0.0.1", 4000, ""},
        {"RFC2217://robot.local:7000", "robot.local", 7000, ""},
        {"rfc2217://[::1]:65535", "::1", 65535, ""},
        {"rfc2217://[fe80::1%eth0]:1", "fe80::1%eth0", 1, ""},
        {"rfc2217://", nullptr, 0, "no host in rfc2217://"},
        {"rfc2217://:4000", nullptr, 0, "no host"},
        {"rfc2217://[]:4000", nullptr, 0, "no host"},
        {"rfc2217://robot", nullptr, 0, "no TCP port in rfc2217://robot"},
        {"rfc2217://robot:", nullptr, 0, "no TCP port"},
        {"rfc2217://robot:0", nullptr, 0, "TCP port 0 out of range"},
        {"rfc2217://robot:65536", nullptr, 0, "TCP port 65536 out of range"},
        {"rfc2217://robot:40x0", nullptr, 0, "out of range"},
        {"rfc2217://::1:4000", nullptr, 0, "needs brackets"},
        {"rfc2217://[::1:4000", nullptr, 0, "no closing bracket"},
        {"rfc2217://[::1]4000", nullptr, 0, "a colon and the TCP port"},
    };
    for (const CCase& c : cases) {
        std::string problem;
        const auto parsed = ParseNetworkPortName(c.name, &problem);
        if (c.host) {
            ASSERT_TRUE(parsed) << c.name << ": " << problem;
            EXPECT_EQ(parsed->host, c.host);
            EXPECT_EQ(parsed->port, c.port);
        } else {
            EXPECT_FALSE(parsed) << c.name;
            EXPECT_NE(problem.find(c.problem), std::string::npos) << c.name << ": " << problem;
        }
    }
    EXPECT_EQ((CNetworkPortName{"::1", 4000}.HostPort()), "[::1]:4000");
    EXPECT_TRUE(IsNetworkPortName("rfc2217://x"));
    EXPECT_FALSE(IsNetworkPortName("/dev/ttyUSB0"));
    EXPECT_FALSE(IsNetworkPortName("rfc2217:"));
}
