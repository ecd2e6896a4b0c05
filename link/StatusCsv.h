// Text forms of status readings shared by the plot's data export and the command-line monitor.
#pragma once

#include <cstdint>
#include <string>

#include "link/StatusSpan.h"

// The CSV header line, without its line end.
extern const char* const STATUS_CSV_HEADER;

// One CSV row (no line end): milliseconds since the recording began, then the values as the page's labels
// show them: signed position, speed and load, volts with one decimal, whole degrees.
std::string StatusCsvRow(int64_t timeMs, const CStatusSample& sample);

// The same values in fixed-width columns for a terminal, and the header that goes over them.
std::string StatusColumnsHeader();
std::string StatusColumnsRow(int64_t timeMs, const CStatusSample& sample);

// The command-line monitor's lines: the same values with a last column of alarms, their short names joined
// by '+' (AlarmNames), empty when none.
extern const char* const MONITOR_CSV_HEADER;
std::string MonitorCsvRow(int64_t timeMs, const CStatusSample& sample, const std::string& alarms);
std::string MonitorColumnsHeader();
std::string MonitorColumnsRow(int64_t timeMs, const CStatusSample& sample, const std::string& alarms);

// Several servos in one table, one row per reading: the header, a CSV row, and the aligned terminal form, each
// ending in the alarms as the monitor's lines do.
extern const char* const MULTI_STATUS_CSV_HEADER;
std::string MultiStatusCsvRow(int64_t timeMs, uint8_t id, const CStatusSample& sample, const std::string& alarms);
std::string MultiStatusColumnsHeader();
std::string MultiStatusColumnsRow(int64_t timeMs, uint8_t id, const CStatusSample& sample,
                                  const std::string& alarms);
