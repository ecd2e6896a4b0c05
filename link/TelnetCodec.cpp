// The decoder is a byte-at-a-time state machine, so it cannot matter where TCP cut the stream.
#include "link/TelnetCodec.h"

namespace Telnet {

void AppendData(const uint8_t* data, int count, bool binary, std::vector<uint8_t>& out) {
    for (int i = 0; i < count; ++i) {
        out.push_back(data[i]);
        if (data[i] == IAC) out.push_back(IAC);
        if (data[i] == CR && !binary) out.push_back(NUL);
    }
}

void AppendCommand(uint8_t verb, uint8_t option, std::vector<uint8_t>& out) {
    out.insert(out.end(), {IAC, verb, option});
}

void AppendSubnegotiation(uint8_t option, const std::vector<uint8_t>& payload, std::vector<uint8_t>& out) {
    out.insert(out.end(), {IAC, SB, option});
    for (uint8_t byte : payload) {
        out.push_back(byte);
        if (byte == IAC) out.push_back(IAC);
    }
    out.insert(out.end(), {IAC, SE});
}

}  // namespace Telnet

using namespace Telnet;

void CTelnetDecoder::Feed(const uint8_t* bytes, int count, CTelnetSink& sink) {
    int runStart = 0;  // the data run so far, handed on in one piece
    auto flush = [&](int end) {
        if (end > runStart) sink.OnData(bytes + runStart, end - runStart);
    };
    for (int i = 0; i < count; ++i) {
        const uint8_t byte = bytes[i];
        bool data = false;
        switch (m_state) {
            case EState::AfterCr:
                m_state = EState::Data;
                if (byte == NUL && !m_bPeerBinary) {
                    flush(i);
                    break;
                }
                [[fallthrough]];
            case EState::Data:
                if (byte == IAC) {
                    flush(i);
                    m_state = EState::Iac;
                } else {
                    data = true;
                    if (byte == CR) m_state = EState::AfterCr;
                }
                break;
            case EState::Iac:
                if (byte == IAC) {
                    data = true;  // the second of a doubled IAC opens the next data run
                    m_state = EState::Data;
                } else if (byte >= WILL) {
                    m_verb = byte;
                    m_state = EState::Verb;
                } else if (byte == SB) {
                    m_state = EState::SbOption;
                } else {
                    m_state = EState::Data;  // NOP, GA, BREAK and the like carry nothing for a serial line
                }
                break;
            case EState::Verb:
                sink.OnCommand(m_verb, byte);
                m_state = EState::Data;
                break;
            case EState::SbOption:
                m_sbOption = byte;
                m_sbPayload.clear();
                m_state = EState::SbData;
                break;
            case EState::SbData:
                if (byte == IAC)
                    m_state = EState::SbIac;
                else
                    m_sbPayload.push_back(byte);
                break;
            case EState::SbIac:
                if (byte == IAC) {
                    m_sbPayload.push_back(IAC);
                    m_state = EState::SbData;
                } else if (byte == SE) {
                    sink.OnSubnegotiation(m_sbOption, m_sbPayload);
                    m_state = EState::Data;
                } else {
                    // A command inside a sub-negotiation: the sender never closed it. Keep what came and
                    // read this byte again as the command it is.
                    sink.OnSubnegotiation(m_sbOption, m_sbPayload);
                    m_state = EState::Iac;
                    --i;
                }
                break;
        }
        if (!data) runStart = i + 1;
    }
    flush(count);
}

CTelnetOptions::CTelnetOptions(std::vector<uint8_t> ownOptions, std::vector<uint8_t> peerOptions) {
    for (uint8_t option : ownOptions) m_own[option].allowed = true;
    for (uint8_t option : peerOptions) m_peer[option].allowed = true;
}

void CTelnetOptions::RequestOwn(uint8_t option, std::vector<uint8_t>& out) {
    COption& own = m_own[option];
    own.allowed = true;
    if (own.on || own.asked) return;
    own.asked = true;
    AppendCommand(WILL, option, out);
}

void CTelnetOptions::RequestPeer(uint8_t option, std::vector<uint8_t>& out) {
    COption& peer = m_peer[option];
    peer.allowed = true;
    if (peer.on || peer.asked) return;
    peer.asked = true;
    AppendCommand(DO, option, out);
}

void CTelnetOptions::Settle(COption& option, bool wantsOn, uint8_t yes, uint8_t no, uint8_t code,
                            std::vector<uint8_t>& out) {
    const bool wasAsked = option.asked;
    option.asked = false;
    if (wantsOn) {
        if (option.on) return;
        if (!option.allowed) {
            AppendCommand(no, code, out);
            return;
        }
        option.on = true;
        option.refused = false;
        if (!wasAsked) AppendCommand(yes, code, out);
        return;
    }
    if (!option.on) {
        if (wasAsked) option.refused = true;  // the answer to our request: no
        return;
    }
    option.on = false;
    option.refused = true;
    AppendCommand(no, code, out);
}

void CTelnetOptions::Receive(uint8_t verb, uint8_t option, std::vector<uint8_t>& out) {
    switch (verb) {
        case WILL:
            Settle(m_peer[option], true, DO, DONT, option, out);
            break;
        case WONT:
            Settle(m_peer[option], false, DO, DONT, option, out);
            break;
        case DO:
            Settle(m_own[option], true, WILL, WONT, option, out);
            break;
        case DONT:
            Settle(m_own[option], false, WILL, WONT, option, out);
            break;
        default:
            break;
    }
}
