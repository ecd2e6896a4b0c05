// Waiting for a POSIX descriptor against a deadline on the monotonic clock, shared by the serial line and the
// network sockets.
//
// Thread rules: keeps no state.
#pragma once

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>

// 1 when the descriptor is ready (its revents in *revents), 0 when the deadline passed, -1 on failure. Looks
// once even at or after the deadline; an interrupted wait goes on.
inline int PollUntil(int fd, short events, std::chrono::steady_clock::time_point deadline, short* revents) {
    for (;;) {
        const auto remaining = std::max(deadline - std::chrono::steady_clock::now(),
                                        std::chrono::steady_clock::duration::zero());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(remaining).count();
        struct timespec limit {
            static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)
        };
        struct pollfd pfd {
            fd, events, 0
        };
        const int ready = ::ppoll(&pfd, 1, &limit, nullptr);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return -1;
        *revents = pfd.revents;
        return ready;
    }
}
