// A status's alarm bits in words: short names for a column, and a warning that gives the values behind them.
//
// Thread rules: pure functions of their arguments; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "link/StatusSpan.h"

// What is known of the readings and limits behind the alarm bits; each value only once it has been read.
struct CAlarmValues {
    std::optional<uint8_t> voltage;         // PRESENT_VOLTAGE, tenths of a volt
    std::optional<uint8_t> minVoltage;      // MIN_VOLTAGE
    std::optional<uint8_t> maxVoltage;      // MAX_VOLTAGE
    std::optional<uint8_t> temperature;     // PRESENT_TEMPERATURE, degrees
    std::optional<uint8_t> maxTemperature;  // MAX_TEMPERATURE
};

// The bits that need a reading to be put in words: bit 0x01 says only that the voltage is outside
// MIN_VOLTAGE..MAX_VOLTAGE, not on which side.
inline constexpr uint8_t kAlarmsNeedingValues = 0x01 | 0x04;

// The set bits of a status's error byte as short names joined by '+' ("under-voltage+over-heat"); empty when
// none is set. Bit 0x01 is "under-voltage" below MIN_VOLTAGE, "over-voltage" above MAX_VOLTAGE and "voltage"
// when the values cannot tell; 0x04 "over-heat", 0x20 "over-load", 0x40 "instruction" (a request the servo
// could not carry out); any other bit "bitN". No spaces, so the names fit a column of words.
std::string AlarmNames(uint8_t error, const CAlarmValues& values = {});

// The same names joined by `separator`.
std::string AlarmNames(uint8_t error, const CAlarmValues& values, const std::string& separator);

// A warning's words: each name, followed by the values that explain it where they are known, joined by ", ":
// "under-voltage (voltage 3.0 V outside 5.0–25.0 V), over-heat (temperature 90 °C above 80 °C)". Empty when
// no bit is set.
std::string AlarmWarning(uint8_t error, const CAlarmValues& values = {});

// The readings of a status span (13 bytes from PRESENT_POSITION) put into `values`.
void TakeStatusSpan(const uint8_t* span, CAlarmValues& values);
// MAX_TEMPERATURE, MAX_VOLTAGE and MIN_VOLTAGE (3 bytes from address 13) put into `values`.
void TakeAlarmLimits(const uint8_t* limits, CAlarmValues& values);

// The short names for a decoded status: its voltage and temperature go in beside the limits known, so bit 0x01
// reads "voltage" until the servo's MIN_VOLTAGE and MAX_VOLTAGE are known.
std::string SampleAlarmNames(uint8_t error, const CStatusSample& sample, const CAlarmValues& limits = {});
