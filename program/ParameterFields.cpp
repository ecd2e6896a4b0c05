// The PROGRAM page's inputs as the page was designed: registers, ranges and dialog-unit places.
#include "program/ParameterFields.h"

#include <QtGlobal>

#include "link/ControlTable.h"

namespace {

constexpr int kMaxProgramId = 253;
constexpr int kMaxByte = 255;
constexpr int kMaxWord = 1023;
constexpr int kMaxCurrent = 2047;
constexpr int kMinVoltage = 50;
constexpr int kMaxVoltage = 250;
// Opened height of a drop-down list in dialog units: room for every item.
constexpr int kListHeight = 100;

constexpr auto kNumber = CParameterField::EKind::Number;
constexpr auto kList = CParameterField::EKind::List;

enum EGroup { PrimarySet, ServoSet, Temperature, Torque, Voltage, Position, DeadBand };

}  // namespace

const std::array<CParameterGroup, 7> kParameterGroups{{
    {QT_TRANSLATE_NOOP("ServoPG", "Primary Set"), {64, 0, 92, 110}},
    {QT_TRANSLATE_NOOP("ServoPG", "Servo Set"), {160, 0, 56, 110}},
    {QT_TRANSLATE_NOOP("ServoPG", "Temperature Limitation"), {220, 0, 88, 34}},
    {QT_TRANSLATE_NOOP("ServoPG", "Torqut Limitation"), {220, 38, 88, 72}},
    {QT_TRANSLATE_NOOP("ServoPG", "Voltage Limitation"), {64, 114, 76, 64}},
    {QT_TRANSLATE_NOOP("ServoPG", "Position Limitation"), {144, 114, 80, 64}},
    {QT_TRANSLATE_NOOP("ServoPG", "Dead Band"), {228, 114, 80, 64}},
}};

// Texts of the page, translated in its context.
#define LABEL(text) QT_TRANSLATE_NOOP("ServoPG", text)

// clang-format off
const std::array<CParameterField, kParameterFieldCount> kParameterFields{{
    {kNumber, PrimarySet, Reg::ID, 1, 0, kMaxProgramId, 3, "id", LABEL("ID"),
     {72, 18, 22, 8}, {98, 16, 30, 12}, nullptr, {}},
    {kList, PrimarySet, Reg::BAUD_RATE, 1, 0, 0, 0, "baud", LABEL("Band"),
     {72, 40, 22, 8}, {98, 38, 52, kListHeight}, nullptr, {}},
    {kNumber, PrimarySet, Reg::RETURN_DELAY, 1, 0, kMaxByte, 3, "delay", LABEL("Delay"),
     {72, 62, 22, 8}, {98, 60, 30, 12}, LABEL("x2us"), {131, 62, 20, 8}},
    {kList, PrimarySet, Reg::RETURN_LEVEL, 1, 0, 0, 0, "returnLevel", LABEL("Return"),
     {72, 84, 24, 8}, {98, 82, 52, kListHeight}, nullptr, {}},
    {kNumber, ServoSet, Reg::P_COEFF, 1, 0, kMaxByte, 3, "p", LABEL("P"),
     {170, 18, 10, 8}, {182, 16, 26, 12}, nullptr, {}},
    {kNumber, ServoSet, Reg::D_COEFF, 1, 0, kMaxByte, 3, "d", LABEL("D"),
     {170, 40, 10, 8}, {182, 38, 26, 12}, nullptr, {}},
    {kNumber, ServoSet, Reg::I_COEFF, 1, 0, kMaxByte, 3, "i", LABEL("I"),
     {170, 62, 10, 8}, {182, 60, 26, 12}, nullptr, {}},
    {kNumber, ServoSet, Reg::V_COEFF, 1, 0, kMaxByte, 3, "v", LABEL("V"),
     {170, 84, 10, 8}, {182, 82, 26, 12}, nullptr, {}},
    {kNumber, Temperature, Reg::MAX_TEMPERATURE, 1, 0, kMaxByte, 3, "maxTemperature", LABEL("Max"),
     {228, 18, 26, 8}, {258, 16, 34, 12}, nullptr, {}},
    {kNumber, Torque, Reg::CURRENT_LIMIT, 2, 0, kMaxCurrent, 4, "current", LABEL("Current"),
     {228, 54, 28, 8}, {258, 52, 34, 12}, nullptr, {}},
    {kNumber, Torque, Reg::MAX_TORQUE, 2, 0, kMaxWord, 4, "torque", LABEL("Torque"),
     {228, 72, 28, 8}, {258, 70, 34, 12}, nullptr, {}},
    {kNumber, Torque, Reg::PUNCH, 2, 0, kMaxWord, 3, "punch", LABEL("Punch"),
     {228, 90, 28, 8}, {258, 88, 34, 12}, nullptr, {}},
    {kNumber, Voltage, Reg::MIN_VOLTAGE, 1, kMinVoltage, kMaxVoltage, 3, "minVoltage", LABEL("Min"),
     {72, 132, 18, 8}, {94, 130, 34, 12}, nullptr, {}},
    {kNumber, Voltage, Reg::MAX_VOLTAGE, 1, kMinVoltage, kMaxVoltage, 3, "maxVoltage", LABEL("Max"),
     {72, 154, 18, 8}, {94, 152, 34, 12}, nullptr, {}},
    {kNumber, Position, Reg::MIN_POSITION_LIMIT, 2, 0, kUpToMaxPosition, 4, "minPosition", LABEL("Min"),
     {152, 132, 18, 8}, {176, 130, 34, 12}, nullptr, {}},
    {kNumber, Position, Reg::MAX_POSITION_LIMIT, 2, 0, kUpToMaxPosition, 4, "maxPosition", LABEL("Max"),
     {152, 154, 18, 8}, {176, 152, 34, 12}, nullptr, {}},
    {kNumber, DeadBand, Reg::CW_DEAD_BAND, 1, 0, kMaxByte, 2, "cwDeadBand", LABEL("CW"),
     {236, 132, 20, 8}, {260, 130, 34, 12}, nullptr, {}},
    {kNumber, DeadBand, Reg::CCW_DEAD_BAND, 1, 0, kMaxByte, 2, "ccwDeadBand", LABEL("CCW"),
     {236, 154, 20, 8}, {260, 152, 34, 12}, nullptr, {}},
}};
// clang-format on

#undef LABEL
