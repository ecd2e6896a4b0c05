// The server answers COM-PORT requests in the order they came, in the same stream as the serial data, so
// its answers double as fences: data that came before the answer to our latest PURGE-DATA left the serial
// port before the purge and is stale, and an answer overdue by a timeout means the server or the network
// is gone. Modem-control requests are never sent nor waited for: ser2net leaves them unanswered on a
// pseudo-terminal.
#include "link/Rfc2217Usb.h"

#include <algorithm>
#include <cctype>
#include <thread>

#include "link/ComPortOption.h"

using namespace Telnet;

namespace {

// Connecting may take longer than an exchange: a server across a slow link still deserves its chance.
constexpr std::chrono::milliseconds kConnectLimit{2000};
// A server that says nothing more for this long has said what it had to say on connecting.
constexpr std::chrono::milliseconds kServerPause{2};
// How much of what a server says before refusing us is worth repeating.
constexpr size_t kServerTextLimit = 200;

std::chrono::microseconds WireTime(uint32_t baud, int bytes) {
    std::chrono::microseconds wire{1000};
    if (baud > 0 && bytes > 0)
        wire = std::max(wire,
                        std::chrono::microseconds(static_cast<long long>(bytes) * 10 * 1000000 / baud + 1));
    return wire;
}

std::string Trimmed(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

}  // namespace

CRfc2217Usb::CRfc2217Usb(std::string portName) : m_szPortName(std::move(portName)) {}

CRfc2217Usb::~CRfc2217Usb() {
    Close();
}

void CRfc2217Usb::SetProblem(std::string problem) {
    std::lock_guard<std::mutex> lock(m_mxProblem);
    m_szProblem = std::move(problem);
}

std::string CRfc2217Usb::OpenProblem() const {
    std::lock_guard<std::mutex> lock(m_mxProblem);
    return m_szProblem;
}

void CRfc2217Usb::SetPortLostHandler(std::function<void()> handler) {
    std::lock_guard<std::mutex> lock(m_mxHandler);
    m_onPortLost = std::move(handler);
}

void CRfc2217Usb::Lose(std::string reason) {
    if (m_bPortLost.exchange(true)) return;
    SetProblem(std::move(reason));
    std::function<void()> handler;
    {
        std::lock_guard<std::mutex> lock(m_mxHandler);
        handler = m_onPortLost;
    }
    if (handler) handler();
}

int CRfc2217Usb::FindDevice() {
    std::string problem;
    const auto parsed = ParseNetworkPortName(m_szPortName, &problem);
    if (!parsed) {
        SetProblem(problem);
        return 0;
    }
    auto addresses = NetSocket::Resolve(parsed->host, parsed->port, &problem);
    if (addresses.empty()) {
        SetProblem("cannot find host " + parsed->host + " (" + problem + ")");
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_mxPort);
    m_address = *parsed;
    m_addresses = std::move(addresses);
    SetProblem({});
    return 1;
}

void CRfc2217Usb::SendComPort(const std::vector<uint8_t>& payload, std::vector<uint8_t>& out) const {
    AppendSubnegotiation(OPT_COM_PORT, payload, out);
}

bool CRfc2217Usb::Send(const std::vector<uint8_t>& bytes) {
    if (m_bEnded) return false;
    const auto sent = NetSocket::SendUntil(m_socket, bytes.data(), static_cast<int>(bytes.size()),
                                           Clock::now() + Timeout());
    if (sent.ended) m_bEnded = true;
    if (sent.count == static_cast<int>(bytes.size())) return true;
    if (!m_bOpening)
        Lose(m_bEnded ? m_address.HostPort() + " closed the connection"
                      : m_address.HostPort() + " takes no data within " + std::to_string(Timeout().count()) +
                            " ms");
    return false;
}

bool CRfc2217Usb::ReceiveUntil(NetSocket::Deadline deadline) {
    if (m_bEnded) return false;
    uint8_t buffer[4096];
    const auto got = NetSocket::ReceiveSome(m_socket, buffer, sizeof buffer, deadline);
    if (got.count > 0) {
        m_tLastHeard = Clock::now();
        m_decoder.Feed(buffer, got.count, *this);
    }
    if (!m_replies.empty()) {
        const std::vector<uint8_t> replies = std::move(m_replies);
        m_replies.clear();
        Send(replies);
    }
    if (got.ended) {
        m_bEnded = true;
        if (!m_bOpening) Lose(m_address.HostPort() + " closed the connection");
    }
    return !m_bEnded;
}

void CRfc2217Usb::OnData(const uint8_t* data, int count) {
    if (m_bOpening) {
        const size_t room = kServerTextLimit - std::min(kServerTextLimit, m_szServerText.size());
        m_szServerText.append(reinterpret_cast<const char*>(data), std::min<size_t>(room, count));
        return;
    }
    if (m_nPurgesUnanswered > 0) return;  // left the serial port before our purge
    if (m_nDataTaken == m_data.size()) {
        m_data.clear();
        m_nDataTaken = 0;
    }
    m_data.insert(m_data.end(), data, data + count);
}

void CRfc2217Usb::OnCommand(uint8_t verb, uint8_t option) {
    m_pOptions->Receive(verb, option, m_replies);
    m_decoder.SetPeerBinary(m_pOptions->PeerOn(OPT_BINARY));
}

void CRfc2217Usb::OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& payload) {
    if (option != OPT_COM_PORT) return;
    const auto answer = ComPort::ParseServerAnswer(payload);
    if (!answer) return;
    switch (answer->command) {
        case ComPort::SET_BAUDRATE:
            m_nLastBaudAnswer = answer->value;
            ++m_nBaudAnswers;
            if (!m_awaited.empty()) m_awaited.pop_front();
            break;
        case ComPort::PURGE_DATA:
            if (m_nPurgesUnanswered > 0) {
                --m_nPurgesUnanswered;
                if (m_bServerAnswersPurges && !m_awaited.empty()) m_awaited.pop_front();
            }
            break;
        case ComPort::SET_DATASIZE:
        case ComPort::SET_PARITY:
        case ComPort::SET_STOPSIZE:
            m_lineAnswers[answer->command] = static_cast<int>(answer->value);
            break;
        default:
            break;  // line and modem state notices, flow control: nothing a servo bus uses
    }
}

