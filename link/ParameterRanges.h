// The values a servo's stored parameters can take, checked before they are written or taken from a file.
//
// Thread rules: pure functions of their arguments; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One register whose value no servo takes: its name, the value and the range it must lie in, as one phrase
// ("RETURN_LEVEL 153, not 0 to 2").
struct CRangeProblem {
    uint8_t address;
    std::string text;
};

// Checks the parameter span of `image` (image order, byte n is address n, 16-bit registers low byte first, as
// a parameter file and the pages' image hold them): ID 0 to 253 when checkId, BAUD_RATE code 0 to 7,
// RETURN_LEVEL 0 to 2, MIN_POSITION_LIMIT up to MAX_POSITION_LIMIT and that up to 1023, MIN_VOLTAGE and
// MAX_VOLTAGE 50 to 250 with MIN up to MAX, MAX_TORQUE and PUNCH up to 1023, CURRENT_LIMIT up to 2047. Every
// register that breaks its rule is listed once, in address order; empty when all are good.
std::vector<CRangeProblem> CheckParameterRanges(const uint8_t* image, bool checkId);
