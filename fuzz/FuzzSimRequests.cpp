// Fuzz target: request byte streams through the simulator's frame parser and servo bus, as its serving loop
// feeds them (raw bytes to a boot loader that listens at that rate, frames to the bus otherwise), on made-up
// time and without a pseudo-terminal.
//
// Input, read front to back so seeds can be written by hand:
//   servo count (1..4 from the low bits), then per servo its ID and baud code;
//   then chunks: line-rate byte (baud code 0..7, or 8 and up for the boot rate), delay byte (under 128:
//   units of 100 us; from 128: units of 50 ms), length byte, that many bytes.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "link/BootLoader.h"
#include "sim/FrameParser.h"
#include "sim/ServoBus.h"
#include "sim/ServoTable.h"
#include "sim/WireFrame.h"

namespace {

using Clock = std::chrono::steady_clock;

void Require(bool condition) {
    if (!condition) std::abort();
}

class CReader {
public:
    CReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_at >= m_size; }
    uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::span<const uint8_t> Bytes(size_t count) {
        count = std::min(count, m_size - std::min(m_at, m_size));
        const auto out = std::span(m_data + m_at, count);
        m_at += count;
        return out;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

bool WellFormed(std::span<const uint8_t> frame) {
    if (frame.size() < 6 || frame[0] != sim::HEADER_BYTE || frame[1] != sim::HEADER_BYTE) return false;
    if (frame[sim::LEN_OFFSET] < 2 || frame.size() != frame[sim::LEN_OFFSET] + sim::FRAME_OVERHEAD)
        return false;
    return sim::FrameChecksum(frame.subspan(sim::ID_OFFSET, frame.size() - 3)) == frame.back();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CReader in(data, size);
    // Well away from the clock's epoch, as a steady clock is in practice.
    Clock::time_point now = Clock::time_point{} + std::chrono::hours(1);

    sim::CServoBus bus;
    const int servos = 1 + (in.Byte() & 3);
    for (int i = 0; i < servos; ++i) {
        // Servos are numbered 0..253: 254 is the broadcast ID and 255 cannot follow a header.
        const uint8_t id = static_cast<uint8_t>(in.Byte() % 254);
        bus.AddServo(sim::DefaultServo(id, in.Byte()), now);
    }
    bus.Boot().SetIdleTimeout(std::chrono::milliseconds(500));

    sim::CFrameParser parser;
    while (!in.Empty()) {
        const uint8_t rateByte = in.Byte();
        const uint32_t lineRate = rateByte < sim::BAUD_CODE_COUNT ? sim::BaudRateForCode(rateByte)
                                                                 : static_cast<uint32_t>(BOOT_BAUD);
        const uint8_t delay = in.Byte();
        now += delay < 128 ? std::chrono::microseconds(100 * delay)
                           : std::chrono::microseconds(50000 * (delay - 128));
        const auto bytes = in.Bytes(in.Byte());

        sim::CBootLoaders& boot = bus.Boot();
        boot.Expire(now);
        if (boot.Listens(lineRate)) {
            const sim::CSimBootAnswer answer = boot.Feed(bytes, now);
            // Every answer byte takes at least one byte heard, this chunk's or one held from before it.
            Require(answer.bytes.size() <= bytes.size() + sim::BOOT_FRAME_SIZE);
            continue;
        }
        for (const auto& frame : parser.Feed(bytes, now)) {
            Require(WellFormed(frame));
            for (const sim::CSimReply& reply : bus.Dispatch(frame, lineRate, now)) {
                Require(WellFormed(reply.bytes));
                // The longest return delay and the slowest turn-around.
                Require(reply.delay >= std::chrono::microseconds(0) &&
                        reply.delay <= std::chrono::microseconds(510) + sim::CServoBus::TurnAround(4));
                // Each servo addressed answers with the ID it had when the request came; of a broadcast,
                // only a ping is answered. (A servo may itself carry ID 0xFE: the debug page can set it.)
                if (frame[sim::ID_OFFSET] == sim::BROADCAST_ID)
                    Require(frame[sim::INSTRUCTION_OFFSET] == sim::instr::PING);
                else
                    Require(reply.bytes[sim::ID_OFFSET] == frame[sim::ID_OFFSET]);
            }
        }
        Require(parser.Pending() <= 258);
    }
    return 0;
}
