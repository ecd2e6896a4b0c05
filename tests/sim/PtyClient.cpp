// Raw termios2 set-up and polled reads for the simulator tests' serial client.
#include "tests/sim/PtyClient.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "link/KernelTermios.h"
#include "tests/support/TestFrame.h"

namespace simtest {

CPtyClient::CPtyClient(const std::string& path)
    : m_nFd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}

CPtyClient::CPtyClient(const std::string& path, uint32_t baud) : CPtyClient(path) {
    if (m_nFd >= 0 && !SetBaud(baud)) Close();
}

CPtyClient::~CPtyClient() {
    Close();
}

void CPtyClient::Close() {
    if (m_nFd >= 0) close(m_nFd);
    m_nFd = -1;
}

bool CPtyClient::SetBaud(uint32_t baud) {
    struct termios2 tio {};
    if (!KernelTermios::ReadTermios2(m_nFd, &tio)) return false;
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag = CS8 | CREAD | CLOCAL | BOTHER;
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return KernelTermios::WriteTermios2(m_nFd, tio);
}

bool CPtyClient::Send(const std::vector<uint8_t>& bytes) {
    return write(m_nFd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

std::vector<uint8_t> CPtyClient::Receive(std::size_t count, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    std::vector<uint8_t> got;
    while (got.size() < count) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        pollfd fd{m_nFd, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) <= 0 || !(fd.revents & POLLIN)) break;
        uint8_t buffer[256];
        const ssize_t n = read(m_nFd, buffer, std::min(sizeof buffer, count - got.size()));
        if (n <= 0) break;
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

short CPtyClient::WaitEvents(short events, std::chrono::milliseconds timeout) {
    pollfd fd{m_nFd, events, 0};
    if (poll(&fd, 1, static_cast<int>(timeout.count())) <= 0) return 0;
    return fd.revents;
}

std::vector<uint8_t> Request(uint8_t id, uint8_t instruction, std::vector<uint8_t> params) {
    return Frame(id, instruction, params);
}

std::vector<uint8_t> Status(uint8_t id, uint8_t error, std::vector<uint8_t> params) {
    return Frame(id, error, params);
}

}  // namespace simtest
