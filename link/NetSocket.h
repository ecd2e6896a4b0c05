// Thin per-system layer under the network transport: name resolution, a TCP connection with a deadline,
// and timed sends and receives. NetSocket.cpp serves POSIX systems, NetSocketWin32.cpp Windows.
//
// Thread rules: the functions keep no state of their own; the transport serialises all use of one socket.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace NetSocket {
using Handle = intptr_t;
constexpr Handle kNoSocket = -1;
using Deadline = std::chrono::steady_clock::time_point;

// One resolved address, kept opaque so no system header leaks out of this layer.
struct CAddress {
    alignas(8) unsigned char bytes[128];
    int length = 0;
};

// The TCP addresses of host (a name, or a numeric IPv4 or IPv6 address); empty with the resolver's own words
// in *problem.
std::vector<CAddress> Resolve(const std::string& host, uint16_t port, std::string* problem);

enum class EConnect { Connected, Refused, NoAnswer };
// Tries the addresses in turn until one takes the connection or the deadline passes; kNoSocket with the
// reason in *why otherwise. The socket is non-blocking and sends small writes at once (no Nagle delay).
Handle Connect(const std::vector<CAddress>& addresses, Deadline deadline, EConnect* why);
void Close(Handle socket);

struct CTransfer {
    int count = 0;       // bytes moved
    bool ended = false;  // the far end closed or reset the connection; nothing more will move
};
// Sends every byte unless the deadline passes first.
CTransfer SendUntil(Handle socket, const uint8_t* data, int count, Deadline deadline);
// Waits until some bytes are there or the deadline passes, then takes what is there (up to capacity).
// Looks at least once, even at or after the deadline.
CTransfer ReceiveSome(Handle socket, uint8_t* buffer, int capacity, Deadline deadline);
}  // namespace NetSocket
