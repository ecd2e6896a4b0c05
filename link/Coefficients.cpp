// Names, ranges and the block of the control coefficients, and a change that can be taken back.
#include "link/Coefficients.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

#include "link/ControlTable.h"

namespace {

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

std::string Names() {
    std::string names;
    for (const CCoefficientInfo& c : Coefficients())
        names += (names.empty() ? "" : ", ") + std::string(c.name);
    return names;
}

std::size_t IndexOf(const CCoefficientInfo& info) {
    return static_cast<std::size_t>(&info - Coefficients().data());
}

}  // namespace

const std::array<CCoefficientInfo, COEFFICIENT_COUNT>& Coefficients() {
    static const std::array<CCoefficientInfo, COEFFICIENT_COUNT> all{{
        {"V", Reg::V_COEFF, 1, 255},
        {"P", Reg::P_COEFF, 1, 255},
        {"D", Reg::D_COEFF, 1, 255},
        {"I", Reg::I_COEFF, 1, 255},
        {"PUNCH", Reg::PUNCH, 2, 1023},
        {"CW_DEAD_BAND", Reg::CW_DEAD_BAND, 1, 255},
        {"CCW_DEAD_BAND", Reg::CCW_DEAD_BAND, 1, 255},
    }};
    return all;
}

const CCoefficientInfo* FindCoefficient(std::string_view name) {
    for (const CCoefficientInfo& c : Coefficients())
        if (SameName(c.name, name)) return &c;
    return nullptr;
}

int CCoefficients::Get(std::string_view name) const {
    const CCoefficientInfo* info = FindCoefficient(name);
    return info ? values[IndexOf(*info)] : 0;
}

void CCoefficients::Set(const CCoefficientInfo& info, int value) {
    values[IndexOf(info)] = value;
}

int CCoefficients::DeadBand() const {
    return std::max(Get("CW_DEAD_BAND"), Get("CCW_DEAD_BAND"));
}

std::string CCoefficients::Text(const std::vector<const CCoefficientInfo*>& only) const {
    std::string text;
    for (const CCoefficientInfo& c : Coefficients()) {
        if (!only.empty() && std::find(only.begin(), only.end(), &c) == only.end()) continue;
        text += (text.empty() ? "" : ",") + std::string(c.name) + "=" + std::to_string(values[IndexOf(c)]);
    }
    return text;
}

CCoefficients CoefficientsFromBlock(const uint8_t* block, const CRegisterAccess& access) {
    CCoefficients out;
    for (const CCoefficientInfo& c : Coefficients()) {
        const uint8_t* at = block + (c.address - COEFFICIENT_BLOCK_START);
        out.Set(c, c.width == 2 ? access.WordAt(at) : at[0]);
    }
    return out;
}

std::array<uint8_t, COEFFICIENT_BLOCK_LENGTH> BlockFromCoefficients(const CCoefficients& values,
                                                                    const CRegisterAccess& access) {
    std::array<uint8_t, COEFFICIENT_BLOCK_LENGTH> block{};
    for (const CCoefficientInfo& c : Coefficients()) {
        uint8_t* at = block.data() + (c.address - COEFFICIENT_BLOCK_START);
        const int value = values.values[IndexOf(c)];
        if (c.width == 2)
            access.PutWord(at, static_cast<uint16_t>(value));
        else
            at[0] = static_cast<uint8_t>(value);
    }
    return block;
}

std::optional<CCoefficientSettings> ParseCoefficientSettings(std::string_view text, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<CCoefficientSettings> {
        if (error) *error = why;
        return std::nullopt;
    };
    CCoefficientSettings settings;
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        const std::string_view item = text.substr(from, comma - from);
        from = comma + 1;
        const std::size_t eq = item.find('=');
        const std::string_view name = item.substr(0, eq);
        const CCoefficientInfo* info = FindCoefficient(name);
        if (!info) return fail("'" + std::string(name) + "' is not a coefficient (" + Names() + ")");
        if (eq == std::string_view::npos) return fail(std::string(item) + " needs a value (NAME=VALUE)");
        const std::string_view digits = item.substr(eq + 1);
        int value = -1;
        const auto [at, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (digits.empty() || ec != std::errc() || at != digits.data() + digits.size() || value < 0 ||
            value > info->max)
            return fail(std::string(item) + " is outside 0.." + std::to_string(info->max));
        settings.erase(std::remove_if(settings.begin(), settings.end(),
                                      [info](const auto& s) { return s.first == info; }),
                       settings.end());
        settings.emplace_back(info, value);
    }
    return settings;
}

CStoredWriteResult CCoefficientChange::Apply(const CCoefficientSettings& settings) {
    m_settings = settings;
    uint8_t block[COEFFICIENT_BLOCK_LENGTH] = {};
    if (!m_servo.Read(COEFFICIENT_BLOCK_START, COEFFICIENT_BLOCK_LENGTH, block))
        return {m_servo.PortLost() ? EStoredWrite::PortLost : EStoredWrite::NoAnswer,
                "reading the coefficients failed (nothing written): " + m_servo.Problem()};
    m_before = CoefficientsFromBlock(block, m_servo);
    m_after = m_before;
    for (const auto& [info, value] : settings) m_after.Set(*info, value);
    if (m_after == m_before) return {};
    m_bTouched = true;
    const auto bytes = BlockFromCoefficients(m_after, m_servo);
    return WriteStored(m_servo, COEFFICIENT_BLOCK_START, bytes);
}

CStoredWriteResult CCoefficientChange::Restore() {
    if (!m_bTouched) return {};
    const auto bytes = BlockFromCoefficients(m_before, m_servo);
    CStoredWriteResult result = WriteStored(m_servo, COEFFICIENT_BLOCK_START, bytes);
    if (result.Ok()) m_bTouched = false;
    return result;
}

std::string CCoefficientChange::RestoreAdvice() const {
    std::vector<const CCoefficientInfo*> changed;
    for (const auto& setting : m_settings) changed.push_back(setting.first);
    const auto block = BlockFromCoefficients(m_before, m_servo);
    std::string bytes;
    char hex[4];
    for (uint8_t b : block) {
        std::snprintf(hex, sizeof hex, " %02X", b);
        bytes += hex;
    }
    const std::string id = std::to_string(m_servo.Id());
    return "servo " + id + " may still hold " + m_after.Text(changed) + "; its values were " +
           m_before.Text(changed) + ". To put them back: brennix write " + id + " 37 00; brennix write " +
           id + " 20" + bytes + "; brennix write " + id + " 37 01";
}
