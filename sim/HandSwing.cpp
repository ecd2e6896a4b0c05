// The hand's swing over a joint's range, and its command-line form.
#include "sim/HandSwing.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace sim {

namespace {

std::optional<int> Position(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || at != end || value < 0 || value > 1023) return std::nullopt;
    return value;
}

std::optional<double> Seconds(const std::string& text) {
    // Digits with at most one decimal point, nothing else (no sign, exponent or "inf").
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos ||
        std::count(text.begin(), text.end(), '.') > 1 || text == ".")
        return std::nullopt;
    const double value = std::stod(text);
    if (value < 0.1 || value > 3600.0) return std::nullopt;
    return value;
}

}  // namespace

std::optional<CHandRange> ParseHandRange(const std::string& text, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<CHandRange> {
        if (error) *error = "hand=" + text + ": " + why;
        return std::nullopt;
    };
    const std::size_t dash = text.find('-');
    const std::size_t slash = text.find('/');
    if (dash == std::string::npos || slash == std::string::npos || slash < dash)
        return fail("not LOW-HIGH/SECONDS");
    const auto low = Position(text.substr(0, dash));
    const auto high = Position(text.substr(dash + 1, slash - dash - 1));
    if (!low || !high) return fail("LOW and HIGH are positions from 0 to 1023");
    if (*low >= *high) return fail("LOW must be below HIGH");
    const auto seconds = Seconds(text.substr(slash + 1));
    if (!seconds) return fail("SECONDS is a number from 0.1 to 3600");
    return CHandRange{*low, *high, *seconds};
}

double CHandSwing::TravelSpeed() const {
    const double travelTime = m_range.seconds * (1.0 - 2.0 * kRestShare) / 2.0;  // one way
    return (m_range.high - m_range.low) / travelTime;
}

double CHandSwing::PositionAt(double phase) const {
    const double rest = kRestShare / 2.0;  // each rest straddles phase 0 (LOW) or 0.5 (HIGH)
    const double travel = 0.5 - kRestShare;
    const double span = m_range.high - m_range.low;
    if (phase < rest || phase >= 1.0 - rest) return m_range.low;
    if (phase < rest + travel) return m_range.low + span * (phase - rest) / travel;
    if (phase < 0.5 + rest) return m_range.high;
    return m_range.high - span * (phase - 0.5 - rest) / travel;
}

void CHandSwing::Grip(double position) {
    m_dPosition = position;
    m_bInRange = position >= m_range.low && position <= m_range.high;
    if (m_bInRange) {
        // On the way up, at the point of the swing where the shaft already is.
        const double rest = kRestShare / 2.0;
        m_dPhase = rest + (0.5 - kRestShare) * (position - m_range.low) / (m_range.high - m_range.low);
    }
    m_dSpeed = 0.0;
}

double CHandSwing::Advance(double seconds) {
    if (seconds <= 0.0) return m_dPosition;
    const double before = m_dPosition;
    const double elapsed = seconds;
    if (!m_bInRange) {
        const double target = m_dPosition < m_range.low ? m_range.low : m_range.high;
        const double reach = TravelSpeed() * seconds;
        if (std::abs(target - m_dPosition) > reach) {
            m_dPosition += target > m_dPosition ? reach : -reach;
            m_dSpeed = (m_dPosition - before) / elapsed;
            return m_dPosition;
        }
        const double used = std::abs(target - m_dPosition) / TravelSpeed();
        Grip(target);
        seconds -= used;
    }
    m_dPhase = std::fmod(m_dPhase + seconds / m_range.seconds, 1.0);
    m_dPosition = PositionAt(m_dPhase);
    m_dSpeed = (m_dPosition - before) / elapsed;
    return m_dPosition;
}

}  // namespace sim
