// Deliberate line faults the simulator can put into its answers, chosen by explicit rules.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

enum class ESimFaultKind {
    DropReply,        // the servo carries out the request, its status never reaches the host
    CorruptChecksum,  // the status goes out with its checksum byte inverted
    WrongId,          // a well-formed status, but from another ID
    WrongLength,      // a well-formed status with another LEN (one parameter byte more or fewer)
    LateReply,        // the status goes out `delay` later than it should (after the host's timeout)
    Garbage,          // line noise: `garbage` goes out instead of the status
    StallMidFrame,    // the first half of the status goes out, the rest `delay` later (or never)
    HangUp,           // the adapter is pulled out instead of answering: the host's port hangs up
};

// Each kind by the name a rule gives it on the command line (ParseFaultRule), in the order of the enum.
struct CSimFaultName {
    const char* name;
    ESimFaultKind kind;
};
inline constexpr CSimFaultName kFaultNames[] = {
    {"drop", ESimFaultKind::DropReply},      {"checksum", ESimFaultKind::CorruptChecksum},
    {"id", ESimFaultKind::WrongId},          {"length", ESimFaultKind::WrongLength},
    {"late", ESimFaultKind::LateReply},      {"garbage", ESimFaultKind::Garbage},
    {"stall", ESimFaultKind::StallMidFrame}, {"hangup", ESimFaultKind::HangUp},
};

// Matches every servo or every instruction.
inline constexpr int kAnyServo = -1;
inline constexpr int kAnyInstruction = -1;
// The single-byte answers of a boot loader during a firmware transfer, as an `instruction` to match.
inline constexpr int kBootAnswer = 0x100;
// A rule with this count stays in force until the faults are cleared.
inline constexpr int kEveryReply = -1;
// StallMidFrame with this delay never sends the rest.
inline constexpr std::chrono::milliseconds kNever{-1};

// One fault and the answers it hits. Only answers the simulator would really send count: a request that is
// not answered (broadcast, return level, unknown ID) neither triggers nor uses up a rule. A rule matches by
// the request's target ID and instruction; the first `skip` matching answers pass untouched, the next
// `count` are hit. Rules are tried in the order added and at most one hits an answer, so a plan is
// deterministic for a given request sequence.
struct CSimFaultRule {
    ESimFaultKind kind = ESimFaultKind::DropReply;
    int servoId = kAnyServo;            // the request's target ID (0..253, 254 = broadcast)
    int instruction = kAnyInstruction;  // instruction code, or kBootAnswer
    int skip = 0;
    int count = 1;                         // or kEveryReply
    std::chrono::milliseconds delay{150};  // LateReply: added delay; StallMidFrame: the pause, or kNever
    int otherId = -1;                      // WrongId: the ID sent; -1 = the right one + 1
    int lengthChange = 1;                  // WrongLength: +1 appends a byte, -1 removes the last one
    std::vector<uint8_t> garbage;          // Garbage: the bytes sent; empty = kDefaultGarbage
};

// Noise with header bytes in it, so a host that hunts for FF FF is led astray too.
inline constexpr uint8_t kDefaultGarbage[] = {0x55, 0xFF, 0x00, 0xAA, 0xFF, 0x13};

// What goes out on the line for one answer: pieces, each due `delay` after the request arrived, then
// possibly a hang-up.
struct CSimTransmission {
    struct CPiece {
        std::chrono::microseconds delay;
        std::vector<uint8_t> bytes;
    };
    std::vector<CPiece> pieces;
    bool hangUp = false;
};

// The rules in force and what they have hit. Not thread-safe: CBusSimulator guards it with its mutex.
class CFaultPlan {
public:
    void Add(const CSimFaultRule& rule);
    void Clear();
    bool Empty() const { return m_rules.empty(); }
    // How many answers have been hit since the last Clear.
    int Hits() const { return m_nHits; }

    // The transmission for an answer to a request for `target` with `instruction`, sent `delay` after the
    // request: unchanged when no rule hits. A boot loader's answer is one byte; the faults that alter a frame
    // invert that byte instead.
    CSimTransmission Apply(int target, int instruction, std::chrono::microseconds delay,
                           std::vector<uint8_t> bytes);

private:
    struct CEntry {
        CSimFaultRule rule;
        int skipped = 0;
        int hit = 0;
    };
    std::vector<CEntry> m_rules;
    int m_nHits = 0;
};

// A rule from its command-line form: KIND[:key=value,...] with KIND one of drop, checksum, id, length, late,
// garbage, stall, hangup and keys id, instr (a number or "boot"), skip, count (a number or "all"), delay
// (milliseconds, "never" for stall), to (WrongId's ID), by (WrongLength's change), bytes (hex, no
// separators). nullopt with the reason in *error when the text is not such a rule.
std::optional<CSimFaultRule> ParseFaultRule(const std::string& text, std::string* error);

}  // namespace sim