uint32_t CRfc2217Usb::RequestRate(uint32_t baud, std::vector<uint8_t>& out) {
    SendComPort(ComPort::BaudRateRequest(baud), out);
    m_awaited.push_back(Clock::now());
    return ++m_nBaudRequests;
}

bool CRfc2217Usb::AwaitBaudAnswers(uint32_t baudAnswers, NetSocket::Deadline deadline) {
    while (m_nBaudAnswers < baudAnswers) {
        if (Clock::now() >= deadline) return false;
        if (!ReceiveUntil(deadline)) return false;
    }
    return true;
}

int CRfc2217Usb::FailOpen(std::string reason) {
    SetProblem(std::move(reason));
    NetSocket::Close(m_socket);
    m_socket = NetSocket::kNoSocket;
    m_bOpening = false;
    return 0;
}

std::string CRfc2217Usb::ClosedDuringOpen() const {
    const std::string said = Trimmed(m_szServerText);
    std::string lower = said;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.find("in use") != std::string::npos)
        return m_szPortName + " is busy (another client has it open; the server says \"" + said + "\")";
    if (!said.empty()) return m_address.HostPort() + " closed the connection: \"" + said + "\"";
    return m_address.HostPort() + " closed the connection";
}

bool CRfc2217Usb::Negotiate() {
    const auto deadline = Clock::now() + Timeout();
    // Servers speak first, and a refusal ("Port already in use") comes before a word from us and is followed
    // by the close: our words would then meet a closed connection, whose reset throws away what we had not
    // read yet. So listen first, for up to half the timeout and until the server pauses.
    const auto connected = Clock::now();
    ReceiveUntil(connected + Timeout() / 2);
    if (m_tLastHeard > connected) {
        while (!m_bEnded && Clock::now() < deadline) {
            const auto before = m_tLastHeard;
            ReceiveUntil(std::min(deadline, Clock::now() + kServerPause));
            if (m_tLastHeard == before) break;
        }
    }
    if (m_bEnded) return FailOpen(ClosedDuringOpen()) != 0;
    std::vector<uint8_t> out;
    m_pOptions->RequestOwn(OPT_BINARY, out);
    m_pOptions->RequestPeer(OPT_BINARY, out);
    m_pOptions->RequestOwn(OPT_COM_PORT, out);
    if (!Send(out)) return FailOpen(ClosedDuringOpen()) != 0;
    const std::string refusal = m_address.HostPort() + " does not speak RFC 2217";
    while (!m_pOptions->OwnOn(OPT_COM_PORT)) {
        if (m_pOptions->OwnRefused(OPT_COM_PORT)) return FailOpen(refusal) != 0;
        if (Clock::now() >= deadline) return FailOpen(m_bEnded ? ClosedDuringOpen() : refusal) != 0;
        if (!ReceiveUntil(deadline)) return FailOpen(ClosedDuringOpen()) != 0;
    }
    return true;
}

