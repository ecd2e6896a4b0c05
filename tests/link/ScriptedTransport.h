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
    // Like a port, discards what is left of the reply being read.
    int Write(const uint8_t* data, int count) override {
        if (!m_bOpen) return 0;
        m_written.emplace_back(data, data + count);
        m_arrived.clear();
        m_bReplyTaken = false;
        return count;
    }
    // The next scripted reply is what arrives for the first read after a write (or for a read without a
    // write); the reads that follow take the rest of it. Nothing when the script is empty.
    int ReadUntil(uint8_t* buffer, int count, Deadline) override {
        ++m_nReads;
        if (!m_bOpen) return 0;
        if (!m_bReplyTaken && !m_replies.empty()) {
            m_arrived = m_replies.front();
            m_replies.pop_front();
        }
        m_bReplyTaken = true;
        const int n = std::min<int>(count, static_cast<int>(m_arrived.size()));
        if (n == 0) return 0;  // an empty reply's data() may be null, which memcpy must not be given
        std::memcpy(buffer, m_arrived.data(), static_cast<size_t>(n));
        m_arrived.erase(m_arrived.begin(), m_arrived.begin() + n);
        return n;
    }
    int Reserved1(int32_t, int32_t) override { return 0; }
    int Reserved2(int32_t) override { return 0; }

    void Reply(Bytes bytes) { m_replies.push_back(std::move(bytes)); }

    std::vector<Bytes> m_written;
    std::deque<Bytes> m_replies;
    Bytes m_arrived;
    bool m_bReplyTaken = false;
    int m_nReads = 0;
    bool m_bOpen = true;
    bool m_bDevicePresent = true;
};
