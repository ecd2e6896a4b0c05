// The doctor's scan, its per-servo reads and what it concludes from them.
#include "link/Doctor.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <thread>

#include "link/ControlTable.h"
#include "link/Encodings.h"
#include "link/RegisterAccess.h"
#include "link/ScanLine.h"
#include "link/ServoUsb.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kBus = "bus";

// Addresses ID .. LOCK: limits, coefficients, torque, goal and lock in one read.
constexpr uint8_t kSetupStart = Reg::ID;
constexpr uint8_t kSetupLength = Reg::LOCK - Reg::ID + 1;

// A temperature this close to its limit is worth a warning; so is a voltage this close to either of its own.
constexpr int kWarmMargin = 10;        // degrees
constexpr int kVoltageMargin = 2;      // tenths of a volt
constexpr int kLongReturnDelay = 100;  // RETURN_DELAY units (2 us): 200 us added to every exchange

// Status reads per found ID that tell a shared ID: half of them damaged is no noise.
constexpr int kSharedIdReads = 4;

// How long a --move step may take each way.
constexpr std::chrono::milliseconds kMoveTimeout{1500};

std::string Volts(int tenths) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d V", tenths / 10, tenths % 10);
    return text;
}

std::string Hex4(const uint8_t* bytes) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x", bytes[0], bytes[1]);
    return text;
}

// An answer that came but is not a clean status: what several servos answering at once leave behind.
bool Damaged(const CExchangeOutcome& outcome) {
    switch (outcome.kind) {
        case EOutcome::CutShort:
        case EOutcome::BadHeader:
        case EOutcome::BadChecksum:
        case EOutcome::OtherId:
        case EOutcome::WrongLength:
        case EOutcome::Collision:
            return true;
        default:
            return false;
    }
}

std::string IdList(const std::vector<int>& ids) {
    std::string text;
    for (int id : ids) text += (text.empty() ? "" : ", ") + std::to_string(id);
    return text;
}

}  // namespace

