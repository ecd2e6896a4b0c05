// The doctor's bus and servo checks: who answers at which rate, shared IDs, how reliably the servos answer,
// and for each servo its alarms, readings against its own limits, lock, limits, torque and versions, and
// (when asked) whether it moves. GUI and client run the same; DoctorHost.h checks the host.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/BusScanner.h"
#include "link/DoctorReport.h"

class CServoUsb;
class CRegisterAccess;
class CScanLine;

struct CDoctorSettings {
    std::vector<int> rates = AllServoRates();
    int firstId = 0;
    int lastId = 253;
    // Zero: the scan measures the adapter's margin; otherwise the caller's.
    std::chrono::microseconds adapterMargin{0};
    int reads = 20;     // status reads per servo for the error rate
    bool move = false;  // a +-20-unit step on each servo, put back afterwards
};

// The names of a status's alarm bits: bit 0x01 is "under-voltage" or "over-voltage" as the servo's voltage
// and limits (tenths of a volt) tell; then "over-heat", "over-load", "instruction", others as "bit N"; joined
// with ", "; empty for none.
std::string AlarmNames(uint8_t error, int voltage, int minVoltage, int maxVoltage);

// How far a --move step goes.
inline constexpr int kDoctorMoveUnits = 20;

// Thread rules: CheckBus blocks its caller (a worker in the GUI, the main thread in the client); the scan
// holds the bus for its length, the rest is one exchange at a time. `stopRequested` is asked between steps
// on that thread. The line is left at the rate it was found at.
class CDoctor {
public:
    CDoctor(CServoUsb& servo, CScanLine& line, std::function<bool()> stopRequested = {})
        : m_servo(servo), m_line(line), m_stopRequested(std::move(stopRequested)) {}

    // Appends the section "bus" and one section per servo ("servo 3 @ 1000000").
    void CheckBus(const CDoctorSettings& settings, CDoctorReport& report);

private:
    struct CServoFindings;
    CServoFindings CheckServo(int id, int baud, const CDoctorSettings& settings, std::vector<CCheck>& checks);
    static bool ReadStatus(CRegisterAccess& servo, int reads, uint8_t* status, uint8_t& alarms,
                           CServoFindings& findings);
    void CheckMove(int id, const std::string& section, const uint8_t* setup, std::vector<CCheck>& checks);
    bool Stopped() const { return m_stopRequested && m_stopRequested(); }

    CServoUsb& m_servo;
    CScanLine& m_line;
    std::function<bool()> m_stopRequested;
};
