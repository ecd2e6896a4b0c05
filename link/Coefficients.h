// The control coefficients a step response tunes (V, P, D, I, PUNCH and the dead bands), their names on the
// command line, and changing them for a run and back.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "link/RegisterAccess.h"
#include "link/StoredWrite.h"

struct CCoefficientInfo {
    std::string_view name;  // as typed after --set
    uint8_t address;
    uint8_t width;
    int max;
};

// The seven, in address order: V, P, D, I (20..23), PUNCH (24-25), CW_DEAD_BAND, CCW_DEAD_BAND (26, 27).
inline constexpr std::size_t COEFFICIENT_COUNT = 7;
const std::array<CCoefficientInfo, COEFFICIENT_COUNT>& Coefficients();
// The one of that name (any case), or null.
const CCoefficientInfo* FindCoefficient(std::string_view name);

// All seven values of one servo, in the order of Coefficients().
struct CCoefficients {
    std::array<int, COEFFICIENT_COUNT> values{20, 15, 100, 0, 100, 1, 1};  // the factory's
    int Get(std::string_view name) const;
    void Set(const CCoefficientInfo& info, int value);
    // Half the width of the band the servo holds still in: the wider of its dead bands.
    int DeadBand() const;
    // "V=20,P=15,D=100,I=0,PUNCH=100,CW_DEAD_BAND=1,CCW_DEAD_BAND=1", or only the names in `only`.
    std::string Text(const std::vector<const CCoefficientInfo*>& only = {}) const;
    bool operator==(const CCoefficients&) const = default;
};

// The bytes 20..27 as they travel, and back.
inline constexpr uint8_t COEFFICIENT_BLOCK_START = 20;
inline constexpr uint8_t COEFFICIENT_BLOCK_LENGTH = 8;
CCoefficients CoefficientsFromBlock(const uint8_t* block, const CRegisterAccess& access);
std::array<uint8_t, COEFFICIENT_BLOCK_LENGTH> BlockFromCoefficients(const CCoefficients& values,
                                                                    const CRegisterAccess& access);

using CCoefficientSettings = std::vector<std::pair<const CCoefficientInfo*, int>>;
// "P=30,D=80": names from Coefficients() (any case) with decimal values within their range. nullopt with the
// reason in *error ("Q is not a coefficient (V, P, ...)", "P=300 is outside 0..255").
std::optional<CCoefficientSettings> ParseCoefficientSettings(std::string_view text, std::string* error);

// Sets a servo's coefficients for a while and puts the old ones back. Thread rules: one thread at a time; it
// blocks for the exchanges and the servo's storing waits.
class CCoefficientChange {
public:
    explicit CCoefficientChange(CRegisterAccess& servo) : m_servo(servo) {}

    // Reads the servo's present values, then writes them with the settings applied (unlock, write, lock,
    // read back). The values read are kept for Restore.
    CStoredWriteResult Apply(const CCoefficientSettings& settings);
    // Whether the servo's coefficients may differ from Before(): Apply reached the bus's write.
    bool Touched() const { return m_bTouched; }
    // Writes Before() back the same way; done at once when nothing was touched.
    CStoredWriteResult Restore();

    const CCoefficients& Before() const { return m_before; }
    const CCoefficients& After() const { return m_after; }
    // What to do when Restore could not run (the port went away): the values to put back and the commands.
    std::string RestoreAdvice() const;

private:
    CRegisterAccess& m_servo;
    CCoefficients m_before;
    CCoefficients m_after;
    CCoefficientSettings m_settings;
    bool m_bTouched = false;
};
