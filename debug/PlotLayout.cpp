// Grid rows, grid lines at any resolution and sample queues of the curve plot.
#include "debug/PlotLayout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The right-hand labels are right-aligned by hand: their widths differ with the number of digits.
int RightLabelInset(int off) {
    if (off < 500) return 150;
    if (off == 500) return 60;
    if (off < 1000) return 130;
    return 170;
}

}  // namespace

std::vector<CGridRow> GridRows(int width, int height) {
    std::vector<CGridRow> rows;
    for (int off = kGridSpacing; off < height; off += kGridSpacing) {
        CGridRow row;
        row.off = off;
        row.y = height - off;
        row.left = std::to_string(off);
        row.leftX = 0;
        row.leftY = height - off - kGridLabelRise;
        char right[32];
        std::snprintf(right, sizeof right, "%d/%d", 2 * off - 1000, off / 5 - 100);
        row.right = right;
        row.rightX = width - RightLabelInset(off);
        row.rightY = row.leftY;
        rows.push_back(std::move(row));
    }
    return rows;
}

CPlotScale FitPlot(int pixelsWide, int pixelsHigh, int width, int height) {
    CPlotScale scale;
    if (width > 0) scale.x = static_cast<double>(pixelsWide) / width;
    if (height > 0) scale.y = static_cast<double>(pixelsHigh) / height;
    return scale;
}

CHairline GridHairline(int y, double scale) {
    const int rows = std::max(1, static_cast<int>(std::lround(scale)));
    // Centred on the middle of the line's unit row.
    const int top = static_cast<int>(std::floor((y + 0.5) * scale - rows / 2.0 + 0.5));
    const double ink = std::min(scale, 1.0);
    return {top, rows, static_cast<int>(std::lround(255 * (1 - ink)))};
}

std::vector<std::pair<int, int>> GridDashes(int width, double scale) {
    std::vector<std::pair<int, int>> dashes;
    for (int x = 0; x < width; x += kGridDash + kGridGap) {
        const int left = static_cast<int>(std::lround(x * scale));
        const int right = static_cast<int>(std::lround(std::min(x + kGridDash, width) * scale));
        if (right > left) dashes.emplace_back(left, right);
    }
    return dashes;
}

void TraceCorners(const std::deque<int16_t>& samples, std::vector<int>& corners) {
    corners.clear();
    const int count = static_cast<int>(samples.size());
    if (count == 0) return;
    corners.push_back(0);
    // Samples lie one step apart, so three lie on one line when their two differences are equal.
    for (int i = 1; i + 1 < count; ++i)
        if (samples[i] - samples[i - 1] != samples[i + 1] - samples[i]) corners.push_back(i);
    if (count > 1) corners.push_back(count - 1);
}

void AppendSample(std::deque<int16_t>& queue, int capacity, int sample) {
    while (!queue.empty() && static_cast<int>(queue.size()) >= capacity) queue.pop_front();
    queue.push_back(static_cast<int16_t>(sample));
}
