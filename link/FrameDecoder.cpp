// Decoding works on the recorded bytes alone (plus the request a status answers), so a saved trace and the
// live window read the same.
#include "link/FrameDecoder.h"

#include <cstdio>

#include "link/BootLoader.h"
#include "link/ControlTable.h"
#include "link/Encodings.h"
#include "link/ServoUsb.h"

namespace {

// A boot loader block on the line: number, its complement, kind, 64 data bytes, CRC-16 and end flag.
constexpr int BOOT_BLOCK_BYTES = 70;
constexpr uint8_t BOOT_LAST_BLOCK = 4;

std::string Who(uint8_t id) {
    return id == BROADCAST_ID ? std::string("all") : std::to_string(id);
}

// "NAME = value" for every register that lies wholly inside the bytes given, starting at address.
std::string RegisterValues(uint8_t address, const uint8_t* data, int count, bool highByteFirst) {
    std::string text;
    for (const CRegisterInfo& reg : REGISTERS) {
        if (reg.address == Reg::HIGH_BYTE_FIRST) continue;
        const int at = reg.address - address;
        if (at < 0 || at + reg.width > count) continue;
        if (!text.empty()) text += ", ";
        text += std::string(reg.name) + " = " + RegisterText(reg, data + at, highByteFirst);
    }
    return text;
}

std::string DescribeRequest(const CBusFrame& f, bool highByteFirst) {
    const uint8_t id = f.outcome.askedId;
    const int params = f.count >= 6 ? f.bytes[3] - 2 : 0;
    const uint8_t* p = f.bytes + 5;
    switch (f.instruction) {
        case Instruction::PING:
            return "ping " + Who(id);
        case Instruction::READ_DATA: {
            std::string text = "read " + Who(id) + ": " + std::to_string(f.request[1]) + " bytes from " +
                               std::to_string(f.request[0]);
            for (const CRegisterInfo& reg : REGISTERS)
                if (reg.address == f.request[0]) text += " (" + std::string(reg.name) + ")";
            return text;
        }
        case Instruction::WRITE_DATA:
        case Instruction::REG_WRITE: {
            const std::string verb = f.instruction == Instruction::WRITE_DATA ? "write " : "reg-write ";
            const int count = f.count > 0 ? params - 1 : f.request[1];
            std::string values =
                count > 0 && f.count >= 6 ? RegisterValues(p[0], p + 1, count, highByteFirst) : "";
            if (values.empty()) values = std::to_string(count) + " bytes at " + std::to_string(f.request[0]);
            return verb + Who(id) + ": " + values;
        }
        case Instruction::ACTION:
            return "action " + Who(id);
        case Instruction::RESET:
            return "reset " + Who(id);
        case Instruction::SYNC_WRITE: {
            std::string text = "sync-write " + std::to_string(f.request[1]) + " bytes at " +
                               std::to_string(f.request[0]) + " to IDs";
            const int block = f.request[1] + 1;
            for (int at = 2; block > 0 && at + block <= params && at < f.KeptBytes() - 5; at += block)
                text += " " + std::to_string(p[at]);
            return text;
        }
        case Instruction::BEGIN_UPGRADE:
            return "begin upgrade " + Who(id);
        default: {
            char text[48];
            std::snprintf(text, sizeof text, "instruction 0x%02X to %s", f.instruction, Who(id).c_str());
            return text;
        }
    }
}

std::string DescribeStatus(const CBusFrame& f, bool highByteFirst) {
    const CExchangeOutcome& o = f.outcome;
    if (o.kind != EOutcome::Good) return DescribeOutcome(o, 0);
    std::string text = "status of " + std::to_string(o.answerId) + ": ok";
    if (f.instruction == Instruction::READ_DATA && f.count > 6) {
        const std::string values = RegisterValues(f.request[0], f.bytes + 5, f.count - 6, highByteFirst);
        if (!values.empty()) text += "; " + values;
    }
    const std::string alarms = AlarmText(o.error);
    if (!alarms.empty()) text += "; alarms: " + alarms;
    return text;
}

std::string DescribeRaw(const CBusFrame& f) {
    if (f.direction == EDirection::Received) {
        // A block opens with its number and that number's complement.
        const bool block = f.request[0] != 0 && f.request[1] == static_cast<uint8_t>(255 - f.request[0]);
        const std::string what = block ? "block " + std::to_string(f.request[0]) + " " : "";
        if (f.count == 0)
            return what + (f.outcome.kind == EOutcome::PortLost ? "the adapter went away" : "no answer");
        if (f.bytes[0] == BOOT_ACK) return what + "ACK";
        if (f.bytes[0] == BOOT_NAK) return what + "NAK";
        char text[24];
        std::snprintf(text, sizeof text, "answer 0x%02X", f.bytes[0]);
        return what + text;
    }
    if (f.count == static_cast<int>(BOOT_ENTRY_CODE.size())) return "boot loader entry code";
    if (f.count == 1 && f.bytes[0] == BOOT_START) return "boot loader start";
    if (f.count == BOOT_BLOCK_BYTES && f.bytes[1] == static_cast<uint8_t>(255 - f.bytes[0]))
        return "block " + std::to_string(f.bytes[0]) + (f.bytes[69] == BOOT_LAST_BLOCK ? " (last)" : "");
    return std::to_string(f.count) + " raw bytes";
}

}  // namespace

std::string DescribeFrame(const CBusFrame& frame, bool highByteFirst) {
    if (frame.raw) return DescribeRaw(frame);
    if (frame.direction == EDirection::Received) return DescribeStatus(frame, highByteFirst);
    std::string text = DescribeRequest(frame, highByteFirst);
    if (frame.count == 0) text += ": " + DescribeOutcome(frame.outcome, 0);
    return text;
}

std::string FrameHex(const CBusFrame& frame) {
    std::string text;
    char digits[4];
    for (int i = 0; i < frame.KeptBytes(); ++i) {
        std::snprintf(digits, sizeof digits, i ? " %02X" : "%02X", frame.bytes[i]);
        text += digits;
    }
    if (frame.count > frame.KeptBytes()) text += " ... (" + std::to_string(frame.count) + " bytes)";
    return text;
}

std::string FrameTime(const CBusFrame& frame) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%06lld", static_cast<long long>(frame.timeUs / 1000000),
                  static_cast<long long>(frame.timeUs % 1000000));
    return text;
}

std::string TraceLine(const CBusFrame& frame, bool highByteFirst) {
    std::string line = FrameTime(frame) + (frame.direction == EDirection::Sent ? " > " : " < ");
    const std::string hex = FrameHex(frame);
    line += hex.empty() ? "--" : hex;
    return line + "  " + DescribeFrame(frame, highByteFirst);
}

std::string RateChangeLine(const CBusFrame& frame) {
    return FrameTime(frame) + " -- line rate " + std::to_string(frame.rate) + " baud";
}
