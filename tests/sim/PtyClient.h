// A minimal raw serial client on a pty slave, standing in for the host's transport in simulator tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace simtest {

class CPtyClient {
public:
    // Opens the slave path read-write without becoming its controlling terminal, raw 8N1 at `baud`.
    CPtyClient(const std::string& path, uint32_t baud);
    // Opens it as a careless host would, leaving the terminal settings as they are.
    explicit CPtyClient(const std::string& path);
    ~CPtyClient();
    CPtyClient(const CPtyClient&) = delete;
    CPtyClient& operator=(const CPtyClient&) = delete;

    bool IsOpen() const { return m_nFd >= 0; }
    int Fd() const { return m_nFd; }

    // Raw 8N1 at any rate (termios2 with BOTHER); false on failure.
    bool SetBaud(uint32_t baud);
    bool Send(const std::vector<uint8_t>& bytes);
    // Reads until `count` bytes arrived or `timeout` passed; returns what arrived.
    std::vector<uint8_t> Receive(std::size_t count,
                                 std::chrono::milliseconds timeout = std::chrono::milliseconds(1000));
    // poll() events on the port within `timeout`, 0 if none.
    short WaitEvents(short events, std::chrono::milliseconds timeout);
    void Close();

private:
    int m_nFd = -1;
};

// A request frame with its checksum computed here, independently of the simulator's code.
std::vector<uint8_t> Request(uint8_t id, uint8_t instruction, std::vector<uint8_t> params = {});
// The status frame a servo should send.
std::vector<uint8_t> Status(uint8_t id, uint8_t error, std::vector<uint8_t> params = {});

// What the simulator tests speak: bytes, and the instructions and broadcast ID as the wire carries them.
using Bytes = std::vector<uint8_t>;
inline constexpr uint8_t BROADCAST = 0xFE;
inline constexpr uint8_t PING = 0x01, READ = 0x02, WRITE = 0x03, REG_WRITE = 0x04, RESET = 0x06, HAND_OFF = 0x08;

}  // namespace simtest
