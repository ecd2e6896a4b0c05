// Names and explanations of the alarm bits, decided from the readings where the bit alone cannot tell.
#include "link/AlarmWords.h"

#include <cstdio>
#include <vector>

#include "link/ControlTable.h"

namespace {

constexpr uint8_t ALARM_INSTRUCTION = 0x40;

std::string Volts(uint8_t tenths) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d", tenths / 10, tenths % 10);
    return text;
}

std::string VoltageName(const CAlarmValues& v) {
    if (v.voltage && v.minVoltage && *v.voltage < *v.minVoltage) return "under-voltage";
    if (v.voltage && v.maxVoltage && *v.voltage > *v.maxVoltage) return "over-voltage";
    return "voltage";
}

std::string VoltageValues(const CAlarmValues& v) {
    if (!v.voltage) return {};
    std::string text = "voltage " + Volts(*v.voltage) + " V";
    if (v.minVoltage && v.maxVoltage)
        text += " outside " + Volts(*v.minVoltage) + "\u2013" + Volts(*v.maxVoltage) + " V";
    return text;
}

std::string TemperatureValues(const CAlarmValues& v) {
    if (!v.temperature) return {};
    std::string text = "temperature " + std::to_string(*v.temperature) + " \u00b0C";
    if (v.maxTemperature) text += " above " + std::to_string(*v.maxTemperature) + " \u00b0C";
    return text;
}

// One entry per set bit, lowest first: its name and the values that explain it (may be empty).
std::vector<std::pair<std::string, std::string>> Alarms(uint8_t error, const CAlarmValues& v) {
    std::vector<std::pair<std::string, std::string>> alarms;
    for (int bit = 0; bit < 8; ++bit) {
        const uint8_t mask = static_cast<uint8_t>(1u << bit);
        if (!(error & mask)) continue;
        if (mask == Reg::ALARM_OVER_VOLTAGE)
            alarms.emplace_back(VoltageName(v), VoltageValues(v));
        else if (mask == Reg::ALARM_OVER_HEAT)
            alarms.emplace_back("over-heat", TemperatureValues(v));
        else if (mask == Reg::ALARM_OVER_LOAD)
            alarms.emplace_back("over-load", "");
        else if (mask == ALARM_INSTRUCTION)
            alarms.emplace_back("instruction", "");
        else
            alarms.emplace_back("bit" + std::to_string(bit), "");
    }
    return alarms;
}

}  // namespace

std::string AlarmNames(uint8_t error, const CAlarmValues& values, const std::string& separator) {
    std::string text;
    for (const auto& [name, explained] : Alarms(error, values))
        text += (text.empty() ? "" : separator) + name;
    return text;
}

std::string AlarmNames(uint8_t error, const CAlarmValues& values) {
    return AlarmNames(error, values, "+");
}

std::string AlarmWarning(uint8_t error, const CAlarmValues& values) {
    std::string text;
    for (const auto& [name, explained] : Alarms(error, values)) {
        if (!text.empty()) text += ", ";
        text += explained.empty() ? name : name + " (" + explained + ")";
    }
    return text;
}

void TakeStatusSpan(const uint8_t* span, CAlarmValues& values) {
    values.voltage = span[Reg::PRESENT_VOLTAGE - Reg::STATUS_SPAN_START];
    values.temperature = span[Reg::PRESENT_TEMPERATURE - Reg::STATUS_SPAN_START];
}

void TakeAlarmLimits(const uint8_t* limits, CAlarmValues& values) {
    values.maxTemperature = limits[Reg::MAX_TEMPERATURE - Reg::MAX_TEMPERATURE];
    values.maxVoltage = limits[Reg::MAX_VOLTAGE - Reg::MAX_TEMPERATURE];
    values.minVoltage = limits[Reg::MIN_VOLTAGE - Reg::MAX_TEMPERATURE];
}

std::string SampleAlarmNames(uint8_t error, const CStatusSample& sample, const CAlarmValues& limits) {
    CAlarmValues values = limits;
    values.voltage = sample.voltage;
    values.temperature = sample.temperature;
    return AlarmNames(error, values);
}
