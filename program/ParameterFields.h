// The PROGRAM page's inputs, one row each: where the value lives in the image, what it may hold, what it is
// called and where it stands. The page builds, fills, gathers and names its inputs from these rows alone.
//
// Thread rules: constant tables; any thread.
#pragma once

#include <array>
#include <cstdint>

#include "ui/DialogUnits.h"

// A box on the page holding some of the inputs, made before them so it stays below them.
struct CParameterGroup {
    const char* title;
    CDluRect place;
};

// The inputs, in the order they are made (so the order Tab follows).
enum EParameterField {
    FieldId,
    FieldBaud,
    FieldDelay,
    FieldReturnLevel,
    FieldP,
    FieldD,
    FieldI,
    FieldV,
    FieldMaxTemperature,
    FieldCurrent,
    FieldTorque,
    FieldPunch,
    FieldMinVoltage,
    FieldMaxVoltage,
    FieldMinPosition,
    FieldMaxPosition,
    FieldCwDeadBand,
    FieldCcwDeadBand,
    kParameterFieldCount
};

// The upper bound of the position limits: the servo's own highest position, known only at run time.
inline constexpr int kUpToMaxPosition = -1;

struct CParameterField {
    // A number typed into an edit field, or a choice from a drop-down list whose index is the value.
    enum class EKind { Number, List };
    EKind kind;
    int group;               // index into kParameterGroups
    uint8_t address;         // the image byte, or the first of a word's two
    int bytes;               // 1, or 2 for a word as the image holds it
    int lower;               // WRITE holds a number within [lower, upper]
    int upper;               // or kUpToMaxPosition
    int maxTyped;            // characters the field takes; 0 for a list
    const char* objectName;  // by which tests and the demo tour find the input
    const char* label;
    CDluRect labelPlace;
    CDluRect place;    // for a list, its opened height
    const char* unit;  // a label after the input, or none
    CDluRect unitPlace;
};

extern const std::array<CParameterGroup, 7> kParameterGroups;
extern const std::array<CParameterField, kParameterFieldCount> kParameterFields;
