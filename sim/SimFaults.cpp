// Matching fault rules to answers and turning an answer into what a faulty line would carry.
#include "sim/SimFaults.h"

#include <charconv>
#include <iterator>
#include <sstream>

#include "sim/WireFrame.h"

namespace sim {

namespace {

bool Matches(const CSimFaultRule& rule, int target, int instruction) {
    return (rule.servoId == kAnyServo || rule.servoId == target) &&
           (rule.instruction == kAnyInstruction || rule.instruction == instruction);
}

// A status frame with its ID or parameters changed and a valid checksum again, so only the change is wrong.
void Reseal(std::vector<uint8_t>& frame) {
    frame[LEN_OFFSET] = static_cast<uint8_t>(frame.size() - FRAME_OVERHEAD);
    frame.back() = FrameChecksum(std::span(frame).subspan(ID_OFFSET, frame.size() - ID_OFFSET - 1));
}

CSimTransmission Alter(const CSimFaultRule& rule, std::chrono::microseconds delay, std::vector<uint8_t> bytes,
                       bool bootAnswer) {
    CSimTransmission out;
    // Faults on a boot loader's single byte: anything that corrupts a frame turns the byte into another.
    const bool frame = !bootAnswer && bytes.size() > PARAMS_OFFSET;
    switch (rule.kind) {
        case ESimFaultKind::DropReply:
            break;
        case ESimFaultKind::CorruptChecksum:
        case ESimFaultKind::WrongId:
        case ESimFaultKind::WrongLength:
            if (!frame) {
                for (uint8_t& b : bytes) b = static_cast<uint8_t>(~b);
            } else if (rule.kind == ESimFaultKind::CorruptChecksum) {
                bytes.back() = static_cast<uint8_t>(~bytes.back());
            } else if (rule.kind == ESimFaultKind::WrongId) {
                const int id = rule.otherId >= 0 ? rule.otherId : bytes[ID_OFFSET] + 1;
                bytes[ID_OFFSET] = static_cast<uint8_t>(id);
                Reseal(bytes);
            } else {
                // A status without parameters cannot lose one: it gains one instead.
                const bool shorter = rule.lengthChange < 0 && bytes.size() > PARAMS_OFFSET + 1;
                if (shorter)
                    bytes.erase(bytes.end() - 2);
                else
                    bytes.insert(bytes.end() - 1, 0x00);
                Reseal(bytes);
            }
            out.pieces.push_back({delay, std::move(bytes)});
            break;
        case ESimFaultKind::LateReply:
            out.pieces.push_back({delay + rule.delay, std::move(bytes)});
            break;
        case ESimFaultKind::Garbage:
            if (rule.garbage.empty())
                out.pieces.push_back({delay, {std::begin(kDefaultGarbage), std::end(kDefaultGarbage)}});
            else
                out.pieces.push_back({delay, rule.garbage});
            break;
        case ESimFaultKind::StallMidFrame: {
            const auto half = static_cast<std::ptrdiff_t>(bytes.size() / 2);
            out.pieces.push_back({delay, {bytes.begin(), bytes.begin() + half}});
            if (rule.delay != kNever)
                out.pieces.push_back({delay + rule.delay, {bytes.begin() + half, bytes.end()}});
            break;
        }
        case ESimFaultKind::HangUp:
            out.hangUp = true;
            break;
    }
    return out;
}

std::optional<int> Number(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || at != end) return std::nullopt;
    return value;
}

std::optional<std::vector<uint8_t>> HexBytes(const std::string& text) {
    if (text.empty() || text.size() % 2 != 0) return std::nullopt;
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        uint8_t b = 0;
        const char* first = text.data() + i;
        const auto [at, ec] = std::from_chars(first, first + 2, b, 16);
        if (ec != std::errc() || at != first + 2) return std::nullopt;
        bytes.push_back(b);
    }
    return bytes;
}

}  // namespace

void CFaultPlan::Add(const CSimFaultRule& rule) {
    m_rules.push_back(CEntry{rule});
}

void CFaultPlan::Clear() {
    m_rules.clear();
    m_nHits = 0;
}

CSimTransmission CFaultPlan::Apply(int target, int instruction, std::chrono::microseconds delay,
                                   std::vector<uint8_t> bytes) {
    for (CEntry& entry : m_rules) {
        if (!Matches(entry.rule, target, instruction)) continue;
        if (entry.rule.count != kEveryReply && entry.hit >= entry.rule.count) continue;
        if (entry.skipped < entry.rule.skip) {
            ++entry.skipped;
            continue;
        }
        ++entry.hit;
        ++m_nHits;
        return Alter(entry.rule, delay, std::move(bytes), instruction == kBootAnswer);
    }
    CSimTransmission out;
    out.pieces.push_back({delay, std::move(bytes)});
    return out;
}

namespace {

std::optional<ESimFaultKind> KindNamed(const std::string& name) {
    for (const auto& [known, kind] : kFaultNames)
        if (name == known) return kind;
    return std::nullopt;
}

// One key=value of a rule into `rule`; false when the key is unknown or the value outside its range.
bool TakeFaultOption(const std::string& key, const std::string& value, CSimFaultRule& rule) {
    const std::optional<int> n = Number(value);
    if (key == "id" && n && *n >= 0 && *n <= 254) {
        rule.servoId = *n;
    } else if (key == "instr" && value == "boot") {
        rule.instruction = kBootAnswer;
    } else if (key == "instr" && n && *n >= 0 && *n <= 255) {
        rule.instruction = *n;
    } else if (key == "skip" && n && *n >= 0) {
        rule.skip = *n;
    } else if (key == "count" && value == "all") {
        rule.count = kEveryReply;
    } else if (key == "count" && n && *n >= 1) {
        rule.count = *n;
    } else if (key == "delay" && value == "never" && rule.kind == ESimFaultKind::StallMidFrame) {
        rule.delay = kNever;
    } else if (key == "delay" && n && *n >= 0 && *n <= 60000) {
        rule.delay = std::chrono::milliseconds(*n);
    } else if (key == "to" && n && *n >= 0 && *n <= 255) {
        rule.otherId = *n;
    } else if (key == "by" && n && (*n == 1 || *n == -1)) {
        rule.lengthChange = *n;
    } else if (key == "bytes" && HexBytes(value)) {
        rule.garbage = *HexBytes(value);
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::optional<CSimFaultRule> ParseFaultRule(const std::string& text, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<CSimFaultRule> {
        if (error) *error = "bad fault '" + text + "': " + why;
        return std::nullopt;
    };
    const std::size_t colon = text.find(':');
    const std::string kind = text.substr(0, colon);
    const std::optional<ESimFaultKind> known = KindNamed(kind);
    if (!known) return fail("unknown kind '" + kind + "'");
    CSimFaultRule rule;
    rule.kind = *known;
    if (colon == std::string::npos) return rule;
    if (colon + 1 == text.size() || text.back() == ',') return fail("empty option");

    std::istringstream in(text.substr(colon + 1));
    std::string item;
    while (std::getline(in, item, ',')) {
        const std::size_t eq = item.find('=');
        if (eq == std::string::npos) return fail("'" + item + "' is not key=value");
        if (!TakeFaultOption(item.substr(0, eq), item.substr(eq + 1), rule))
            return fail("bad option '" + item + "'");
    }
    return rule;
}

}  // namespace sim
