// Group operations over the command layer: plain reads and writes, one sync write, one broadcast.
#include "link/ServoGroup.h"

#include <algorithm>
#include <charconv>
#include <set>

#include "link/ControlTable.h"
#include "link/Encodings.h"
#include "link/Packet.h"
#include "link/ServoUsb.h"

namespace {

// Writes whose status is awaited, as the pages send them to servos answering everything.
constexpr uint8_t kAwaitStatus = 2;

}  // namespace

std::optional<std::vector<uint8_t>> ParseIdList(const std::string& text, std::string* error) {
    std::vector<uint8_t> ids;
    std::set<int> seen;
    std::size_t at = 0;
    while (true) {
        const std::size_t comma = text.find(',', at);
        const std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        int value = -1;
        const char* end = item.data() + item.size();
        const auto [stop, ec] = std::from_chars(item.data(), end, value);
        if (item.empty() || ec == std::errc::invalid_argument || stop != end) {
            if (error) *error = "\"" + item + "\" is not an ID";
            return std::nullopt;
        }
        if (ec == std::errc::result_out_of_range || value < 0 || value > 253) {
            if (error) *error = "ID " + item + " is outside 0-253";
            return std::nullopt;
        }
        if (!seen.insert(value).second) {
            if (error) *error = "ID " + item + " is listed twice";
            return std::nullopt;
        }
        ids.push_back(static_cast<uint8_t>(value));
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return ids;
}

std::string IdListText(const std::vector<uint8_t>& ids, const char* separator) {
    std::string text;
    for (uint8_t id : ids) {
        if (!text.empty()) text += separator;
        text += std::to_string(id);
    }
    return text;
}

void WordBytes(int value, bool highByteFirst, uint8_t* out) {
    const auto high = static_cast<uint8_t>((value >> 8) & 0xFF), low = static_cast<uint8_t>(value & 0xFF);
    out[0] = highByteFirst ? high : low;
    out[1] = highByteFirst ? low : high;
}

int WordValue(const uint8_t* bytes, bool highByteFirst) {
    return highByteFirst ? bytes[0] << 8 | bytes[1] : bytes[1] << 8 | bytes[0];
}

std::optional<int> ReadPresentPosition(CServoUsb& usb, uint8_t id) {
    uint8_t bytes[2] = {};
    if (usb.ReadData(id, Reg::PRESENT_POSITION, 2, bytes) != 2) return std::nullopt;
    const auto raw = static_cast<uint16_t>(WordValue(bytes, usb.IsHighByteFirst() != 0));
    return DecodeSignMagnitude(raw, Reg::POSITION_SIGN_BIT);
}

std::vector<std::optional<int>> ReadPresentPositions(CServoUsb& usb, const std::vector<uint8_t>& ids) {
    std::vector<std::optional<int>> positions;
    positions.reserve(ids.size());
    for (uint8_t id : ids) positions.push_back(ReadPresentPosition(usb, id));
    return positions;
}

int SyncWriteGoals(CServoUsb& usb, const std::vector<uint8_t>& ids, const std::vector<int>& positions) {
    const std::size_t count = std::min(ids.size(), positions.size());
    std::vector<uint8_t> data(2 * count);
    const bool highFirst = usb.IsHighByteFirst() != 0;
    for (std::size_t k = 0; k < count; ++k) WordBytes(positions[k], highFirst, data.data() + 2 * k);
    return usb.SyncWriteEach(Reg::GOAL_POSITION, 2, ids.data(), static_cast<int>(count), data.data());
}

std::vector<uint8_t> HoldWhereTheyAre(CServoUsb& usb, const std::vector<uint8_t>& ids) {
    std::vector<uint8_t> held;
    const bool highFirst = usb.IsHighByteFirst() != 0;
    for (uint8_t id : ids) {
        // Each servo's goal follows its own reading at once: read all first and the first servos would have
        // moved on meanwhile (by a timeout for each silent one), and be sent back.
        const auto position = ReadPresentPosition(usb, id);
        if (!position) continue;
        uint8_t goal[2];
        WordBytes(*position, highFirst, goal);
        if (usb.WriteData(id, Reg::GOAL_POSITION, 2, goal, kAwaitStatus) == 1) held.push_back(id);
    }
    return held;
}

bool WriteTorque(CServoUsb& usb, uint8_t id, bool on) {
    const uint8_t value = on ? 1 : 0;
    return usb.WriteData(id, Reg::TORQUE_ENABLE, 1, &value, kAwaitStatus) == 1;
}

std::optional<bool> ReadTorque(CServoUsb& usb, uint8_t id) {
    uint8_t value = 0;
    if (usb.ReadData(id, Reg::TORQUE_ENABLE, 1, &value) != 1) return std::nullopt;
    return value != 0;
}

bool TorqueOnWhereItIs(CServoUsb& usb, uint8_t id, std::string* error) {
    const auto position = ReadPresentPosition(usb, id);
    if (!position) {
        if (error) *error = "no present position from ID " + std::to_string(id);
        return false;
    }
    uint8_t goal[2];
    WordBytes(*position, usb.IsHighByteFirst() != 0, goal);
    if (usb.WriteData(id, Reg::GOAL_POSITION, 2, goal, kAwaitStatus) != 1) {
        if (error) *error = "ID " + std::to_string(id) + " did not take its goal";
        return false;
    }
    if (!WriteTorque(usb, id, true)) {
        if (error) *error = "ID " + std::to_string(id) + " did not take torque on";
        return false;
    }
    return true;
}

bool BroadcastTorqueOff(CServoUsb& usb) {
    const uint8_t off = 0;
    CExchangeOutcome outcome;
    usb.WriteData(BROADCAST_ID, Reg::TORQUE_ENABLE, 1, &off, kAwaitStatus, &outcome);
    return outcome.kind == EOutcome::NotAwaited;
}

std::vector<std::optional<bool>> AllTorqueOff(CServoUsb& usb, const std::vector<CServoAtRate>& servos,
                                              int portBaud) {
    // The port's rate first when servos are listed there, the others in the list's order; a port rate
    // without listed servos comes last, so no rate change follows its broadcast.
    std::vector<int> rates;
    const auto listedAt = [&](int rate) {
        return std::any_of(servos.begin(), servos.end(),
                           [rate](const CServoAtRate& s) { return s.baud == rate; });
    };
    if (listedAt(portBaud)) rates.push_back(portBaud);
    for (const CServoAtRate& servo : servos)
        if (std::find(rates.begin(), rates.end(), servo.baud) == rates.end()) rates.push_back(servo.baud);
    if (!listedAt(portBaud)) rates.push_back(portBaud);

    std::vector<std::optional<bool>> readBack(servos.size());
    std::vector<bool> read(servos.size(), false);
    const auto readServo = [&](std::size_t k) {
        readBack[k] = ReadTorque(usb, servos[k].id);
        read[k] = true;
    };
    const CBusLock bus = usb.AcquireBus();
    CUsb* line = usb.Transport();
    int current = portBaud;
    const auto moveTo = [&](int rate) {
        if (rate != current) line->Configure(rate);
        current = rate;
    };
    // Stopping comes first: every rate gets its broadcast before the read-backs, except one read of the first
    // servo at each rate, whose answer shows the broadcast was taken at that rate before the line moves on (a
    // line rate changed under a frame still on its way would turn the frame into noise).
    for (int rate : rates) {
        moveTo(rate);
        BroadcastTorqueOff(usb);
        for (std::size_t k = 0; k < servos.size(); ++k) {
            if (servos[k].baud != rate) continue;
            readServo(k);
            break;
        }
    }
    // The rest rate by rate, the port's last.
    for (auto rate = rates.rbegin(); rate != rates.rend(); ++rate) {
        if (*rate == portBaud) continue;
        for (std::size_t k = 0; k < servos.size(); ++k)
            if (servos[k].baud == *rate && !read[k]) {
                moveTo(*rate);
                readServo(k);
            }
    }
    moveTo(portBaud);
    for (std::size_t k = 0; k < servos.size(); ++k)
        if (servos[k].baud == portBaud && !read[k]) readServo(k);
    return readBack;
}
