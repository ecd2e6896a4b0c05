// Ticks on a fixed grid (tick k due at start + k x period), as the client's monitor and the teach loop keep
// them: a tick that overran lets the grid points it covered go instead of serving them back to back.
#pragma once

#include <chrono>
#include <cstdint>

// After tick `served` ended at `now`: the number of the last grid point at or before now, at least `served`,
// so that the next tick is the one after it; adds the points let go to *skipped.
inline int64_t LetPassedTicksGo(std::chrono::steady_clock::time_point start,
                                std::chrono::steady_clock::duration period, int64_t served,
                                std::chrono::steady_clock::time_point now, uint64_t* skipped) {
    const int64_t passed = (now - start) / period;
    if (passed <= served) return served;
    *skipped += static_cast<uint64_t>(passed - served);
    return passed;
}
