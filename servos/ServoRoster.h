// What the Servos window knows of each servo it lists: the latest reading, whether it answers, its torque,
// its rate of readings, and the recent readings the plot draws and "Save Data" writes. Plain C++, no Qt.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "link/RoundRobinPoller.h"
#include "link/ServoGroup.h"
#include "link/StatusSpan.h"

// What the plot shows of each servo.
enum class EQuantity { Position, Speed, Load, Voltage, Temperature };

// A reading as the plot and the data file keep it.
struct CTimedReading {
    std::chrono::steady_clock::time_point time;
    CStatusSample sample;
    uint8_t error = 0;
};

struct CRosterRow {
    uint8_t id = 0;
    int baud = 0;
    bool polled = false;    // at the port's rate: read round robin
    bool answered = false;  // a reading has come
    bool silent = false;    // the last read got no proper answer
    CStatusSample sample;   // the latest answer
    uint8_t error = 0;      // its alarm bits
    std::optional<bool> torque;
    CAlarmValues limits;  // what its alarm bits compare with, once read
    bool chosen = true;   // plotted and recorded
};

// Thread rules: GUI thread only (the poll's readings are handed over to it first).
class CServoRoster {
public:
    using Clock = std::chrono::steady_clock;

    // The servos listed, in order; those at portBaud are polled. Readings and rates start again.
    void SetServos(const std::vector<CServoAtRate>& servos, int portBaud);
    const std::vector<CRosterRow>& Rows() const { return m_rows; }
    // The row of an ID (the first, at any rate), or nullptr.
    const CRosterRow* Find(uint8_t id) const;
    std::vector<uint8_t> PolledIds() const;
    // The polled servos that are chosen, in list order.
    std::vector<uint8_t> ChosenIds() const;
    std::vector<CServoAtRate> Servos() const;

    // Takes one reading of the poll into its row, its history and the data log.
    void Add(const CPollReading& reading);
    void SetTorque(uint8_t id, std::optional<bool> torque);
    void SetChosen(uint8_t id, bool chosen);
    // Readings that answered during the last second before now, per second.
    double RateHz(uint8_t id, Clock::time_point now) const;
    // The mean of RateHz over the polled servos that answer; 0 when none does.
    double MeanRateHz(Clock::time_point now) const;
    int AnsweringCount() const;

    // The readings of an ID over the last kHistory, oldest first.
    const std::deque<CTimedReading>& History(uint8_t id) const;
    // Every reading since the servos were set, as "Save Data" writes it: MULTI_STATUS_CSV_HEADER, then one
    // row per reading, times in ms since the first reading. The oldest are dropped past kLogLimit.
    std::string DataCsv() const;
    std::size_t LogSize() const { return m_log.size(); }

    static constexpr std::chrono::seconds kHistory{30};
    static constexpr std::size_t kLogLimit = 500000;

private:
    struct CLogEntry {
        Clock::time_point time;
        uint8_t id;
        CStatusSample sample;
        uint8_t error;
    };
    CRosterRow* FindRow(uint8_t id);
    std::size_t IndexOf(uint8_t id) const;

    std::vector<CRosterRow> m_rows;
    std::vector<std::deque<CTimedReading>> m_history;     // per row
    std::vector<std::deque<Clock::time_point>> m_recent;  // per row: answers of the last second
    std::deque<CLogEntry> m_log;
};
