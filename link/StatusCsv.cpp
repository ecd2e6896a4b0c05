// Status readings as CSV rows and as aligned columns.
#include "link/StatusCsv.h"

#include <cinttypes>
#include <cstdio>

const char* const STATUS_CSV_HEADER = "time_ms,position,speed,load,voltage,temperature";
const char* const MONITOR_CSV_HEADER = "time_ms,position,speed,load,voltage,temperature,alarms";

std::string StatusCsvRow(int64_t timeMs, const CStatusSample& s) {
    char row[96];
    std::snprintf(row, sizeof row, "%" PRId64 ",%d,%d,%d,%d.%d,%d", timeMs, s.position, s.speed, s.load,
                  s.voltage / 10, s.voltage % 10, s.temperature);
    return row;
}

std::string StatusColumnsHeader() {
    char row[96];
    std::snprintf(row, sizeof row, "%10s %8s %6s %6s %7s %11s", "time_ms", "position", "speed", "load",
                  "voltage", "temperature");
    return row;
}

std::string StatusColumnsRow(int64_t timeMs, const CStatusSample& s) {
    char row[96];
    std::snprintf(row, sizeof row, "%10" PRId64 " %8d %6d %6d %5d.%d %11d", timeMs, s.position, s.speed,
                  s.load, s.voltage / 10, s.voltage % 10, s.temperature);
    return row;
}

std::string MonitorCsvRow(int64_t timeMs, const CStatusSample& sample, const std::string& alarms) {
    return StatusCsvRow(timeMs, sample) + "," + alarms;
}

std::string MonitorColumnsHeader() {
    return StatusColumnsHeader() + " alarms";
}

std::string MonitorColumnsRow(int64_t timeMs, const CStatusSample& sample, const std::string& alarms) {
    return StatusColumnsRow(timeMs, sample) + (alarms.empty() ? "" : " " + alarms);
}

const char* const MULTI_STATUS_CSV_HEADER = "time_ms,id,position,speed,load,voltage,temperature,alarms";

std::string MultiStatusCsvRow(int64_t timeMs, uint8_t id, const CStatusSample& s, const std::string& alarms) {
    char row[96];
    std::snprintf(row, sizeof row, "%" PRId64 ",%d,%d,%d,%d,%d.%d,%d,", timeMs, id, s.position, s.speed,
                  s.load, s.voltage / 10, s.voltage % 10, s.temperature);
    return row + alarms;
}

std::string MultiStatusColumnsHeader() {
    char row[96];
    std::snprintf(row, sizeof row, "%10s %3s %8s %6s %6s %7s %11s  %s", "time_ms", "id", "position", "speed",
                  "load", "voltage", "temperature", "alarms");
    return row;
}

std::string MultiStatusColumnsRow(int64_t timeMs, uint8_t id, const CStatusSample& s, const std::string& alarms) {
    char row[96];
    std::snprintf(row, sizeof row, "%10" PRId64 " %3d %8d %6d %6d %5d.%d %11d  ", timeMs, id, s.position,
                  s.speed, s.load, s.voltage / 10, s.voltage % 10, s.temperature);
    return row + alarms;
}
