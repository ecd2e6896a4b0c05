// How long a servo's answer can take on the wire at a given rate: the numbers the bus scan waits by.
#pragma once

#include <chrono>
#include <cstdint>

namespace ScanTiming {

using Micros = std::chrono::microseconds;

// A ping and its status are six bytes each; every byte is ten bits on the wire (start, 8 data, stop).
inline constexpr int PING_BYTES = 6;
inline constexpr int STATUS_BYTES = 6;
// RETURN_DELAY counts 2 µs units up to 254: the longest a servo waits before it answers.
inline constexpr Micros LONGEST_RETURN_DELAY{254 * 2};
// The adapter margin assumed until the first answer has been timed, and the bounds of a measured one.
inline constexpr Micros kDefaultAdapterMargin{10000};
// Below a millisecond a busy host's scheduling, not the adapter, decides when an answer is read. Above the
// client's default timeout a window would wait longer than a plain ping does; a slow adapter (15 to 20 ms
// each way) still fits below it.
inline constexpr Micros kMinAdapterMargin{1000};
inline constexpr Micros kMaxAdapterMargin{50000};

// Time on the wire of `bytes` bytes at `baud` bit/s, rounded up to whole microseconds.
constexpr Micros WireTime(int bytes, int baud) {
    if (baud <= 0) return Micros{0};
    const int64_t bits = static_cast<int64_t>(bytes) * 10;
    return Micros{(bits * 1000000 + baud - 1) / baud};
}

// The longest a ping's answer can take to be complete at the host: both frames on the wire, the longest
// return delay and the adapter's own share.
constexpr Micros AnswerWindow(int baud, Micros adapterMargin) {
    return WireTime(PING_BYTES + STATUS_BYTES, baud) + LONGEST_RETURN_DELAY + adapterMargin;
}

// How long after one servo's status has arrived a second servo's answer to the same request can still be
// arriving: its own wire time of `statusBytes`, the longest return delay and the adapter's share.
constexpr Micros TailWindow(int statusBytes, int baud, Micros adapterMargin) {
    return WireTime(statusBytes, baud) + LONGEST_RETURN_DELAY + adapterMargin;
}

// What an answer took beyond its wire time: the adapter's share, plus the return delay of the servo that
// answered (which errs on the safe side).
constexpr Micros Overhead(Micros roundTrip, int baud) {
    return roundTrip - WireTime(PING_BYTES + STATUS_BYTES, baud);
}

// The adapter margin for a typical overhead: room for scheduling jitter, within the bounds above.
constexpr Micros MarginFromOverhead(Micros overhead) {
    Micros margin = overhead + overhead / 8 + Micros{250};
    if (margin < kMinAdapterMargin) margin = kMinAdapterMargin;
    if (margin > kMaxAdapterMargin) margin = kMaxAdapterMargin;
    return margin;
}

}  // namespace ScanTiming
