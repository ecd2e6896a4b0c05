// A servo bus in virtual time behind a fake port: wire time, return delays, adapter latency, answers that
// overlap (ANDed), faults and unplugging, so the bus scan's logic is tested exactly and without waiting.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "link/ScanLine.h"
#include "link/ScanTiming.h"
#include "link/Usb.h"

class CFakeServoBus : public CUsb, public CScanLine {
public:
    using Bytes = std::vector<uint8_t>;
    using Micros = std::chrono::microseconds;

    struct CServo {
        int id;
        int baud;
        Micros delay{0};  // RETURN_DELAY x 2 µs
        bool answers = true;
        uint8_t voltage = 74;  // PRESENT_VOLTAGE, which tells two servos with one ID apart on a read
        uint8_t error = 0;     // the alarm bits of every status
        bool answersReads = true;

        // The control table a read sees: limits 80 degrees and 5.0-25.0 V, the status span from 41.
        uint8_t Register(int address) const {
            switch (address) {
                case 13:
                    return 80;
                case 14:
                    return 250;
                case 15:
                    return 50;
                case 41:
                    return 2;  // PRESENT_POSITION 512
                case 47:
                    return voltage;
                case 48:
                    return 31;
                default:
                    return 0;
            }
        }
    };
    // What reaches the host of a servo's n-th answer (0-based) to a ping of its own ID, or (n = -1) of its
    // answer to a broadcast ping; empty drops it.
    using AnswerFault = std::function<Bytes(const CServo& servo, int n, Bytes status)>;

    struct CSent {
        int baud;
        Bytes bytes;
        Clock::time_point at;
    };

    int FindDevice() override { return 1; }
    int Write(const uint8_t* data, int count) override {
        if (IsLost()) return 0;
        if (m_nWritesBeforeUnplug >= 0 && static_cast<int>(m_sent.size()) >= m_nWritesBeforeUnplug) {
            m_bLost = true;
            return 0;
        }
        // Input that has arrived is discarded; answers still on their way are not.
        std::erase_if(m_arriving, [this](const CArrival& a) { return a.at <= m_now; });
        m_sent.push_back({m_nRate, Bytes(data, data + count), m_now});
        if (count == 6 && data[4] == 0x01) Answer(data[2], count);
        if (count == 8 && data[4] == 0x02) Answer(data[2], count, data[5], data[6]);
        return count;
    }
    // On the bus's own clock, as every read's deadline.
    Deadline ReadDeadline() const override { return m_now + (m_window > Micros{0} ? m_window : kTimeout); }
    int ReadUntil(uint8_t* buffer, int count, Deadline readDeadline) override {
        if (IsLost()) return 0;
        const auto deadline = readDeadline + m_extraWait;
        std::stable_sort(m_arriving.begin(), m_arriving.end(),
                         [](const CArrival& a, const CArrival& b) { return a.at < b.at; });
        int got = 0;
        auto last = m_now;
        while (got < count && !m_arriving.empty() && m_arriving.front().at <= deadline) {
            CArrival& first = m_arriving.front();
            const int n = std::min<int>(count - got, static_cast<int>(first.bytes.size()));
            if (n > 0) std::memcpy(buffer + got, first.bytes.data(), static_cast<size_t>(n));
            got += n;
            last = std::max(last, first.at);
            first.bytes.erase(first.bytes.begin(), first.bytes.begin() + n);
            if (first.bytes.empty()) m_arriving.erase(m_arriving.begin());
        }
        m_now = got == count ? last : deadline;
        return got;
    }
    int Reserved1(int32_t, int32_t) override { return 0; }
    int Reserved2(int32_t) override { return 0; }

    int LineRate() override { return m_nRate; }
    bool SetLineRate(int baud) override {
        if (IsLost() || m_unsettable.count(baud)) return false;
        m_nRate = baud;
        return true;
    }
    void SetReadWindow(Micros window) override { m_window = window; }
    static constexpr Micros kTimeout{50000};
    Micros NormalTimeout() override { return kTimeout; }
    bool IsLost() const override { return m_bLost; }
    Clock::time_point Now() override { return m_now; }

    // Frames written at each rate.
    int FramesAt(int baud) const {
        return static_cast<int>(
            std::count_if(m_sent.begin(), m_sent.end(), [&](const CSent& s) { return s.baud == baud; }));
    }
    Micros Elapsed() const { return std::chrono::duration_cast<Micros>(m_now - m_start); }

    std::vector<CServo> m_servos;
    Micros m_latency{0};    // the adapter's, each way
    Micros m_extraWait{0};  // how much longer than asked a read may take (a loaded host)
    std::set<int> m_unsettable;
    int m_nWritesBeforeUnplug = -1;
    AnswerFault m_fault;
    std::vector<CSent> m_sent;
    int m_nRate = 1000000;

private:
    struct CArrival {
        Clock::time_point at;
        Bytes bytes;
    };

    // Statuses that overlap on the wire reach the host as the AND of the bytes sent at the same time. A ping
    // (count < 0) or a read of count bytes from address; the fault hook sees only the pings' answers.
    void Answer(uint8_t target, int requestBytes, int address = 0, int count = -1) {
        const Micros byteTime = ScanTiming::WireTime(1, m_nRate);
        const auto requestDone = m_now + m_latency + ScanTiming::WireTime(requestBytes, m_nRate);
        struct COut {
            Clock::time_point start;
            Bytes bytes;
        };
        std::vector<COut> outs;
        for (CServo& servo : m_servos) {
            if (!servo.answers || servo.baud != m_nRate || (target != 0xFE && servo.id != target)) continue;
            if (count >= 0 && (!servo.answersReads || target == 0xFE)) continue;
            Bytes status{0xFF, 0xFF, static_cast<uint8_t>(servo.id),
                         static_cast<uint8_t>(std::max(count, 0) + 2), servo.error};
            for (int i = 0; i < count; ++i) status.push_back(servo.Register(address + i));
            uint8_t sum = 0;
            for (std::size_t i = 2; i < status.size(); ++i) sum = static_cast<uint8_t>(sum + status[i]);
            status.push_back(static_cast<uint8_t>(~sum));
            if (count < 0) {
                const int n = target == 0xFE ? -1 : m_answers[&servo - m_servos.data()]++;
                if (m_fault) status = m_fault(servo, n, status);
            }
            if (!status.empty()) outs.push_back({requestDone + servo.delay, status});
        }
        std::sort(outs.begin(), outs.end(), [](const COut& a, const COut& b) { return a.start < b.start; });
        for (size_t i = 0; i < outs.size();) {
            COut merged = outs[i++];
            while (i < outs.size() &&
                   outs[i].start < merged.start + byteTime * static_cast<int>(merged.bytes.size())) {
                const auto shift = static_cast<size_t>((outs[i].start - merged.start) / byteTime);
                merged.bytes.resize(std::max(merged.bytes.size(), shift + outs[i].bytes.size()), 0xFF);
                for (size_t k = 0; k < outs[i].bytes.size(); ++k) merged.bytes[shift + k] &= outs[i].bytes[k];
                ++i;
            }
            m_arriving.push_back(
                {merged.start + byteTime * static_cast<int>(merged.bytes.size()) + m_latency, merged.bytes});
        }
    }

    Clock::time_point m_start{};
    Clock::time_point m_now{};
    Micros m_window{0};
    bool m_bLost = false;
    std::vector<CArrival> m_arriving;
    std::map<long, int> m_answers;
};
