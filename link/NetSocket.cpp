// POSIX sockets: non-blocking throughout, every wait a ppoll against a monotonic deadline, and no SIGPIPE
// from a connection the far end dropped.
#include "link/NetSocket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "link/PollUntil.h"

namespace NetSocket {

namespace {

using Clock = std::chrono::steady_clock;

int Fd(Handle socket) {
    return static_cast<int>(socket);
}

int WaitFor(int fd, short events, Deadline deadline, short* revents) {
    return PollUntil(fd, events, deadline, revents);
}

}  // namespace

std::vector<CAddress> Resolve(const std::string& host, uint16_t port, std::string* problem) {
    struct addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    struct addrinfo* found = nullptr;
    const int status = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    std::vector<CAddress> addresses;
    if (status != 0) {
        // AI_ADDRCONFIG hides ::1 on a machine whose only IPv6 address is loopback: ask once more without.
        hints.ai_flags = 0;
        if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
            if (problem) *problem = ::gai_strerror(status);
            return addresses;
        }
    }
    for (const struct addrinfo* info = found; info; info = info->ai_next) {
        CAddress address;
        if (info->ai_addrlen > sizeof address.bytes) continue;
        std::memcpy(address.bytes, info->ai_addr, info->ai_addrlen);
        address.length = static_cast<int>(info->ai_addrlen);
        addresses.push_back(address);
    }
    ::freeaddrinfo(found);
    if (addresses.empty() && problem) *problem = "no usable address";
    return addresses;
}

Handle Connect(const std::vector<CAddress>& addresses, Deadline deadline, EConnect* why) {
    *why = EConnect::NoAnswer;
    bool refused = false;
    for (const CAddress& address : addresses) {
        const auto* sa = reinterpret_cast<const struct sockaddr*>(address.bytes);
        const int fd = ::socket(sa->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) continue;
        int connected = ::connect(fd, sa, static_cast<socklen_t>(address.length));
        if (connected != 0 && errno == EINPROGRESS) {
            short revents = 0;
            if (WaitFor(fd, POLLOUT, deadline, &revents) == 1) {
                int error = 0;
                socklen_t length = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
                connected = error == 0 ? 0 : -1;
                errno = error;
            }
        }
        if (connected == 0) {
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
            *why = EConnect::Connected;
            return fd;
        }
        if (errno == ECONNREFUSED) refused = true;
        ::close(fd);
        if (Clock::now() >= deadline) break;
    }
    if (refused) *why = EConnect::Refused;
    return kNoSocket;
}

void Close(Handle socket) {
    if (socket == kNoSocket) return;
    ::close(Fd(socket));
}

CTransfer SendUntil(Handle socket, const uint8_t* data, int count, Deadline deadline) {
    const int fd = Fd(socket);
    CTransfer done;
    while (done.count < count) {
        const ssize_t n = ::send(fd, data + done.count, static_cast<size_t>(count - done.count),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done.count += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            done.ended = true;
            break;
        }
        short revents = 0;
        if (WaitFor(fd, POLLOUT, deadline, &revents) != 1) break;
        if ((revents & POLLOUT) == 0) {
            done.ended = true;
            break;
        }
    }
    return done;
}

CTransfer ReceiveSome(Handle socket, uint8_t* buffer, int capacity, Deadline deadline) {
    const int fd = Fd(socket);
    CTransfer done;
    short revents = 0;
    const int ready = WaitFor(fd, POLLIN, deadline, &revents);
    if (ready < 0) {
        done.ended = true;
        return done;
    }
    if (ready == 0) return done;
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, static_cast<size_t>(capacity), MSG_DONTWAIT);
        if (n > 0) {
            done.count = static_cast<int>(n);
            // Acknowledge at once, every time (the kernel forgets): a server that sends without TCP_NODELAY
            // holds its next small segment, the servo's answer, until our acknowledgement of the last
            // arrives, which a delayed acknowledgement would put off by up to 40 ms.
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            done.ended = true;  // end of stream, or reset
        }
        return done;
    }
}

}  // namespace NetSocket
