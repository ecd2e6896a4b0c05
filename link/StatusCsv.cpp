// Status readings as CSV rows and as aligned columns.
#include "StatusCsv.h"

#include <cinttypes>
#include <cstdio>

const char* const STATUS_CSV_HEADER = "time_ms,position,speed,load,voltage,temperature";

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

const char* const MULTI_STATUS_CSV_HEADER = "time_ms,id,position,speed,load,voltage,temperature,alarms";

std::string StatusAlarmNames(uint8_t error) {
    static const char* const kNames[8] = {"over-voltage", nullptr,     "over-heat",   nullptr,
                                          nullptr,        "over-load", "instruction", nullptr};
    std::string text;
    for (int bit = 0; bit < 8; ++bit) {
        if (!(error & (1u << bit))) continue;
        if (!text.empty()) text += '+';
        text += kNames[bit] ? std::string(kNames[bit]) : "bit " + std::to_string(bit);
    }
    return text;
}

std::string MultiStatusCsvRow(int64_t timeMs, uint8_t id, const CStatusSample& s, uint8_t error) {
    char row[96];
    std::snprintf(row, sizeof row, "%" PRId64 ",%d,%d,%d,%d,%d.%d,%d,", timeMs, id, s.position, s.speed,
                  s.load, s.voltage / 10, s.voltage % 10, s.temperature);
    return row + StatusAlarmNames(error);
}

std::string MultiStatusColumnsHeader() {
    char row[96];
    std::snprintf(row, sizeof row, "%10s %3s %8s %6s %6s %7s %11s  %s", "time_ms", "id", "position", "speed",
                  "load", "voltage", "temperature", "alarms");
    return row;
}

std::string MultiStatusColumnsRow(int64_t timeMs, uint8_t id, const CStatusSample& s, uint8_t error) {
    char row[96];
    std::snprintf(row, sizeof row, "%10" PRId64 " %3d %8d %6d %6d %5d.%d %11d  ", timeMs, id, s.position,
                  s.speed, s.load, s.voltage / 10, s.voltage % 10, s.temperature);
    return row + StatusAlarmNames(error);
}
