// Grid rows and sample queues of the curve plot.
#include "PlotLayout.h"

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

void AppendSample(std::deque<int16_t>& queue, int capacity, int sample) {
    while (!queue.empty() && static_cast<int>(queue.size()) >= capacity) queue.pop_front();
    queue.push_back(static_cast<int16_t>(sample));
}
