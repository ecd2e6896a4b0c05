// Text forms of status readings shared by the plot's data export and the command-line monitor.
#pragma once

#include <cstdint>
#include <string>

#include "StatusSpan.h"

// The CSV header line, without its line end.
extern const char* const STATUS_CSV_HEADER;

// One CSV row (no line end): milliseconds since the recording began, then the values as the page's labels
// show them: signed position, speed and load, volts with one decimal, whole degrees.
std::string StatusCsvRow(int64_t timeMs, const CStatusSample& sample);

// The same values in fixed-width columns for a terminal, and the header that goes over them.
std::string StatusColumnsHeader();
std::string StatusColumnsRow(int64_t timeMs, const CStatusSample& sample);

// The alarm bits of a status's error byte in short names joined by "+" ("over-heat+over-load"): over-voltage
// (0x01), over-heat (0x04), over-load (0x20), instruction (0x40), any other bit as "bit N"; empty for none.
std::string StatusAlarmNames(uint8_t error);

// Several servos in one table, one row per reading: the header, a CSV row, and the aligned terminal form.
extern const char* const MULTI_STATUS_CSV_HEADER;
std::string MultiStatusCsvRow(int64_t timeMs, uint8_t id, const CStatusSample& sample, uint8_t error);
std::string MultiStatusColumnsHeader();
std::string MultiStatusColumnsRow(int64_t timeMs, uint8_t id, const CStatusSample& sample, uint8_t error);
