// A small RFC 2217 server on 127.0.0.1 for the network transport's tests: it serves one client at a time,
// either bridging to a pseudo-terminal (the simulator's, as ser2net would) or answering data through a
// handler, and it misbehaves on request: no negotiation, a refused rate, a busy port, silence, a hang-up.
//
// Thread rules: configure before Start; the policy flags are atomics a test may flip at any time; the
// server's own thread is joined by Stop and the destructor.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/ComPortOption.h"
#include "link/KernelTermios.h"
#include "link/TelnetCodec.h"

class CFakeComPortServer : private CTelnetSink {
public:
    // What the server does with the serial data a client sends when no pseudo-terminal is bridged.
    using CDataHandler = std::function<std::vector<uint8_t>(const std::vector<uint8_t>&)>;

    CFakeComPortServer() {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 4) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_nPort = ntohs(address.sin_port);
        if (::pipe2(m_wake, O_CLOEXEC) != 0) m_wake[0] = m_wake[1] = -1;
    }
    ~CFakeComPortServer() {
        Stop();
        ::close(m_listener);
        for (int fd : m_wake)
            if (fd >= 0) ::close(fd);
        if (m_pty >= 0) ::close(m_pty);
    }
    CFakeComPortServer(const CFakeComPortServer&) = delete;
    CFakeComPortServer& operator=(const CFakeComPortServer&) = delete;

    std::string PortName() const { return "rfc2217://127.0.0.1:" + std::to_string(m_nPort); }
    int Port() const { return m_nPort; }

    // Serial data goes to and comes from this terminal, whose rate follows SET-BAUDRATE (ser2net's way).
    bool BridgeTo(const std::string& ptyPath) {
        m_pty = ::open(ptyPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        return m_pty >= 0;
    }
    void SetDataHandler(CDataHandler handler) { m_handler = std::move(handler); }
    // The rate the server answers a SET-BAUDRATE for `asked` with (default: the rate asked, or the current
    // one for a query).
    void SetRateAnswer(std::function<uint32_t(uint32_t asked)> answer) { m_rateAnswer = std::move(answer); }

    void Start() {
        m_bStop = false;
        m_thread = std::thread([this] { Serve(); });
    }
    void Stop() {
        m_bStop = true;
        if (m_wake[1] >= 0) Ignore(::write(m_wake[1], "x", 1));
        if (m_thread.joinable()) m_thread.join();
    }

    // Misbehaviour, any time.
    std::atomic<bool> m_bNegotiate{true};     // false: a plain TCP service that says nothing
    std::atomic<bool> m_bAnswerPurges{true};  // false: PURGE-DATA goes unanswered (RFC 2217 allows it)
    std::atomic<bool> m_bMute{false};         // true: takes everything, answers nothing
    std::atomic<bool> m_bHangUp{false};       // true: closes the connection at its next turn
    std::string m_szRefusal;                  // set before Start: sent after the negotiation, then it closes
    // Sent just ahead of the answer to the next PURGE-DATA: serial data that left before the purge.
    void SendStaleBeforeNextPurgeAnswer(std::vector<uint8_t> bytes) {
        std::lock_guard<std::mutex> lock(m_mxReceived);
        m_staleBeforePurgeAnswer = std::move(bytes);
    }

    // What the client sent, for the tests to look at.
    std::atomic<int> m_nConnections{0};
    std::atomic<int> m_nPurges{0};
    std::atomic<uint32_t> m_nRate{0};
    std::vector<uint8_t> ReceivedData() {
        std::lock_guard<std::mutex> lock(m_mxReceived);
        return m_received;
    }

private:
    static void Ignore(ssize_t) {}

    void Serve() {
        while (!m_bStop) {
            pollfd fds[2] = {{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) <= 0 || (fds[1].revents & POLLIN)) return;
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            ++m_nConnections;
            Talk(client);
            ::close(client);
        }
    }

    void Talk(int client) {
        m_client = client;
        const int on = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        m_decoder = CTelnetDecoder();
        if (m_bNegotiate) {
            std::vector<uint8_t> hello;
            Telnet::AppendCommand(Telnet::DO, Telnet::OPT_COM_PORT, hello);
            Telnet::AppendCommand(Telnet::WILL, Telnet::OPT_BINARY, hello);
            Telnet::AppendCommand(Telnet::DO, Telnet::OPT_BINARY, hello);
            SendRaw(hello);
            if (!m_szRefusal.empty()) {
                SendRaw(std::vector<uint8_t>(m_szRefusal.begin(), m_szRefusal.end()));
                return;
            }
        }
        while (!m_bStop && !m_bHangUp) {
            pollfd fds[3] = {{client, POLLIN, 0}, {m_wake[0], POLLIN, 0}, {m_pty, POLLIN, 0}};
            if (::poll(fds, m_pty >= 0 ? 3 : 2, 20) < 0) return;
            if (fds[1].revents & POLLIN) return;
            if (m_pty >= 0 && (fds[2].revents & POLLIN)) {
                uint8_t bytes[512];
                const ssize_t n = ::read(m_pty, bytes, sizeof bytes);
                if (n > 0 && !m_bMute) SendData(std::vector<uint8_t>(bytes, bytes + n));
            }
            if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
                uint8_t bytes[512];
                const ssize_t n = ::recv(client, bytes, sizeof bytes, 0);
                if (n <= 0) return;
                if (!m_bMute) m_decoder.Feed(bytes, static_cast<int>(n), *this);
            }
        }
    }

    void OnData(const uint8_t* data, int count) override {
        std::vector<uint8_t> bytes(data, data + count);
        {
            std::lock_guard<std::mutex> lock(m_mxReceived);
            m_received.insert(m_received.end(), bytes.begin(), bytes.end());
        }
        if (m_pty >= 0) {
            Ignore(::write(m_pty, bytes.data(), bytes.size()));
        } else if (m_handler) {
            SendData(m_handler(bytes));
        }
    }
    void OnCommand(uint8_t verb, uint8_t option) override {
        // Agrees to what it offered, refuses the rest, and answers nothing twice.
        std::vector<uint8_t> reply;
        const bool known = option == Telnet::OPT_BINARY || option == Telnet::OPT_COM_PORT;
        if (verb == Telnet::WILL && !known) Telnet::AppendCommand(Telnet::DONT, option, reply);
        if (verb == Telnet::DO && !known) Telnet::AppendCommand(Telnet::WONT, option, reply);
        SendRaw(reply);
    }
    void OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& payload) override {
        if (option != Telnet::OPT_COM_PORT || payload.empty()) return;
        std::vector<uint8_t> answer = payload;
        answer[0] = static_cast<uint8_t>(payload[0] + ComPort::SERVER_OFFSET);
        if (payload[0] == ComPort::SET_BAUDRATE && payload.size() == 5) {
            const uint32_t asked =
                static_cast<uint32_t>(payload[1]) << 24 | payload[2] << 16 | payload[3] << 8 | payload[4];
            uint32_t rate = m_rateAnswer ? m_rateAnswer(asked) : (asked != 0 ? asked : m_nRate.load());
            if (asked != 0 && rate == asked && !SetPtyRate(rate)) rate = m_nRate.load();
            if (asked != 0) m_nRate = rate;
            answer = ComPort::BaudRateRequest(rate);
            answer[0] = ComPort::SET_BAUDRATE + ComPort::SERVER_OFFSET;
        }
        if (payload[0] == ComPort::PURGE_DATA) {
            ++m_nPurges;
            std::vector<uint8_t> stale;
            {
                std::lock_guard<std::mutex> lock(m_mxReceived);
                stale.swap(m_staleBeforePurgeAnswer);
            }
            if (!stale.empty()) SendData(stale);
            if (!m_bAnswerPurges) return;
        }
        if (payload[0] == ComPort::SET_CONTROL) return;  // modem control: left unanswered, as ser2net does
        std::vector<uint8_t> bytes;
        Telnet::AppendSubnegotiation(Telnet::OPT_COM_PORT, answer, bytes);
        SendRaw(bytes);
    }

    bool SetPtyRate(uint32_t baud) {
        if (m_pty < 0) return true;
        struct termios2 tio {};
        if (!KernelTermios::ReadTermios2(m_pty, &tio)) return false;
        tio.c_iflag = 0;
        tio.c_oflag = 0;
        tio.c_lflag = 0;
        tio.c_cflag = CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
        tio.c_ispeed = baud;
        tio.c_ospeed = baud;
        return KernelTermios::WriteTermios2(m_pty, tio);
    }
    void SendData(const std::vector<uint8_t>& data) {
        std::vector<uint8_t> bytes;
        Telnet::AppendData(data.data(), static_cast<int>(data.size()), true, bytes);
        SendRaw(bytes);
    }
    void SendRaw(const std::vector<uint8_t>& bytes) {
        if (!bytes.empty()) Ignore(::send(m_client, bytes.data(), bytes.size(), MSG_NOSIGNAL));
    }

    int m_listener = -1;
    int m_nPort = 0;
    int m_wake[2] = {-1, -1};
    int m_pty = -1;
    int m_client = -1;
    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    CTelnetDecoder m_decoder;
    CDataHandler m_handler;
    std::function<uint32_t(uint32_t)> m_rateAnswer;
    std::mutex m_mxReceived;  // guards both
    std::vector<uint8_t> m_received;
    std::vector<uint8_t> m_staleBeforePurgeAnswer;
};
