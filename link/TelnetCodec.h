// Telnet's byte stream as a network serial port uses it: data with IAC doubled, option commands and
// sub-negotiations, taken apart again across reads however TCP splits them.
//
// Thread rules: plain values; an instance belongs to whoever owns the connection.
#pragma once

#include <cstdint>
#include <vector>

namespace Telnet {
inline constexpr uint8_t IAC = 255;
inline constexpr uint8_t DONT = 254;
inline constexpr uint8_t DO = 253;
inline constexpr uint8_t WONT = 252;
inline constexpr uint8_t WILL = 251;
inline constexpr uint8_t SB = 250;
inline constexpr uint8_t SE = 240;
inline constexpr uint8_t CR = 13;
inline constexpr uint8_t NUL = 0;

inline constexpr uint8_t OPT_BINARY = 0;
inline constexpr uint8_t OPT_ECHO = 1;
inline constexpr uint8_t OPT_SGA = 3;
inline constexpr uint8_t OPT_COM_PORT = 44;

// Appends data as it travels: every IAC doubled, and without binary transmission every CR followed by NUL,
// so the far end hands on a lone CR.
void AppendData(const uint8_t* data, int count, bool binary, std::vector<uint8_t>& out);
// IAC verb option, verb one of WILL, WONT, DO, DONT.
void AppendCommand(uint8_t verb, uint8_t option, std::vector<uint8_t>& out);
// IAC SB option payload IAC SE, with IAC in the payload doubled.
void AppendSubnegotiation(uint8_t option, const std::vector<uint8_t>& payload, std::vector<uint8_t>& out);
}  // namespace Telnet

// What the decoder found, in the order it came: data runs, option commands and whole sub-negotiations.
class CTelnetSink {
public:
    virtual ~CTelnetSink() = default;
    virtual void OnData(const uint8_t* data, int count) = 0;
    virtual void OnCommand(uint8_t verb, uint8_t option) = 0;
    // The payload with its IAC undoubled; only once IAC SE has arrived.
    virtual void OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& payload) = 0;
};

class CTelnetDecoder {
public:
    // Takes apart bytes as they came off the connection; a command, sub-negotiation or doubled IAC split
    // between two calls is finished by the next.
    void Feed(const uint8_t* bytes, int count, CTelnetSink& sink);
    // Without binary transmission from the far end, the NUL it sends after a CR is not data.
    void SetPeerBinary(bool binary) { m_bPeerBinary = binary; }
    // True while a command or sub-negotiation is unfinished.
    bool InCommand() const { return m_state != EState::Data && m_state != EState::AfterCr; }

private:
    enum class EState { Data, AfterCr, Iac, Verb, SbOption, SbData, SbIac };
    // What a byte is to the data run Feed collects: part of it; the end of it (the run before the byte is
    // handed on); something else; or a byte to be read once more in the state it brought about.
    enum class EByteRole { Data, EndsRun, Other, Again };

    EByteRole Take(uint8_t byte, CTelnetSink& sink);
    EByteRole TakeData(uint8_t byte);
    EByteRole TakeCommand(uint8_t byte, CTelnetSink& sink);
    EByteRole TakeSubnegotiation(uint8_t byte, CTelnetSink& sink);

    EState m_state = EState::Data;
    uint8_t m_verb = 0;
    uint8_t m_sbOption = 0;
    std::vector<uint8_t> m_sbPayload;
    bool m_bPeerBinary = false;
};

// Which options are on at each end, and what to answer the far end's requests so that negotiation never
// loops: a request that changes nothing gets no answer, one we asked for is not answered again.
class CTelnetOptions {
public:
    // Options this end agrees to use itself (WILL) and to let the far end use (DO).
    CTelnetOptions(std::vector<uint8_t> ownOptions, std::vector<uint8_t> peerOptions);

    // Our request to use an option (WILL) or to have the far end use one (DO); nothing when it is on already.
    void RequestOwn(uint8_t option, std::vector<uint8_t>& out);
    void RequestPeer(uint8_t option, std::vector<uint8_t>& out);
    // Handles the far end's WILL, WONT, DO or DONT, appending the answer that is due.
    void Receive(uint8_t verb, uint8_t option, std::vector<uint8_t>& out);

    bool OwnOn(uint8_t option) const { return m_own[option].on; }
    bool PeerOn(uint8_t option) const { return m_peer[option].on; }
    // The far end said no to a request of ours, or turned an option off.
    bool OwnRefused(uint8_t option) const { return m_own[option].refused; }
    bool PeerRefused(uint8_t option) const { return m_peer[option].refused; }

private:
    struct COption {
        bool on = false;
        bool asked = false;  // our request is on its way
        bool refused = false;
        bool allowed = false;
    };
    static void Settle(COption& option, bool wantsOn, uint8_t yes, uint8_t no, uint8_t code,
                       std::vector<uint8_t>& out);

    COption m_own[256];
    COption m_peer[256];
};
