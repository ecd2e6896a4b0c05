// Reading a servo's set-up from its command-line form.
#include "sim/ServoSpec.h"

#include <algorithm>
#include <charconv>
#include <sstream>

#include "sim/ServoTable.h"

namespace sim {

namespace {

// A decimal number with an optional minus sign and nothing else around it.
std::optional<long> Decimal(const std::string& text) {
    long value = 0;
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || text.front() == '+' || ec != std::errc() || at != end) return std::nullopt;
    return value;
}

// Seconds after the start, with decimals: digits and at most one point, nothing else (no sign or exponent).
std::optional<std::chrono::milliseconds> SecondsAfterStart(const std::string& text) {
    constexpr double kLongest = 24 * 3600.0;
    if (text.empty() || text == "." || text.find_first_not_of("0123456789.") != std::string::npos ||
        std::count(text.begin(), text.end(), '.') > 1)
        return std::nullopt;
    const double seconds = std::stod(text);
    if (seconds > kLongest) return std::nullopt;
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000.0 + 0.5));
}

std::optional<uint8_t> CodeForRate(long rate) {
    for (uint8_t code = 0; code < BAUD_CODE_COUNT; ++code)
        if (BaudRateForCode(code) == rate) return code;
    return std::nullopt;
}

// Why the head "ID[@RATE]" is not one; empty when it is, and servo has its ID and rate.
std::string ReadHead(const std::string& head, CSimServoSpec& servo) {
    const std::size_t at = head.find('@');
    const std::string idText = head.substr(0, at);
    const auto id = Decimal(idText);
    if (!id || *id < 0 || *id > 253) return "the ID '" + idText + "' is not a number from 0 to 253";
    servo.id = static_cast<uint8_t>(*id);
    if (at == std::string::npos) return {};
    const std::string rateText = head.substr(at + 1);
    const auto rate = Decimal(rateText);
    const auto code = rate ? CodeForRate(*rate) : std::nullopt;
    if (!code)
        return "'" + rateText +
               "' is not a servo rate (1000000 500000 250000 128000 115200 76800 57600 38400)";
    servo.baudCode = *code;
    return {};
}

// The settings whose values are words or ranges rather than one number: hand, reply, plug and unplug. False
// when the key is none of them; why is set when the value is not one.
bool ReadWordSetting(const std::string& key, const std::string& value, CSimServoSpec& servo,
                     std::string& why) {
    if (key == "hand") {
        servo.hand = ParseHandRange(value, &why);
    } else if (key == "reply") {
        if (value != "old" && value != "new") why = "reply=" + value + " is neither old nor new";
        servo.changeReply = value == "old" ? EChangeReply::Old : EChangeReply::New;
    } else if (key == "plug" || key == "unplug") {
        const auto after = SecondsAfterStart(value);
        if (!after) why = key + "=" + value + ": not a number of seconds from 0 to 86400";
        (key == "plug" ? servo.plugAfter : servo.unplugAfter) = after;
    } else {
        return false;
    }
    return true;
}

// The settings of one number each; false when the key is none of them or the number is out of its range.
bool ReadNumberSetting(const std::string& key, std::optional<long> parsed, CSimServoSpec& servo) {
    const long value = parsed.value_or(0);
    auto inRange = [&](long low, long high) { return parsed && value >= low && value <= high; };
    if (key == "delay" && inRange(0, MAX_RETURN_DELAY)) {
        servo.returnDelay = static_cast<uint8_t>(value);
    } else if (key == "level" && inRange(0, 2)) {
        servo.returnLevel = static_cast<uint8_t>(value);
    } else if (key == "temp" && inRange(0, 255)) {
        servo.temperature = static_cast<uint8_t>(value);
    } else if (key == "volt" && inRange(0, 255)) {
        servo.voltage = static_cast<uint8_t>(value);
    } else if (key == "load" && inRange(-1023, 1023)) {
        servo.load = static_cast<int>(value);
    } else if (key == "extload" && inRange(-1023, 1023)) {
        servo.externalLoad = static_cast<int>(value);
    } else {
        return false;
    }
    return true;
}

// Why "key=value" is not a setting; empty when it is, and servo holds it.
std::string ReadSetting(const std::string& item, CSimServoSpec& servo) {
    const std::size_t eq = item.find('=');
    const std::string key = item.substr(0, eq);
    if (eq != std::string::npos) {
        std::string why;
        if (ReadWordSetting(key, item.substr(eq + 1), servo, why)) return why;
    }
    const std::optional<long> parsed = eq == std::string::npos ? std::nullopt : Decimal(item.substr(eq + 1));
    if (ReadNumberSetting(key, parsed, servo)) return {};
    if (key == "delay" && parsed && *parsed > MAX_RETURN_DELAY)
        return "delay " + item.substr(eq + 1) + " is over " + std::to_string(MAX_RETURN_DELAY);
    return "'" + item +
           "' is not one of delay=0..254, level=0..2, temp=0..255, volt=0..255, load=-1023..1023, "
           "hand=LOW-HIGH/SECONDS, reply=old|new, plug=SECONDS, unplug=SECONDS, extload=-1023..1023";
}

}  // namespace

std::optional<CSimServoSpec> ParseServoSpec(const std::string& text, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<CSimServoSpec> {
        if (error) *error = "bad servo '" + text + "': " + why;
        return std::nullopt;
    };
    std::istringstream in(text);
    std::string head;
    std::getline(in, head, ':');
    CSimServoSpec servo;
    std::string why = ReadHead(head, servo);
    std::string item;
    while (why.empty() && std::getline(in, item, ':')) why = ReadSetting(item, servo);
    if (!why.empty()) return fail(why);
    if (!text.empty() && text.back() == ':') return fail("empty setting after ':'");
    return servo;
}

}  // namespace sim
