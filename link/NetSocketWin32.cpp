// Winsock: the same non-blocking sockets and deadlines as on POSIX, with WSAPoll in whole milliseconds
// (rounded up) and Winsock started once, on first use.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "link/NetSocket.h"

namespace NetSocket {

namespace {

using Clock = std::chrono::steady_clock;

SOCKET Sock(Handle socket) {
    return static_cast<SOCKET>(socket);
}

void StartWinsock() {
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}

// 1 ready, 0 timed out, -1 failed.
int WaitFor(SOCKET s, short events, Deadline deadline, short* revents) {
    const auto remaining = std::max(deadline - Clock::now(), Clock::duration::zero());
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(remaining).count();
    WSAPOLLFD pfd{};
    pfd.fd = s;
    pfd.events = events;
    const int ready = WSAPoll(&pfd, 1, static_cast<INT>((us + 999) / 1000));
    if (ready == SOCKET_ERROR) return -1;
    *revents = pfd.revents;
    return ready;
}

}  // namespace

std::vector<CAddress> Resolve(const std::string& host, uint16_t port, std::string* problem) {
    StartWinsock();
    ADDRINFOA hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOA* found = nullptr;
    std::vector<CAddress> addresses;
    const int status = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (status != 0) {
        if (problem) *problem = gai_strerrorA(status);
        return addresses;
    }
    for (const ADDRINFOA* info = found; info; info = info->ai_next) {
        CAddress address;
        if (info->ai_addrlen > sizeof address.bytes) continue;
        std::memcpy(address.bytes, info->ai_addr, info->ai_addrlen);
        address.length = static_cast<int>(info->ai_addrlen);
        addresses.push_back(address);
    }
    freeaddrinfo(found);
    if (addresses.empty() && problem) *problem = "no usable address";
    return addresses;
}

Handle Connect(const std::vector<CAddress>& addresses, Deadline deadline, EConnect* why) {
    StartWinsock();
    *why = EConnect::NoAnswer;
    bool refused = false;
    for (const CAddress& address : addresses) {
        const auto* sa = reinterpret_cast<const sockaddr*>(address.bytes);
        const SOCKET s = socket(sa->sa_family, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET) continue;
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        int connected = connect(s, sa, address.length);
        if (connected != 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
            short revents = 0;
            if (WaitFor(s, POLLWRNORM, deadline, &revents) == 1) {
                int error = 0;
                int length = sizeof error;
                getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
                connected = error == 0 && (revents & POLLWRNORM) ? 0 : -1;
                if (error == WSAECONNREFUSED || (revents & (POLLERR | POLLHUP))) refused = true;
            }
        } else if (connected != 0 && WSAGetLastError() == WSAECONNREFUSED) {
            refused = true;
        }
        if (connected == 0) {
            const BOOL on = TRUE;
            setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
            *why = EConnect::Connected;
            return static_cast<Handle>(s);
        }
        closesocket(s);
        if (Clock::now() >= deadline) break;
    }
    if (refused) *why = EConnect::Refused;
    return kNoSocket;
}

void Close(Handle socket) {
    if (socket == kNoSocket) return;
    closesocket(Sock(socket));
}

CTransfer SendUntil(Handle socket, const uint8_t* data, int count, Deadline deadline) {
    const SOCKET s = Sock(socket);
    CTransfer done;
    while (done.count < count) {
        const int n = send(s, reinterpret_cast<const char*>(data) + done.count, count - done.count, 0);
        if (n > 0) {
            done.count += n;
            continue;
        }
        if (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) {
            done.ended = true;
            break;
        }
        short revents = 0;
        if (WaitFor(s, POLLWRNORM, deadline, &revents) != 1) break;
        if ((revents & POLLWRNORM) == 0) {
            done.ended = true;
            break;
        }
    }
    return done;
}

CTransfer ReceiveSome(Handle socket, uint8_t* buffer, int capacity, Deadline deadline) {
    const SOCKET s = Sock(socket);
    CTransfer done;
    short revents = 0;
    const int ready = WaitFor(s, POLLRDNORM, deadline, &revents);
    if (ready < 0) {
        done.ended = true;
        return done;
    }
    if (ready == 0) return done;
    const int n = recv(s, reinterpret_cast<char*>(buffer), capacity, 0);
    if (n > 0)
        done.count = n;
    else if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK)
        done.ended = true;
    return done;
}

}  // namespace NetSocket
