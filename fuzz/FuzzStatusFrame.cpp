// Fuzz target: status frames through the command layer's reply checks. A scripted transport hands the
// command layer fuzz bytes as replies; an independent reading of the frame format decides what each
// operation must have accepted, so a check that passes a bad frame (or refuses a good one) is a finding too.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "link/Packet.h"
#include "link/ServoUsb.h"
#include "link/Usb.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

// Answers every read with the next fuzz-chosen slice of bytes, never more than asked for, and keeps the
// reply (every slice since the last write) and what the command layer wrote.
class CFuzzTransport : public CUsb {
public:
    explicit CFuzzTransport(FuzzedDataProvider& fuzz) : m_fuzz(fuzz) {}

    int FindDevice() override { return 1; }
    int Write(const uint8_t* data, int count) override {
        m_written.assign(data, data + count);
        m_lastReply.clear();
        ++m_nWrites;
        return count;
    }
    int ReadUntil(uint8_t* buffer, int count, Deadline) override {
        const std::size_t want =
            m_fuzz.ConsumeIntegralInRange<std::size_t>(0, static_cast<std::size_t>(count));
        const std::vector<uint8_t> slice = m_fuzz.ConsumeBytes<uint8_t>(want);
        if (!slice.empty()) std::memcpy(buffer, slice.data(), slice.size());
        m_lastReply.insert(m_lastReply.end(), slice.begin(), slice.end());
        return static_cast<int>(slice.size());
    }
    int Reserved1(int32_t, int32_t) override { return 0; }
    int Reserved2(int32_t) override { return 0; }

    std::vector<uint8_t> m_written;
    std::vector<uint8_t> m_lastReply;
    int m_nWrites = 0;

private:
    FuzzedDataProvider& m_fuzz;
};

// The frame format read straight from its definition: FF FF, ID (any when broadcast was asked), LEN as
// expected, error byte, LEN - 2 parameters, and a checksum that is the complement of the sum from ID on.
// A reply cut short is never good, whatever its missing bytes would have been.
bool GoodStatus(const std::vector<uint8_t>& reply, uint8_t id, int expectedLen) {
    if (reply.size() != static_cast<std::size_t>(expectedLen) + 4) return false;
    if (reply[0] != 0xFF || reply[1] != 0xFF || reply[3] != expectedLen) return false;
    if (id != BROADCAST_ID && reply[2] != id) return false;
    uint8_t sum = 0;
    for (int i = 2; i < expectedLen + 3; ++i)
        sum = static_cast<uint8_t>(sum + reply[static_cast<std::size_t>(i)]);
    return static_cast<uint8_t>(~sum) == reply[static_cast<std::size_t>(expectedLen) + 3];
}

// Every request must be a whole, checksum-correct frame for the ID asked.
void CheckRequest(const std::vector<uint8_t>& frame, uint8_t id, uint8_t instruction) {
    Require(frame.size() >= 6 && frame[0] == 0xFF && frame[1] == 0xFF && frame[2] == id);
    Require(frame[3] + 4u == frame.size() && frame[4] == instruction);
    uint8_t sum = 0;
    for (std::size_t i = 2; i + 1 < frame.size(); ++i) sum = static_cast<uint8_t>(sum + frame[i]);
    Require(static_cast<uint8_t>(~sum) == frame.back());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fuzz(data, size);
    CFuzzTransport transport(fuzz);
    CServoUsb servo(&transport);

    for (int step = 0; step < 32 && fuzz.remaining_bytes() > 0; ++step) {
        const uint8_t id = fuzz.ConsumeIntegral<uint8_t>();
        const int writesBefore = transport.m_nWrites;
        switch (fuzz.ConsumeIntegralInRange(0, 4)) {
            case 0: {
                uint8_t answering = 0xAA;
                const int ok = servo.Ping(id, &answering);
                CheckRequest(transport.m_written, id, Instruction::PING);
                Require(ok == (GoodStatus(transport.m_lastReply, id, 2) ? 1 : 0));
                Require(ok ? answering == transport.m_lastReply[2] : answering == 0xAA);
                break;
            }
            case 1: {
                const uint8_t address = fuzz.ConsumeIntegral<uint8_t>();
                const uint8_t count = fuzz.ConsumeIntegral<uint8_t>();
                std::vector<uint8_t> out(256, 0x5A);
                const int got = servo.ReadData(id, address, count, out.data());
                if (count > MAX_READ_COUNT) {
                    Require(got == -1 && transport.m_nWrites == writesBefore);
                    Require(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0x5A; }));
                    break;
                }
                CheckRequest(transport.m_written, id, Instruction::READ_DATA);
                const bool good = GoodStatus(transport.m_lastReply, id, count + 2);
                Require(got == (good ? count : -1));
                for (std::size_t i = 0; i < out.size(); ++i) {
                    const uint8_t expected = good && i < count ? transport.m_lastReply[i + 5] : 0x5A;
                    Require(out[i] == expected);
                }
                break;
            }
            case 2: {
                const uint8_t address = fuzz.ConsumeIntegral<uint8_t>();
                const uint8_t count = fuzz.ConsumeIntegral<uint8_t>();
                const uint8_t returnLevel = fuzz.ConsumeIntegralInRange<uint8_t>(0, 3);
                std::vector<uint8_t> bytes = fuzz.ConsumeBytes<uint8_t>(count);
                bytes.resize(count, 0);
                transport.m_lastReply.clear();
                const int ok = servo.WriteData(id, address, count, bytes.data(), returnLevel);
                if (count > MAX_WRITE_COUNT) {
                    Require(ok == 0 && transport.m_nWrites == writesBefore);
                    break;
                }
                CheckRequest(transport.m_written, id, Instruction::WRITE_DATA);
                Require(transport.m_written[5] == address &&
                        std::equal(bytes.begin(), bytes.end(), transport.m_written.begin() + 6));
                if (id == BROADCAST_ID || returnLevel < 2)
                    Require(ok == 1);
                else
                    Require(ok == (GoodStatus(transport.m_lastReply, id, 2) ? 1 : 0));
                break;
            }
            case 3: {
                const int ok = servo.Reset(id);
                CheckRequest(transport.m_written, id, Instruction::RESET);
                if (id != BROADCAST_ID) Require(ok == (GoodStatus(transport.m_lastReply, id, 2) ? 1 : 0));
                break;
            }
            case 4: {
                const std::vector<uint8_t> raw =
                    fuzz.ConsumeBytes<uint8_t>(fuzz.ConsumeIntegralInRange(0, 80));
                const int answer = servo.RawTransfer(static_cast<int>(raw.size()), raw.data());
                Require(transport.m_written == raw);
                Require(answer == (transport.m_lastReply.empty() ? -1 : transport.m_lastReply[0]));
                break;
            }
        }
    }
    return 0;
}
