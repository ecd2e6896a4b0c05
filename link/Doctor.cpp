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

namespace {

// Adds checks under one section's name.
class CSection {
public:
    CSection(std::string name, std::vector<CCheck>& checks) : m_name(std::move(name)), m_checks(checks) {}
    void Add(const char* check, ECheckLevel level, std::string detail, std::string hint = {}) {
        m_checks.push_back({m_name, check, level, std::move(detail), std::move(hint)});
    }
    const std::string& Name() const { return m_name; }

private:
    const std::string m_name;
    std::vector<CCheck>& m_checks;
};

// The setup registers (ID .. LOCK) as one read brought them.
class CSetup {
public:
    explicit CSetup(const uint8_t* bytes) : m_bytes(bytes) {}
    const uint8_t* At(uint8_t address) const { return m_bytes + (address - kSetupStart); }
    int Byte(uint8_t address) const { return *At(address); }

private:
    const uint8_t* m_bytes;
};

// Every ID the scan saw shared: its collided pings and the reads that confirmed a found servo came back
// garbled or twice.
std::vector<CFoundServo> SharedIds(const CScanOutcome& outcome) {
    std::vector<CFoundServo> shared;
    for (const CFoundServo& c : outcome.collisions)
        if (c.id >= 0 && std::find(shared.begin(), shared.end(), c) == shared.end()) shared.push_back(c);
    return shared;
}

void ReportFound(const CDoctorSettings& settings, const CScanOutcome& outcome,
                 const std::vector<int>& skippedRates, CDoctorReport& report) {
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
}

void ReportShared(const std::vector<CFoundServo>& shared, bool anyFound, CDoctorReport& report) {
    if (shared.empty() && anyFound)
        report.Add(kBus, "duplicate IDs", ECheckLevel::Ok, "none: each ID answers alone");
    for (const CFoundServo& s : shared)
        report.Add(kBus, "duplicate IDs", ECheckLevel::Fail,
                   "ID " + std::to_string(s.id) + " at " + std::to_string(s.baud) +
                       " baud: two or more servos answer",
                   "their answers garble each other: plug in one at a time and give each its own ID (brennix "
                   "set-id)");
}

// What the servos' reads add up to for the bus: its error rate and the return delays.
class CBusTally {
public:
    void Add(int id, int reads, int failures, const std::string& firstFailure, int returnDelay);
    void Report(CDoctorReport& report) const;

private:
    int m_reads = 0, m_failures = 0;
    std::string m_failed, m_delays;
    bool m_slow = false;
};

}  // namespace

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
    ReportFound(settings, outcome, skippedRates, report);
    const std::vector<CFoundServo> shared = SharedIds(outcome);
    ReportShared(shared, !outcome.servos.empty(), report);

    std::vector<CCheck> servoChecks;
    CBusTally tally;
    for (const CFoundServo& s : outcome.servos) {
        if (Stopped()) break;
        if (std::find(shared.begin(), shared.end(), s) != shared.end()) continue;
        if (!m_line.SetLineRate(s.baud)) continue;
        const CServoFindings findings = CheckServo(s.id, s.baud, settings, servoChecks);
        tally.Add(s.id, findings.reads, findings.failures, findings.firstFailure, findings.returnDelay);
    }
    tally.Report(report);
    report.Append(servoChecks);
    if (lineRate > 0) m_line.SetLineRate(lineRate);
}
namespace {

void CBusTally::Add(int id, int reads, int failures, const std::string& firstFailure, int returnDelay) {
    m_reads += reads;
    m_failures += failures;
    if (failures > 0)
        m_failed += (m_failed.empty() ? "" : "; ") +
                    ("ID " + std::to_string(id) + ": " + std::to_string(failures) + ", " + firstFailure);
    if (returnDelay >= 0) {
        m_delays += (m_delays.empty() ? "" : ", ") +
                    ("ID " + std::to_string(id) + " " + std::to_string(2 * returnDelay) + " µs");
        m_slow = m_slow || returnDelay > kLongReturnDelay;
    }
}

void CBusTally::Report(CDoctorReport& report) const {
    if (m_reads > 0) {
        const std::string rate =
            std::to_string(m_failures) + " of " + std::to_string(m_reads) + " reads failed";
        if (m_failures == 0)
            report.Add(kBus, "error rate", ECheckLevel::Ok, rate);
        else
            report.Add(kBus, "error rate", ECheckLevel::Warn, rate + " (" + m_failed + ")",
                       "look at the cable, its ground and its length; try a lower rate");
    }
    if (m_delays.empty()) return;
    if (m_slow)
        report.Add(kBus, "return delays", ECheckLevel::Warn, m_delays,
                   "a long RETURN_DELAY slows every exchange; 0 suits most buses");
    else
        report.Add(kBus, "return delays", ECheckLevel::Ok, m_delays);
}

void ReportNoReads(CSection& section, int id) {
    section.Add("reads", ECheckLevel::Warn, "answers pings but no reads — RETURN_LEVEL 0?",
                "set Return to \"Read return\" or \"All return\" on the PROGRAM page (it needs a servo that "
                "answers "
                "reads: alone on the bus, write RETURN_LEVEL with brennix write " +
                    std::to_string(id) + " 8 02)");
    section.Add("other checks", ECheckLevel::Skip, "they need reads");
}

void CheckAlarms(CSection& section, uint8_t alarms, int voltage, const CSetup& setup) {
    if (alarms == 0) {
        section.Add("alarms", ECheckLevel::Ok, "none");
        return;
    }
    std::string hint;
    if (alarms & Reg::ALARM_OVER_VOLTAGE) hint += "check the supply against the voltage limits; ";
    if (alarms & Reg::ALARM_OVER_HEAT) hint += "let it cool and find what loads it; ";
    if (alarms & Reg::ALARM_OVER_LOAD) hint += "free the joint or raise MAX_TORQUE; ";
    hint += "a latched alarm clears when the cause is gone (or after a power cycle)";
    section.Add("alarms", ECheckLevel::Fail,
                AlarmNames(alarms, voltage, setup.Byte(Reg::MIN_VOLTAGE), setup.Byte(Reg::MAX_VOLTAGE)),
                hint);
}

void CheckVoltage(CSection& section, int voltage, const CSetup& setup) {
    const int minVoltage = setup.Byte(Reg::MIN_VOLTAGE), maxVoltage = setup.Byte(Reg::MAX_VOLTAGE);
    const std::string limits = " (limits " + Volts(minVoltage) + " to " + Volts(maxVoltage) + ")";
    if (voltage < minVoltage || voltage > maxVoltage)
        section.Add("voltage", ECheckLevel::Fail, Volts(voltage) + ", outside its limits" + limits,
                    "check the supply, or the limits on the PROGRAM page");
    else if (voltage - minVoltage < kVoltageMargin || maxVoltage - voltage < kVoltageMargin)
        section.Add("voltage", ECheckLevel::Warn, Volts(voltage) + ", at the edge of its limits" + limits,
                    "a supply that sags under load will raise the alarm");
    else
        section.Add("voltage", ECheckLevel::Ok, Volts(voltage) + limits);
}

void CheckTemperature(CSection& section, int id, int temperature, const CSetup& setup) {
    const int maxTemperature = setup.Byte(Reg::MAX_TEMPERATURE);
    const std::string limit = " (limit " + std::to_string(maxTemperature) + " °C)";
    if (temperature > maxTemperature)
        section.Add("temperature", ECheckLevel::Fail,
                    std::to_string(temperature) + " °C, above its limit" + limit,
                    "let it cool; look for a stalled joint or a load it cannot hold (brennix monitor " +
                        std::to_string(id) + ")");
    else if (maxTemperature - temperature < kWarmMargin)
        section.Add("temperature", ECheckLevel::Warn,
                    std::to_string(temperature) + " °C, near its limit" + limit,
                    "give it a rest before it shuts down");
    else
        section.Add("temperature", ECheckLevel::Ok, std::to_string(temperature) + " °C" + limit);
}

void CheckPositionLimits(CSection& section, int id, int lower, int upper) {
    if (lower == 0 && upper == 0)
        section.Add("position limits", ECheckLevel::Info,
                    "both 0: wheel mode (it turns instead of holding positions)");
    else if (lower > upper)
        section.Add("position limits", ECheckLevel::Fail,
                    "MIN " + std::to_string(lower) + " above MAX " + std::to_string(upper) +
                        ": no goal lies between them",
                    "set them again: brennix calibrate " + std::to_string(id) + ", or the PROGRAM page");
    else
        section.Add("position limits", ECheckLevel::Ok,
                    std::to_string(lower) + " to " + std::to_string(upper));
}

void CheckLock(CSection& section, int id, int lock) {
    if (lock == 0)
        section.Add("lock", ECheckLevel::Warn, "unlocked: any write changes its stored parameters",
                    "lock it: brennix write " + std::to_string(id) + " 37 01");
    else
        section.Add("lock", ECheckLevel::Ok, "locked");
}

void CheckTorqueLimit(CSection& section, int maxTorque) {
    if (maxTorque == 0)
        section.Add("torque limit", ECheckLevel::Fail, "MAX_TORQUE 0: the motor gives no torque",
                    "set MAX_TORQUE on the PROGRAM page (1023 is the factory's)");
    else
        section.Add("torque limit", ECheckLevel::Ok, "MAX_TORQUE " + std::to_string(maxTorque));
}

}  // namespace

