// A transport that records what the command layer writes and answers from a script, for tests without a port.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include "link/Usb.h"

class CScriptedTransport : public CUsb {
public:
    using Bytes = std::vector<uint8_t>;

    int FindDevice() override { return m_bDevicePresent ? 1 : 0; }
    int Write(const uint8_t* data, int count) override {
        if (!m_bOpen) return 0;
        m_written.emplace_back(data, data + count);
        return count;
    }
    // Hands out the next scripted reply, cut to count bytes; nothing when the script is empty.
    int Read(uint8_t* buffer, int count) override {
        ++m_nReads;
        if (!m_bOpen || m_replies.empty()) return 0;
        Bytes reply = m_replies.front();
        m_replies.pop_front();
        const int n = std::min<int>(count, static_cast<int>(reply.size()));
        std::memcpy(buffer, reply.data(), static_cast<size_t>(n));
        return n;
    }
    int Reserved1(int32_t, int32_t) override { return 0; }
    int Reserved2(int32_t) override { return 0; }

    void Reply(Bytes bytes) { m_replies.push_back(std::move(bytes)); }

    std::vector<Bytes> m_written;
    std::deque<Bytes> m_replies;
    int m_nReads = 0;
    bool m_bOpen = true;
    bool m_bDevicePresent = true;
};
