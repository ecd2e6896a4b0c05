// The roster's bookkeeping: rows by ID, readings by time, rates over the last second.
#include "servos/ServoRoster.h"

#include "link/AlarmWords.h"
#include "link/StatusCsv.h"

namespace {

const std::deque<CTimedReading> kNoHistory;

}  // namespace

void CServoRoster::SetServos(const std::vector<CServoAtRate>& servos, int portBaud) {
    std::vector<CRosterRow> rows;
    for (const CServoAtRate& servo : servos) {
        CRosterRow row;
        row.id = servo.id;
        row.baud = servo.baud;
        row.polled = servo.baud == portBaud;
        // A servo listed before keeps whether it was chosen.
        if (const CRosterRow* before = Find(servo.id)) row.chosen = before->chosen;
        rows.push_back(row);
    }
    m_rows = std::move(rows);
    m_history.assign(m_rows.size(), {});
    m_recent.assign(m_rows.size(), {});
    m_log.clear();
}

std::size_t CServoRoster::IndexOf(uint8_t id) const {
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].id == id && m_rows[i].polled) return i;
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].id == id) return i;
    return m_rows.size();
}

const CRosterRow* CServoRoster::Find(uint8_t id) const {
    const std::size_t i = IndexOf(id);
    return i < m_rows.size() ? &m_rows[i] : nullptr;
}

CRosterRow* CServoRoster::FindRow(uint8_t id) {
    const std::size_t i = IndexOf(id);
    return i < m_rows.size() ? &m_rows[i] : nullptr;
}

std::vector<uint8_t> CServoRoster::PolledIds() const {
    std::vector<uint8_t> ids;
    for (const CRosterRow& row : m_rows)
        if (row.polled) ids.push_back(row.id);
    return ids;
}

std::vector<uint8_t> CServoRoster::ChosenIds() const {
    std::vector<uint8_t> ids;
    for (const CRosterRow& row : m_rows)
        if (row.polled && row.chosen) ids.push_back(row.id);
    return ids;
}

std::vector<CServoAtRate> CServoRoster::Servos() const {
    std::vector<CServoAtRate> servos;
    for (const CRosterRow& row : m_rows) servos.push_back({row.id, row.baud});
    return servos;
}

void CServoRoster::Add(const CPollReading& reading) {
    const std::size_t i = IndexOf(reading.id);
    if (i == m_rows.size()) return;  // a reading for a list that has changed since
    CRosterRow& row = m_rows[i];
    row.silent = !reading.answered;
    if (reading.torque) row.torque = reading.torque;
    if (reading.limits) row.limits = *reading.limits;
    if (!reading.answered) return;
    row.answered = true;
    row.sample = reading.sample;
    row.error = reading.error;
    std::deque<CTimedReading>& history = m_history[i];
    history.push_back({reading.time, reading.sample, reading.error});
    while (!history.empty() && reading.time - history.front().time > kHistory) history.pop_front();
    std::deque<Clock::time_point>& recent = m_recent[i];
    recent.push_back(reading.time);
    while (!recent.empty() && reading.time - recent.front() > std::chrono::seconds(1)) recent.pop_front();
    m_log.push_back({reading.time, reading.id, reading.sample, reading.error});
    if (m_log.size() > kLogLimit) m_log.pop_front();
}

void CServoRoster::SetTorque(uint8_t id, std::optional<bool> torque) {
    if (CRosterRow* row = FindRow(id)) row->torque = torque;
}

void CServoRoster::SetChosen(uint8_t id, bool chosen) {
    if (CRosterRow* row = FindRow(id)) row->chosen = chosen;
}

double CServoRoster::RateHz(uint8_t id, Clock::time_point now) const {
    const std::size_t i = IndexOf(id);
    if (i == m_rows.size()) return 0.0;
    int count = 0;
    for (Clock::time_point t : m_recent[i])
        if (now - t <= std::chrono::seconds(1)) ++count;
    return count;
}

double CServoRoster::MeanRateHz(Clock::time_point now) const {
    double sum = 0;
    int count = 0;
    for (const CRosterRow& row : m_rows) {
        if (!row.polled || !row.answered || row.silent) continue;
        sum += RateHz(row.id, now);
        ++count;
    }
    return count > 0 ? sum / count : 0.0;
}

int CServoRoster::AnsweringCount() const {
    int count = 0;
    for (const CRosterRow& row : m_rows) count += row.polled && row.answered && !row.silent ? 1 : 0;
    return count;
}

const std::deque<CTimedReading>& CServoRoster::History(uint8_t id) const {
    const std::size_t i = IndexOf(id);
    return i < m_rows.size() ? m_history[i] : kNoHistory;
}

std::string CServoRoster::DataCsv() const {
    std::string text = std::string(MULTI_STATUS_CSV_HEADER) + "\n";
    if (m_log.empty()) return text;
    const Clock::time_point start = m_log.front().time;
    for (const CLogEntry& entry : m_log) {
        const CRosterRow* row = Find(entry.id);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(entry.time - start).count();
        const std::string alarms =
            SampleAlarmNames(entry.error, entry.sample, row ? row->limits : CAlarmValues{});
        text += MultiStatusCsvRow(ms, entry.id, entry.sample, alarms) + "\n";
    }
    return text;
}