bool CRfc2217Usb::SetUpLine() {
    std::vector<uint8_t> out;
    SendComPort(ComPort::ByteRequest(ComPort::SET_DATASIZE, 8), out);
    SendComPort(ComPort::ByteRequest(ComPort::SET_PARITY, ComPort::PARITY_NONE), out);
    SendComPort(ComPort::ByteRequest(ComPort::SET_STOPSIZE, ComPort::STOPSIZE_1), out);
    SendComPort(ComPort::ByteRequest(ComPort::SET_CONTROL, ComPort::CONTROL_NO_FLOW), out);
    SendComPort(ComPort::ByteRequest(ComPort::PURGE_DATA, ComPort::PURGE_BOTH), out);
    // The rate query last: its answer comes after every other one, so whether the server answers purges is
    // known by then.
    const uint32_t answer = RequestRate(0, out);
    m_nPurgesUnanswered = 1;
    if (!Send(out)) return FailOpen(ClosedDuringOpen()) != 0;
    if (!AwaitBaudAnswers(answer, Clock::now() + Timeout()))
        return FailOpen(m_bEnded ? ClosedDuringOpen()
                                 : m_address.HostPort() + " does not answer COM-PORT-OPTION requests") != 0;
    m_bServerAnswersPurges = m_nPurgesUnanswered == 0;
    m_nPurgesUnanswered = 0;
    const auto refused = [this](uint8_t command, int wanted) {
        return m_lineAnswers[command] > 0 && m_lineAnswers[command] != wanted;
    };
    if (refused(ComPort::SET_DATASIZE, 8) || refused(ComPort::SET_PARITY, ComPort::PARITY_NONE) ||
        refused(ComPort::SET_STOPSIZE, ComPort::STOPSIZE_1))
        return FailOpen(m_address.HostPort() +
                        " cannot run its line at 8 data bits, no parity, 1 stop bit") != 0;
    m_nRate = m_nLastBaudAnswer;
    return true;
}

int CRfc2217Usb::Open() {
    std::lock_guard<std::mutex> lock(m_mxPort);
    if (m_bOpen || m_addresses.empty()) return 0;
    SetProblem({});
    NetSocket::EConnect why = NetSocket::EConnect::NoAnswer;
    const auto connectLimit = std::max<Clock::duration>(Timeout(), kConnectLimit);
    m_socket = NetSocket::Connect(m_addresses, Clock::now() + connectLimit, &why);
    if (m_socket == NetSocket::kNoSocket) {
        SetProblem(why == NetSocket::EConnect::Refused
                       ? m_address.HostPort() + " refused the connection (nothing serves that port)"
                       : m_address.HostPort() + " does not answer");
        return 0;
    }
    m_decoder = CTelnetDecoder();
    m_pOptions = std::make_unique<CTelnetOptions>(std::vector<uint8_t>{OPT_BINARY, OPT_SGA, OPT_COM_PORT},
                                                  std::vector<uint8_t>{OPT_BINARY, OPT_SGA});
    m_replies.clear();
    m_data.clear();
    m_nDataTaken = 0;
    m_bOpening = true;
    m_bEnded = false;
    m_szServerText.clear();
    m_nPurgesUnanswered = 0;
    m_bServerAnswersPurges = false;
    m_awaited.clear();
    m_tLastHeard = Clock::now();
    m_nBaudAnswers = 0;
    m_nBaudRequests = 0;
    m_nLastBaudAnswer = 0;
    std::fill(std::begin(m_lineAnswers), std::end(m_lineAnswers), -1);
    m_bWroteSinceRateChange = false;
    m_nLastWriteBytes = 0;
    m_bPortLost = false;
    if (!Negotiate() || !SetUpLine()) return 0;
    m_bOpening = false;
    m_szServerText.clear();
    m_data.clear();
    m_bOpen = true;
    return 1;
}

int CRfc2217Usb::Close() {
    std::lock_guard<std::mutex> lock(m_mxPort);
    if (!m_bOpen) return 0;
    NetSocket::Close(m_socket);
    m_socket = NetSocket::kNoSocket;
    m_bOpen = false;
    m_nRate = 0;
    m_bPortLost = false;
    return 1;
}

