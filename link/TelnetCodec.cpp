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
    for (int i = 0; i < count; ++i) {
        const EByteRole role = Take(bytes[i], sink);
        if (role == EByteRole::Data) continue;
        if (role == EByteRole::EndsRun && i > runStart) sink.OnData(bytes + runStart, i - runStart);
        if (role == EByteRole::Again) --i;
        runStart = i + 1;
    }
    if (count > runStart) sink.OnData(bytes + runStart, count - runStart);
}

CTelnetDecoder::EByteRole CTelnetDecoder::Take(uint8_t byte, CTelnetSink& sink) {
    switch (m_state) {
        case EState::Data:
        case EState::AfterCr:
            return TakeData(byte);
        case EState::Iac:
        case EState::Verb:
        case EState::SbOption:
            return TakeCommand(byte, sink);
        case EState::SbData:
        case EState::SbIac:
            return TakeSubnegotiation(byte, sink);
    }
    return EByteRole::Other;
}

CTelnetDecoder::EByteRole CTelnetDecoder::TakeData(uint8_t byte) {
    const bool afterCr = m_state == EState::AfterCr;
    m_state = EState::Data;
    if (afterCr && byte == NUL && !m_bPeerBinary) return EByteRole::EndsRun;
    if (byte == IAC) {
        m_state = EState::Iac;
        return EByteRole::EndsRun;
    }
    if (byte == CR) m_state = EState::AfterCr;
    return EByteRole::Data;
}

CTelnetDecoder::EByteRole CTelnetDecoder::TakeCommand(uint8_t byte, CTelnetSink& sink) {
    if (m_state == EState::Verb) {
        sink.OnCommand(m_verb, byte);
        m_state = EState::Data;
        return EByteRole::Other;
    }
    if (m_state == EState::SbOption) {
        m_sbOption = byte;
        m_sbPayload.clear();
        m_state = EState::SbData;
        return EByteRole::Other;
    }
    if (byte == IAC) {
        m_state = EState::Data;
        return EByteRole::Data;  // the second of a doubled IAC opens the next data run
    }
    if (byte >= WILL) {
        m_verb = byte;
        m_state = EState::Verb;
    } else if (byte == SB) {
        m_state = EState::SbOption;
    } else {
        m_state = EState::Data;  // NOP, GA, BREAK and the like carry nothing for a serial line
    }
    return EByteRole::Other;
}

CTelnetDecoder::EByteRole CTelnetDecoder::TakeSubnegotiation(uint8_t byte, CTelnetSink& sink) {
    if (m_state == EState::SbData) {
        if (byte == IAC)
            m_state = EState::SbIac;
        else
            m_sbPayload.push_back(byte);
        return EByteRole::Other;
    }
    if (byte == IAC) {
        m_sbPayload.push_back(IAC);
        m_state = EState::SbData;
        return EByteRole::Other;
    }
    sink.OnSubnegotiation(m_sbOption, m_sbPayload);
    if (byte == SE) {
        m_state = EState::Data;
        return EByteRole::Other;
    }
    // A command inside a sub-negotiation: the sender never closed it. Keep what came and read this byte
    // again as the command it is.
    m_state = EState::Iac;
    return EByteRole::Again;
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
