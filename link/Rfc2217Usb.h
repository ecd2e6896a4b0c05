// The network transport: a serial port on another computer, served over TCP with telnet's COM-PORT-OPTION
// (RFC 2217, as ser2net serves it), named rfc2217://HOST:PORT. It does what the serial transport does: the
// rate (checked against the server's answer), 8N1 without flow control, input purged before every request
// (at the server and here), reads timed from their call, and a lost connection reported as a lost port.
//
// Thread rules: as the serial transport's, every operation may be called from any thread; they are
// serialised on the connection, so Close waits for a Read in progress (at most the timeout).
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/NetSocket.h"
#include "link/NetworkPortName.h"
#include "link/TelnetCodec.h"
#include "link/Usb.h"

class CRfc2217Usb : public CUsb, private CTelnetSink {
public:
    // The port name as the operator gave it, rfc2217://HOST:PORT.
    explicit CRfc2217Usb(std::string portName);
    ~CRfc2217Usb() override;

    // Parses the name and resolves the host; 0 with the reason in OpenProblem. Never connects.
    int FindDevice() override;
    // Bytes written (all of count, or 0); a PURGE-DATA for the server's input travels just ahead of them.
    int Write(const uint8_t* data, int count) override;
    int ReadUntil(uint8_t* buffer, int count, Deadline deadline) override;
    Deadline ReadDeadline() const override;
    int Reserved1(int32_t, int32_t) override { return 0; }
    int Reserved2(int32_t) override { return 0; }

    // Connects, negotiates binary transmission and COM-PORT-OPTION, sets 8N1 without flow control and
    // purges; 1 when the server then answered with its rate, else 0 with the reason in OpenProblem.
    int Open() override;
    int Close() override;
    std::string PortName() const override { return m_szPortName; }
    // Asks the server for the rate and returns the rate in effect before, 0 when closed. The rate the server
    // answers with is what LineRate reports afterwards; no answer within the timeout loses the port.
    int Configure(int baud) override;
    void SetTimeoutMs(int ms) override { m_nTimeoutMs = ms; }
    int TimeoutMs() const override { return m_nTimeoutMs; }
    bool IsPortLost() const override { return m_bPortLost.load(); }
    uint32_t ConfiguredRate() const override { return m_nRate.load(); }
    // The rate of the server's last answer; 0 when closed or lost.
    int LineRate() override;
    void SetReadWindow(std::chrono::microseconds window) override { m_nReadWindowUs = window.count(); }
    void SetPortLostHandler(std::function<void()> handler) override;
    std::string OpenProblem() const override;
    bool IsOpen() const { return m_bOpen.load(); }

private:
    using Clock = std::chrono::steady_clock;

    std::atomic<int32_t> m_nTimeoutMs{50};

    void OnData(const uint8_t* data, int count) override;
    void OnCommand(uint8_t verb, uint8_t option) override;
    void OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& payload) override;

    std::chrono::milliseconds Timeout() const { return std::chrono::milliseconds(m_nTimeoutMs.load()); }
    // Waits for bytes until the deadline and takes them apart; false once the connection has ended.
    bool ReceiveUntil(NetSocket::Deadline deadline);
    // Sends negotiation answers and requests; false once the connection has ended.
    bool Send(const std::vector<uint8_t>& bytes);
    void SendComPort(const std::vector<uint8_t>& payload, std::vector<uint8_t>& out) const;
    // Appends a SET-BAUDRATE (0: the rate in effect) and returns how many rate answers to await for it.
    uint32_t RequestRate(uint32_t baud, std::vector<uint8_t>& out);
    // Waits until the server has answered baudAnswers SET-BAUDRATE requests in all; false when it has not
    // by the deadline or the connection ended.
    bool AwaitBaudAnswers(uint32_t baudAnswers, NetSocket::Deadline deadline);
    bool Negotiate();
    bool SetUpLine();
    // Fails Open: the reason, and the connection closed.
    int FailOpen(std::string reason);
    std::string ClosedDuringOpen() const;
    // Takes buffered data into buffer; the count taken.
    int TakeData(uint8_t* buffer, int count);
    // A request whose answer is overdue by a timeout loses the port; a quiet server gets a rate query.
    void CheckAlive(bool mayAsk);
    void Lose(std::string reason);
    void SetProblem(std::string problem);

    std::string m_szPortName;
    CNetworkPortName m_address;
    std::vector<NetSocket::CAddress> m_addresses;

    std::mutex m_mxPort;
    NetSocket::Handle m_socket = NetSocket::kNoSocket;
    CTelnetDecoder m_decoder;
    std::unique_ptr<CTelnetOptions> m_pOptions;
    std::vector<uint8_t> m_replies;  // negotiation answers the decoder's events asked for, not sent yet
    std::vector<uint8_t> m_data;     // serial bytes received and not read yet
    size_t m_nDataTaken = 0;
    bool m_bOpening = false;
    bool m_bEnded = false;
    std::string m_szServerText;  // what the server sent before the line was set up ("Port already in use")
    // Data before the answer to our latest PURGE-DATA left the server's input before the purge: stale.
    int m_nPurgesUnanswered = 0;
    bool m_bServerAnswersPurges = false;
    // When each request still waiting for its answer was sent; the server answers in order.
    std::deque<Clock::time_point> m_awaited;
    Clock::time_point m_tLastHeard{};
    uint32_t m_nBaudAnswers = 0;
    uint32_t m_nBaudRequests = 0;
    uint32_t m_nLastBaudAnswer = 0;
    int m_lineAnswers[5] = {-1, -1, -1, -1, -1};  // by command: data size, parity, stop size
    // The last write, so a rate change waits until its bytes have left at the old rate.
    bool m_bWroteSinceRateChange = false;
    int m_nLastWriteBytes = 0;

    std::atomic<bool> m_bOpen{false};
    std::atomic<int64_t> m_nReadWindowUs{0};
    std::atomic<bool> m_bPortLost{false};
    std::atomic<uint32_t> m_nRate{0};
    std::function<void()> m_onPortLost;
    std::mutex m_mxHandler;
    mutable std::mutex m_mxProblem;
    std::string m_szProblem;
};