int CRfc2217Usb::Configure(int baud) {
    std::lock_guard<std::mutex> lock(m_mxPort);
    if (!m_bOpen) return 0;
    const uint32_t previous = m_nRate.load();
    if (m_bPortLost) return static_cast<int>(previous);
    const std::string silence =
        "no answer from " + m_address.HostPort() + " within " + std::to_string(Timeout().count()) + " ms";
    if (m_bWroteSinceRateChange) {
        // The last request must leave at the old rate: the server's answer to a rate query comes once it
        // has handed everything before to its serial port, and then the bytes need their wire time.
        std::vector<uint8_t> query;
        const uint32_t answer = RequestRate(0, query);
        if (!Send(query) || !AwaitBaudAnswers(answer, Clock::now() + Timeout())) {
            Lose(silence);
            return static_cast<int>(previous);
        }
        std::this_thread::sleep_for(WireTime(previous, m_nLastWriteBytes));
    }
    std::vector<uint8_t> out;
    const uint32_t answers = RequestRate(static_cast<uint32_t>(std::max(baud, 0)), out);
    SendComPort(ComPort::ByteRequest(ComPort::PURGE_DATA, ComPort::PURGE_BOTH), out);
    if (m_bServerAnswersPurges) {
        ++m_nPurgesUnanswered;
        m_awaited.push_back(Clock::now());
    }
    m_data.clear();
    m_nDataTaken = 0;
    if (!Send(out) || !AwaitBaudAnswers(answers, Clock::now() + Timeout())) {
        Lose(silence);
        return static_cast<int>(previous);
    }
    m_nRate = m_nLastBaudAnswer;
    m_bWroteSinceRateChange = false;
    return static_cast<int>(previous);
}

int CRfc2217Usb::LineRate() {
    std::lock_guard<std::mutex> lock(m_mxPort);
    if (!m_bOpen || m_bPortLost) return 0;
    return static_cast<int>(m_nRate.load());
}

int CRfc2217Usb::TakeData(uint8_t* buffer, int count) {
    const int taken =
        static_cast<int>(std::min<size_t>(static_cast<size_t>(count), m_data.size() - m_nDataTaken));
    std::copy_n(m_data.begin() + static_cast<std::ptrdiff_t>(m_nDataTaken), taken, buffer);
    m_nDataTaken += static_cast<size_t>(taken);
    return taken;
}

void CRfc2217Usb::CheckAlive(bool mayAsk) {
    if (m_bPortLost || m_bEnded) return;
    const auto now = Clock::now();
    if (!m_awaited.empty()) {
        if (now - m_awaited.front() > Timeout())
            Lose("no answer from " + m_address.HostPort() + " within " + std::to_string(Timeout().count()) +
                 " ms");
        return;
    }
    if (!mayAsk || now - m_tLastHeard < Timeout()) return;
    // A quiet server may be gone without a word (a cable pulled, a computer switched off): ask for its rate,
    // which it answers at once when it is there.
    std::vector<uint8_t> query;
    RequestRate(0, query);
    Send(query);
}

int CRfc2217Usb::Write(const uint8_t* data, int count) {
    std::lock_guard<std::mutex> lock(m_mxPort);
    if (!m_bOpen || m_bPortLost || count <= 0) return 0;
    ReceiveUntil(Clock::now());  // answers that came meanwhile
    CheckAlive(false);
    if (m_bPortLost) return 0;
    m_data.clear();
    m_nDataTaken = 0;
    std::vector<uint8_t> out;
    SendComPort(ComPort::ByteRequest(ComPort::PURGE_DATA, ComPort::PURGE_RECEIVE), out);
    AppendData(data, count, m_pOptions->OwnOn(OPT_BINARY), out);
    if (m_bServerAnswersPurges) {
        ++m_nPurgesUnanswered;
        m_awaited.push_back(Clock::now());
    }
    if (!Send(out)) return 0;
    m_bWroteSinceRateChange = true;
    m_nLastWriteBytes = count;
    return count;
}

CUsb::Deadline CRfc2217Usb::ReadDeadline() const {
    const int64_t windowUs = m_nReadWindowUs.load();
    return Clock::now() + (windowUs > 0 ? std::chrono::microseconds(windowUs)
                                        : std::chrono::duration_cast<std::chrono::microseconds>(Timeout()));
}

int CRfc2217Usb::ReadUntil(uint8_t* buffer, int count, Deadline deadline) {
    std::lock_guard<std::mutex> lock(m_mxPort);
    if (!m_bOpen || m_bPortLost || count <= 0) return 0;
    int got = 0;
    for (;;) {
        got += TakeData(buffer + got, count - got);
        if (got == count) break;
        const bool last = Clock::now() >= deadline;
        if (!ReceiveUntil(deadline)) break;
        if (last) {
            got += TakeData(buffer + got, count - got);
            break;
        }
    }
    if (got < count) CheckAlive(true);
    return got;
}
