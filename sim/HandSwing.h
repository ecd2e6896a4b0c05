// An operator's hand moving a joint whose torque is off: back and forth over a range, pausing at each end.
#pragma once

#include <optional>
#include <string>

namespace sim {

// The range and pace of the hand's swing, as the command line gives it.
struct CHandRange {
    int low = 0;
    int high = 1023;
    double seconds = 1.0;  // one full swing, low -> high -> low
    bool operator==(const CHandRange&) const = default;
};

// LOW-HIGH/SECONDS: positions 0..1023 with LOW below HIGH, SECONDS a positive decimal number (0.1..3600).
// nullopt with a one-line reason in *error otherwise.
std::optional<CHandRange> ParseHandRange(const std::string& text, std::string* error);

// Where the hand holds the shaft as time passes. A hand rests a moment at each end of its reach before it
// turns, so a tenth of each swing is spent still at LOW and a tenth at HIGH; the rest is travel at an even
// pace. It takes the shaft where it finds it: inside the range it carries on from there toward HIGH,
// outside it first brings the shaft into the range at its travel pace. Pure: driven by the seconds given.
class CHandSwing {
public:
    explicit CHandSwing(const CHandRange& range) : m_range(range) {}

    // Takes hold of the shaft at `position` (the hand starts moving it from there).
    void Grip(double position);
    // Moves the shaft on by `seconds`; returns the new position.
    double Advance(double seconds);
    // Position units per second the hand moves the shaft at while travelling (not while resting).
    double TravelSpeed() const;
    // Signed speed of the last Advance, in position units per second.
    double Speed() const { return m_dSpeed; }

    // Share of a swing spent resting at each end.
    static constexpr double kRestShare = 0.1;

private:
    // Position at a point of the swing: phase 0 is the start of the rest at LOW, 0.5 the middle of the
    // rest at HIGH.
    double PositionAt(double phase) const;

    CHandRange m_range;
    double m_dPhase = 0.0;     // 0..1 within the swing, while in range
    double m_dPosition = 0.0;  // where the shaft is
    bool m_bInRange = false;   // false while the shaft is still being brought into the range
    double m_dSpeed = 0.0;
};

}  // namespace sim
