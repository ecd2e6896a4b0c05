// The bus recorder: every frame sent and every answer received, kept in a fixed ring of the newest frames.
//
// Thread rules: Record may be called from any thread (the command layer calls it under its bus lock, so one
// exchange's frames are consecutive); CopySince, NextSeq and the setters from any thread. The listener runs
// on the recording thread, inside the bus lock: it must be quick and must not use the bus.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "link/ExchangeOutcome.h"
#include "link/Packet.h"

enum class EDirection : uint8_t { Sent, Received };

// One frame as it went over the line. Trivially copyable: recording one is a copy into a ring slot.
struct CBusFrame {
    uint64_t seq;       // position in the recording, from 0
    uint32_t exchange;  // frames of one exchange share it
    int64_t timeUs;     // since the recorder started, on a steady clock
    uint32_t rate;      // line rate in effect, 0 when unknown
    EDirection direction;
    uint8_t instruction;  // of the exchange's request (0 for raw transfers)
    bool raw;             // unframed bytes (boot loader traffic)
    uint16_t count;       // bytes on the line; at most MAX_FRAME_SIZE of them are kept
    CExchangeOutcome outcome;
    uint8_t request[2];  // address and count of a read or write, also when it was not sent
    uint8_t bytes[MAX_FRAME_SIZE];

    int KeptBytes() const { return count < MAX_FRAME_SIZE ? count : static_cast<int>(MAX_FRAME_SIZE); }
};

class CBusRecorder {
public:
    static constexpr std::size_t kDefaultCapacity = 100000;

    // The ring is reserved once here; pages the recording never reaches are never touched.
    explicit CBusRecorder(std::size_t capacity = kDefaultCapacity);
    CBusRecorder(const CBusRecorder&) = delete;
    CBusRecorder& operator=(const CBusRecorder&) = delete;

    // A fresh number for the next exchange.
    uint32_t BeginExchange() { return m_nextExchange.fetch_add(1, std::memory_order_relaxed); }
    // Copies the frame into the ring (its seq and time are set here) and hands it to the listener.
    void Record(CBusFrame& frame);

    // Appends to out the frames from seq `from` on that the ring still holds, at most `max` of them; returns
    // the seq to ask for next time. Frames the ring has already dropped are skipped.
    uint64_t CopySince(uint64_t from, std::vector<CBusFrame>& out, std::size_t max) const;
    uint64_t NextSeq() const;
    std::size_t Capacity() const { return m_nCapacity; }

    void SetListener(std::function<void(const CBusFrame&)> listener);

    // The newest good status with alarm bits, and whether any came since the last call (per ID and bits, so
    // a condition that persists is reported once).
    struct CAlarm {
        uint8_t id = 0;
        uint8_t error = 0;
    };
    bool TakeAlarmChange(CAlarm* alarm);

private:
    using Clock = std::chrono::steady_clock;

    const std::size_t m_nCapacity;
    struct CFree {
        void operator()(CBusFrame* ring) const;
    };
    std::unique_ptr<CBusFrame[], CFree> m_ring;
    const Clock::time_point m_tStart;
    mutable std::mutex m_mxRing;
    uint64_t m_nNextSeq = 0;
    std::atomic<uint32_t> m_nextExchange{1};
    std::function<void(const CBusFrame&)> m_listener;
    // Packed id << 8 | error of the newest status; the taker's last seen value beside it.
    std::atomic<uint32_t> m_nAlarmState{0};
    std::atomic<uint32_t> m_nAlarmTaken{0};
};