std::string AlarmNames(uint8_t error, int voltage, int minVoltage, int maxVoltage) {
    std::string text;
    for (int bit = 0; bit < 8; ++bit) {
        if (!(error & (1u << bit))) continue;
        std::string name;
        if (bit == 0)
            name = voltage < minVoltage ? "under-voltage" : voltage > maxVoltage ? "over-voltage" : "voltage";
        else if (bit == 2)
            name = "over-heat";
        else if (bit == 5)
            name = "over-load";
        else if (bit == 6)
            name = "instruction";
        else
            name = "bit " + std::to_string(bit);
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

struct CDoctor::CServoFindings {
    int reads = 0;
    int failures = 0;
    std::string firstFailure;
    int returnDelay = -1;  // RETURN_DELAY, -1 when not read
};

void CDoctor::CheckBus(const CDoctorSettings& settings, CDoctorReport& report) {
    const int lineRate = m_line.LineRate();
    CScanSettings scan;
    scan.rates = settings.rates;
    scan.firstId = settings.firstId;
    scan.lastId = settings.lastId;
    scan.adapterMargin = settings.adapterMargin;
    CScanEvents events;
    events.stopRequested = [this] { return Stopped(); };
    std::vector<int> skippedRates;
    events.rateSkipped = [&](int baud) { skippedRates.push_back(baud); };
    CBusScanner scanner(m_servo, m_line);
    const CScanOutcome outcome = scanner.Scan(scan, events);

    if (outcome.portLost) {
        report.Add(kBus, "servos", ECheckLevel::Fail, "the adapter went away during the scan",
                   "plug it back in and run the doctor again");
        return;
    }
    std::map<int, std::vector<int>> byRate;
    for (const CFoundServo& s : outcome.servos) byRate[s.baud].push_back(s.id);
    if (outcome.servos.empty()) {
        report.Add(
            kBus, "servos", ECheckLevel::Fail,
            "no servo answered at any rate scanned" + std::string(outcome.stopped ? " (stopped)" : ""),
            "check the servos' power, the data line and ground; a servo in its boot loader answers at no "
            "rate until it returns");
    }
    for (const int baud : settings.rates) {
        const auto found = byRate.find(baud);
        if (found == byRate.end()) continue;
        report.Add(kBus, "servos", ECheckLevel::Ok,
                   std::to_string(baud) + " baud: ID" + (found->second.size() > 1 ? "s " : " ") +
                       IdList(found->second));
    }
    for (const int baud : skippedRates)
        report.Add(kBus, "rates", ECheckLevel::Info,
                   "the adapter cannot run at " + std::to_string(baud) + " baud");

    // Shared IDs: answers that collided in the scan, and IDs whose status reads come back damaged after a
    // clean ping (several servos sending different values at once).
    std::vector<CFoundServo> shared;
    for (const CFoundServo& c : outcome.collisions)
        if (c.id >= 0) shared.push_back(c);
    for (const CFoundServo& s : outcome.servos) {
        if (std::find(shared.begin(), shared.end(), s) != shared.end()) continue;
        if (!m_line.SetLineRate(s.baud)) continue;
        uint8_t span[Reg::STATUS_SPAN_LENGTH] = {};
        int damaged = 0;
        for (int attempt = 0; attempt < kSharedIdReads; ++attempt) {
            CExchangeOutcome read;
            m_servo.ReadData(static_cast<uint8_t>(s.id), Reg::STATUS_SPAN_START, Reg::STATUS_SPAN_LENGTH,
                             span, &read);
            damaged += Damaged(read);
        }
        if (2 * damaged >= kSharedIdReads) shared.push_back(s);
    }
    if (shared.empty() && !outcome.servos.empty())
        report.Add(kBus, "duplicate IDs", ECheckLevel::Ok, "none: each ID answers alone");
    for (const CFoundServo& s : shared)
        report.Add(kBus, "duplicate IDs", ECheckLevel::Fail,
                   "ID " + std::to_string(s.id) + " at " + std::to_string(s.baud) +
                       " baud: two or more servos answer",
                   "their answers garble each other: plug in one at a time and give each its own ID (brennix "
                   "set-id)");

    std::vector<CCheck> servoChecks;
    int reads = 0, failures = 0;
    std::string failed, delays;
    bool slow = false;
    for (const CFoundServo& s : outcome.servos) {
        if (Stopped()) break;
        if (std::find(shared.begin(), shared.end(), s) != shared.end()) continue;
        if (!m_line.SetLineRate(s.baud)) continue;
        const CServoFindings findings = CheckServo(s.id, s.baud, settings, servoChecks);
        reads += findings.reads;
        failures += findings.failures;
        if (findings.failures > 0)
            failed += (failed.empty() ? "" : "; ") +
                      ("ID " + std::to_string(s.id) + ": " + std::to_string(findings.failures) + ", " +
                       findings.firstFailure);
        if (findings.returnDelay >= 0) {
            delays += (delays.empty() ? "" : ", ") +
                      ("ID " + std::to_string(s.id) + " " + std::to_string(2 * findings.returnDelay) + " µs");
            slow = slow || findings.returnDelay > kLongReturnDelay;
        }
    }
    if (reads > 0) {
        const std::string rate = std::to_string(failures) + " of " + std::to_string(reads) + " reads failed";
        if (failures == 0)
            report.Add(kBus, "error rate", ECheckLevel::Ok, rate);
        else
            report.Add(kBus, "error rate", ECheckLevel::Warn, rate + " (" + failed + ")",
                       "look at the cable, its ground and its length; try a lower rate");
    }
    if (!delays.empty()) {
        if (slow)
            report.Add(kBus, "return delays", ECheckLevel::Warn, delays,
                       "a long RETURN_DELAY slows every exchange; 0 suits most buses");
        else
            report.Add(kBus, "return delays", ECheckLevel::Ok, delays);
    }
    report.Append(servoChecks);
    if (lineRate > 0) m_line.SetLineRate(lineRate);
}

CDoctor::CServoFindings CDoctor::CheckServo(int id, int baud, const CDoctorSettings& settings,
                                            std::vector<CCheck>& checks) {
    CServoFindings findings;
    const std::string section = "servo " + std::to_string(id) + " @ " + std::to_string(baud);
    auto add = [&](const char* name, ECheckLevel level, std::string detail, std::string hint = {}) {
        checks.push_back({section, name, level, std::move(detail), std::move(hint)});
    };
    CRegisterAccess servo(m_servo, static_cast<uint8_t>(id));

    uint8_t status[Reg::STATUS_SPAN_LENGTH] = {};
    uint8_t alarms = 0;
    bool anyRead = false;
    for (int i = 0; i < settings.reads; ++i) {
        ++findings.reads;
        if (servo.Read(Reg::STATUS_SPAN_START, Reg::STATUS_SPAN_LENGTH, status)) {
            anyRead = true;
            alarms |= servo.Outcome().error;
        } else {
            if (findings.failures++ == 0) findings.firstFailure = servo.Problem();
            if (servo.PortLost()) break;
        }
    }
    uint8_t setup[kSetupLength] = {};
    uint8_t firmware[2] = {}, hardware[2] = {};
    if (!anyRead || !servo.Read(kSetupStart, kSetupLength, setup) ||
        !servo.Read(Reg::FIRMWARE_VERSION, 2, firmware) || !servo.Read(Reg::HARDWARE_VERSION, 2, hardware)) {
        // Every read failed while its pings are answered: what RETURN_LEVEL 0 does. Not a bus fault.
        if (!anyRead) findings.failures = findings.reads = 0;
        add("reads", ECheckLevel::Warn, "answers pings but no reads — RETURN_LEVEL 0?",
            "set Return to \"Read return\" or \"All return\" on the PROGRAM page (it needs a servo that "
            "answers "
            "reads: alone on the bus, write RETURN_LEVEL with brennix write " +
                std::to_string(id) + " 8 02)");
        add("other checks", ECheckLevel::Skip, "they need reads");
        return findings;
    }
    add("reads", ECheckLevel::Ok,
        std::to_string(findings.reads - findings.failures) + " of " + std::to_string(findings.reads) +
            " answered");
    const auto at = [&](uint8_t address) { return setup + (address - kSetupStart); };
    findings.returnDelay = *at(Reg::RETURN_DELAY);

    const int voltage = status[Reg::PRESENT_VOLTAGE - Reg::STATUS_SPAN_START];
    const int temperature = status[Reg::PRESENT_TEMPERATURE - Reg::STATUS_SPAN_START];
    const int minVoltage = *at(Reg::MIN_VOLTAGE), maxVoltage = *at(Reg::MAX_VOLTAGE);
    const int maxTemperature = *at(Reg::MAX_TEMPERATURE);
    if (alarms == 0) {
        add("alarms", ECheckLevel::Ok, "none");
    } else {
        std::string hint;
        if (alarms & Reg::ALARM_OVER_VOLTAGE) hint += "check the supply against the voltage limits; ";
        if (alarms & Reg::ALARM_OVER_HEAT) hint += "let it cool and find what loads it; ";
        if (alarms & Reg::ALARM_OVER_LOAD) hint += "free the joint or raise MAX_TORQUE; ";
        hint += "a latched alarm clears when the cause is gone (or after a power cycle)";
        add("alarms", ECheckLevel::Fail, AlarmNames(alarms, voltage, minVoltage, maxVoltage), hint);
    }

    const std::string voltageLimits = " (limits " + Volts(minVoltage) + " to " + Volts(maxVoltage) + ")";
    if (voltage < minVoltage || voltage > maxVoltage)
        add("voltage", ECheckLevel::Fail, Volts(voltage) + ", outside its limits" + voltageLimits,
            "check the supply, or the limits on the PROGRAM page");
    else if (voltage - minVoltage < kVoltageMargin || maxVoltage - voltage < kVoltageMargin)
        add("voltage", ECheckLevel::Warn, Volts(voltage) + ", at the edge of its limits" + voltageLimits,
            "a supply that sags under load will raise the alarm");
    else
        add("voltage", ECheckLevel::Ok, Volts(voltage) + voltageLimits);

    const std::string temperatureLimit = " (limit " + std::to_string(maxTemperature) + " °C)";
    if (temperature > maxTemperature)
        add("temperature", ECheckLevel::Fail,
            std::to_string(temperature) + " °C, above its limit" + temperatureLimit,
            "let it cool; look for a stalled joint or a load it cannot hold (brennix monitor " +
                std::to_string(id) + ")");
    else if (maxTemperature - temperature < kWarmMargin)
        add("temperature", ECheckLevel::Warn,
            std::to_string(temperature) + " °C, near its limit" + temperatureLimit,
            "give it a rest before it shuts down");
    else
        add("temperature", ECheckLevel::Ok, std::to_string(temperature) + " °C" + temperatureLimit);

    if (*at(Reg::LOCK) == 0)
        add("lock", ECheckLevel::Warn, "unlocked: any write changes its stored parameters",
            "lock it: brennix write " + std::to_string(id) + " 37 01");
    else
        add("lock", ECheckLevel::Ok, "locked");

    const int lower = servo.WordAt(at(Reg::MIN_POSITION_LIMIT));
    const int upper = servo.WordAt(at(Reg::MAX_POSITION_LIMIT));
    if (lower == 0 && upper == 0)
        add("position limits", ECheckLevel::Info,
            "both 0: wheel mode (it turns instead of holding positions)");
    else if (lower > upper)
        add("position limits", ECheckLevel::Fail,
            "MIN " + std::to_string(lower) + " above MAX " + std::to_string(upper) +
                ": no goal lies between them",
            "set them again: brennix calibrate " + std::to_string(id) + ", or the PROGRAM page");
    else
        add("position limits", ECheckLevel::Ok, std::to_string(lower) + " to " + std::to_string(upper));

    const int maxTorque = servo.WordAt(at(Reg::MAX_TORQUE));
    if (maxTorque == 0)
        add("torque limit", ECheckLevel::Fail, "MAX_TORQUE 0: the motor gives no torque",
            "set MAX_TORQUE on the PROGRAM page (1023 is the factory's)");
    else
        add("torque limit", ECheckLevel::Ok, "MAX_TORQUE " + std::to_string(maxTorque));

    add("versions", ECheckLevel::Info, "firmware " + Hex4(firmware) + ", hardware " + Hex4(hardware));

    if (!settings.move) return findings;
    if (lower == 0 && upper == 0)
        add("moves", ECheckLevel::Skip, "wheel mode");
    else if (lower > upper || maxTorque == 0)
        add("moves", ECheckLevel::Skip, "it cannot move as set (see above)");
    else
        CheckMove(id, section, setup, checks);
    return findings;
}

void CDoctor::CheckMove(int id, const std::string& section, const uint8_t* setup,
                        std::vector<CCheck>& checks) {
    auto add = [&](ECheckLevel level, std::string detail, std::string hint = {}) {
        checks.push_back({section, "moves", level, std::move(detail), std::move(hint)});
    };
    CRegisterAccess servo(m_servo, static_cast<uint8_t>(id), setup[Reg::RETURN_LEVEL - kSetupStart]);
    const auto at = [&](uint8_t address) { return setup + (address - kSetupStart); };
    const bool torqueWasOn = *at(Reg::TORQUE_ENABLE) != 0;
    const uint16_t goalWas = servo.WordAt(at(Reg::GOAL_POSITION));
    const int upper = servo.WordAt(at(Reg::MAX_POSITION_LIMIT));
    const int band = std::max(*at(Reg::CW_DEAD_BAND), *at(Reg::CCW_DEAD_BAND)) + 2;
    const auto start = servo.Position();
    if (!start) {
        add(ECheckLevel::Fail, "its position did not read: " + servo.Problem());
        return;
    }
    const int target =
        *start + kDoctorMoveUnits <= upper ? *start + kDoctorMoveUnits : *start - kDoctorMoveUnits;
    // Waits until the shaft is within the band of `goal`; the last position read.
    const auto reach = [&](int goal) -> std::pair<bool, int> {
        int last = *start;
        const Clock::time_point until = Clock::now() + kMoveTimeout;
        while (Clock::now() < until && !Stopped()) {
            if (const auto p = servo.Position()) {
                last = *p;
                if (std::abs(last - goal) <= band) return {true, last};
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return {false, last};
    };
    bool sent = (torqueWasOn || servo.WriteByte(Reg::TORQUE_ENABLE, 1)) &&
                servo.WriteWord(Reg::GOAL_POSITION, static_cast<uint16_t>(target));
    const auto [out, outAt] = sent ? reach(target) : std::pair{false, *start};
    sent = sent && servo.WriteWord(Reg::GOAL_POSITION, static_cast<uint16_t>(*start));
    const auto [back, backAt] = sent ? reach(*start) : std::pair{false, outAt};
    // Put back as found: its goal, and its torque.
    const bool restored = servo.WriteWord(Reg::GOAL_POSITION, goalWas) &&
                          (torqueWasOn || servo.WriteByte(Reg::TORQUE_ENABLE, 0));
    const std::string path =
        std::to_string(*start) + " -> " + std::to_string(outAt) + " -> " + std::to_string(backAt);
    const std::string putBack =
        restored ? "; goal and torque as they were" : "; could not put goal and torque back";
    if (!sent)
        add(ECheckLevel::Fail, "the move was not sent: " + servo.Problem() + putBack);
    else if (out && back)
        add(restored ? ECheckLevel::Ok : ECheckLevel::Warn, "moved " + path + putBack);
    else if (!out)
        add(ECheckLevel::Fail,
            "did not reach " + std::to_string(target) + " within 1.5 s (" + path + ")" + putBack,
            "check MAX_TORQUE, PUNCH, the load on the joint and the supply under load");
    else
        add(ECheckLevel::Fail, "went out but did not come back (" + path + ")" + putBack,
            "check the load on the joint");
}