bool CDoctor::ReadStatus(CRegisterAccess& servo, int reads, uint8_t* status, uint8_t& alarms,
                         CServoFindings& findings) {
    bool anyRead = false;
    for (int i = 0; i < reads; ++i) {
        ++findings.reads;
        if (servo.Read(Reg::STATUS_SPAN_START, Reg::STATUS_SPAN_LENGTH, status)) {
            anyRead = true;
            alarms |= servo.Outcome().error;
        } else {
            if (findings.failures++ == 0) findings.firstFailure = servo.Problem();
            if (servo.PortLost()) break;
        }
    }
    return anyRead;
}

CDoctor::CServoFindings CDoctor::CheckServo(int id, int baud, const CDoctorSettings& settings,
                                            std::vector<CCheck>& checks) {
    CServoFindings findings;
    CSection section("servo " + std::to_string(id) + " @ " + std::to_string(baud), checks);
    CRegisterAccess servo(m_servo, static_cast<uint8_t>(id));

    uint8_t status[Reg::STATUS_SPAN_LENGTH] = {};
    uint8_t alarms = 0;
    const bool anyRead = ReadStatus(servo, settings.reads, status, alarms, findings);
    uint8_t setupBytes[kSetupLength] = {};
    uint8_t firmware[2] = {}, hardware[2] = {};
    if (!anyRead || !servo.Read(kSetupStart, kSetupLength, setupBytes) ||
        !servo.Read(Reg::FIRMWARE_VERSION, 2, firmware) || !servo.Read(Reg::HARDWARE_VERSION, 2, hardware)) {
        // Every read failed while its pings are answered: what RETURN_LEVEL 0 does. Not a bus fault.
        if (!anyRead) findings.failures = findings.reads = 0;
        ReportNoReads(section, id);
        return findings;
    }
    section.Add("reads", ECheckLevel::Ok,
                std::to_string(findings.reads - findings.failures) + " of " + std::to_string(findings.reads) +
                    " answered");
    const CSetup setup(setupBytes);
    findings.returnDelay = setup.Byte(Reg::RETURN_DELAY);
    const int voltage = status[Reg::PRESENT_VOLTAGE - Reg::STATUS_SPAN_START];
    CheckAlarms(section, alarms, voltage, setup);
    CheckVoltage(section, voltage, setup);
    CheckTemperature(section, id, status[Reg::PRESENT_TEMPERATURE - Reg::STATUS_SPAN_START], setup);
    CheckLock(section, id, setup.Byte(Reg::LOCK));
    const int lower = servo.WordAt(setup.At(Reg::MIN_POSITION_LIMIT));
    const int upper = servo.WordAt(setup.At(Reg::MAX_POSITION_LIMIT));
    CheckPositionLimits(section, id, lower, upper);
    const int maxTorque = servo.WordAt(setup.At(Reg::MAX_TORQUE));
    CheckTorqueLimit(section, maxTorque);
    section.Add("versions", ECheckLevel::Info, "firmware " + Hex4(firmware) + ", hardware " + Hex4(hardware));

    if (!settings.move) return findings;
    if (lower == 0 && upper == 0)
        section.Add("moves", ECheckLevel::Skip, "wheel mode");
    else if (lower > upper || maxTorque == 0)
        section.Add("moves", ECheckLevel::Skip, "it cannot move as set (see above)");
    else
        CheckMove(id, section.Name(), setupBytes, checks);
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
