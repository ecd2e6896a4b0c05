// The shared line from the servos back to the host: when each answer is on the wire, what the overlap of
// several answers does to the bytes, and when the host has them.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace sim {

// Serial bytes take 10 bit times each: a start bit, 8 data bits and a stop bit.
inline constexpr int BITS_PER_BYTE = 10;

// The time `bytes` bytes take on a line at `rate` bit/s.
std::chrono::nanoseconds WireTime(std::size_t bytes, uint32_t rate);

// The servos share one open line that idles high and that any sender pulls low: where answers overlap, the
// line carries the bitwise AND of what each sends at that moment. The host's receiver decodes that line as a
// UART does: it waits for a falling edge, takes it as a start bit when the line is still low half a bit
// later, samples the 8 data bits and the stop bit in their middles, and hunts for the next edge from the
// stop bit's middle on, all at the host's own rate, which need not be the senders': a status sent at another
// rate reaches the host as the garbage a real receiver makes of it. A byte is the host's at the end of its
// stop bit plus the adapter's latency. So two
// answers at the same moment give the AND of their bytes, answers a fraction of a byte apart give the bytes
// a real receiver would make of the mix, and answers that do not overlap arrive clean, one after the other.
//
// Time is given by the caller, never read from a clock, so the schedule is tested with made-up time. The
// caller must add every answer before its start time has passed in Receive (answers start once the request
// that asks for them has left the wire, which is never earlier than the moment it is carried out).
// Not thread-safe: one serving thread owns it.
class CReturnLine {
public:
    using Clock = std::chrono::steady_clock;

    explicit CReturnLine(std::chrono::nanoseconds latency = std::chrono::nanoseconds(0))
        : m_latency(latency) {}

    // One sender (a servo, or the boot loaders together) puts `bytes` on the line at `rate` bit/s from
    // `start`, or from when its previous bytes have left the line if that is later: one sender's answers go
    // out in order. Returns when the last byte has left the line.
    Clock::time_point Send(int sender, Clock::time_point start, uint32_t rate,
                           const std::vector<uint8_t>& bytes);

    // The bytes the host has received by `now`, in order; each is returned once. hostRate is the rate the
    // host's receiver runs at, bit/s; 0 takes each byte at the rate it was sent with.
    std::vector<uint8_t> Receive(Clock::time_point now, uint32_t hostRate = 0);
    // When the next byte will be the host's, if any is on its way.
    std::optional<Clock::time_point> NextArrival(uint32_t hostRate = 0) const;

private:
    struct CBurst {
        Clock::time_point start;
        uint32_t rate;
        std::vector<uint8_t> bytes;
        Clock::time_point End() const;
        Clock::time_point BitStart(std::size_t bit) const;
        // The level of this sender's line at `t`, which must lie within the burst.
        bool Level(Clock::time_point t) const;
    };
    struct CDecoded {
        uint8_t byte;
        Clock::time_point edge;    // start bit's falling edge
        Clock::time_point ready;   // end of the stop bit
        Clock::time_point resume;  // where the hunt for the next start bit begins
    };

    bool LineLevel(Clock::time_point t) const;
    // The next start bit from m_cursor on, and the byte a receiver at hostRate (0: the sender's) makes of
    // it; nullopt when the line stays high.
    std::optional<CDecoded> NextByte(uint32_t hostRate) const;

    std::chrono::nanoseconds m_latency;
    std::vector<CBurst> m_bursts;
    std::map<int, Clock::time_point> m_busyUntil;
    Clock::time_point m_cursor{};  // the host's receiver has decoded the line up to here
};

}  // namespace sim
