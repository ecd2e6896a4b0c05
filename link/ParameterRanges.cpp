// The register map's ranges of the stored parameters, and the words for a value outside them.
#include "link/ParameterRanges.h"

#include <algorithm>

#include "link/ControlTable.h"
#include "link/Encodings.h"

namespace {

std::string NameOf(uint8_t address) {
    for (const CRegisterInfo& reg : REGISTERS)
        if (reg.address == address) return std::string(reg.name);
    return "address " + std::to_string(address);
}

class CChecker {
public:
    explicit CChecker(const uint8_t* image) : m_image(image) {}

    int Byte(uint8_t address) const { return m_image[address]; }
    int Word(uint8_t address) const { return ImageWord(m_image, address); }

    // value must lie in low..high; `range` says so in words when the bounds are other registers.
    void Expect(uint8_t address, int value, int low, int high, const std::string& range = {}) {
        if (value >= low && value <= high) return;
        const std::string bounds =
            range.empty() ? std::to_string(low) + " to " + std::to_string(high) : range;
        m_problems.push_back({address, NameOf(address) + " " + std::to_string(value) + ", not " + bounds});
    }

    std::vector<CRangeProblem> Take() { return std::move(m_problems); }

private:
    const uint8_t* m_image;
    std::vector<CRangeProblem> m_problems;
};

}  // namespace

std::vector<CRangeProblem> CheckParameterRanges(const uint8_t* image, bool checkId) {
    CChecker c(image);
    if (checkId) c.Expect(Reg::ID, c.Byte(Reg::ID), 0, Range::MAX_ID);
    c.Expect(Reg::BAUD_RATE, c.Byte(Reg::BAUD_RATE), 0, static_cast<int>(BAUD_RATES.size()) - 1);
    c.Expect(Reg::RETURN_LEVEL, c.Byte(Reg::RETURN_LEVEL), 0, Range::MAX_RETURN_LEVEL);
    const int minPosition = c.Word(Reg::MIN_POSITION_LIMIT), maxPosition = c.Word(Reg::MAX_POSITION_LIMIT);
    const int positionCeiling = std::min(maxPosition, Range::MAX_POSITION);
    c.Expect(Reg::MIN_POSITION_LIMIT, minPosition, 0, positionCeiling,
             "0 to MAX_POSITION_LIMIT (" + std::to_string(positionCeiling) + ")");
    c.Expect(Reg::MAX_POSITION_LIMIT, maxPosition, 0, Range::MAX_POSITION);
    const int minVoltage = c.Byte(Reg::MIN_VOLTAGE), maxVoltage = c.Byte(Reg::MAX_VOLTAGE);
    c.Expect(Reg::MAX_VOLTAGE, maxVoltage, Range::MIN_VOLTAGE_LIMIT, Range::MAX_VOLTAGE_LIMIT);
    const bool maxVoltageGood =
        maxVoltage >= Range::MIN_VOLTAGE_LIMIT && maxVoltage <= Range::MAX_VOLTAGE_LIMIT;
    c.Expect(Reg::MIN_VOLTAGE, minVoltage, Range::MIN_VOLTAGE_LIMIT,
             maxVoltageGood ? maxVoltage : Range::MAX_VOLTAGE_LIMIT,
             maxVoltageGood ? std::to_string(Range::MIN_VOLTAGE_LIMIT) + " to MAX_VOLTAGE (" +
                                  std::to_string(maxVoltage) + ")"
                            : std::string());
    c.Expect(Reg::MAX_TORQUE, c.Word(Reg::MAX_TORQUE), 0, Range::MAX_TORQUE);
    c.Expect(Reg::PUNCH, c.Word(Reg::PUNCH), 0, Range::MAX_TORQUE);
    c.Expect(Reg::CURRENT_LIMIT, c.Word(Reg::CURRENT_LIMIT), 0, Range::MAX_CURRENT);
    std::vector<CRangeProblem> problems = c.Take();
    std::sort(problems.begin(), problems.end(),
              [](const CRangeProblem& a, const CRangeProblem& b) { return a.address < b.address; });
    return problems;
}
