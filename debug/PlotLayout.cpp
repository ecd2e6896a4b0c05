// Grid rows and sample queues of the curve plot.
#include "PlotLayout.h"

#include <climits>
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

void CInkMap::Reset(int width, int height) {
    m_nWidth = std::max(width, 0);
    m_nHeight = std::max(height, 0);
    m_nStripWidth = std::max((m_nWidth + 63) / 64, 1);
    m_rows.assign(static_cast<std::size_t>(m_nHeight), 0);
}

void CInkMap::MarkAll() {
    if (m_nWidth > 0) MarkStrips(0, (m_nWidth - 1) / m_nStripWidth, 0, m_nHeight);
}

void CInkMap::MarkStrips(int first, int last, int top, int bottom) {
    top = std::max(top, 0);
    bottom = std::min(bottom, m_nHeight);
    if (top >= bottom || first > last) return;
    const uint64_t strips = (last - first == 63 ? ~uint64_t{0} : (uint64_t{1} << (last - first + 1)) - 1)
                            << first;
    for (int y = top; y < bottom; ++y) m_rows[static_cast<std::size_t>(y)] |= strips;
}

void CInkMap::AddTrace(const std::deque<int16_t>& samples, int zoom, int penWidth) {
    if (samples.empty() || m_nWidth <= 0 || m_nHeight <= 0) return;
    // A square cap reaches half the pen's width times the square root of two past a point, and the
    // rasteriser may round one pixel further out.
    const int reach = penWidth + 1;
    const int strips = (m_nWidth - 1) / m_nStripWidth + 1;
    std::vector<std::pair<int, int>> rows(static_cast<std::size_t>(strips), {INT_MAX, INT_MIN});
    // Each segment, the first of zero length, widens the rows of every strip its box overlaps.
    long long x0 = 0, x1 = 0;
    int y0 = m_nHeight - samples.front();
    for (int16_t sample : samples) {
        const int y1 = m_nHeight - sample;
        const long long left = std::max(std::min(x0, x1) - reach, 0LL);
        const long long right = std::min<long long>(std::max(x0, x1) + reach, m_nWidth - 1);
        if (left >= m_nWidth) break;  // this segment and every later one lie right of the frame
        const int top = std::min(y0, y1) - reach, bottom = std::max(y0, y1) + reach + 1;
        for (auto strip = left / m_nStripWidth; strip <= right / m_nStripWidth; ++strip) {
            auto& [high, low] = rows[static_cast<std::size_t>(strip)];
            high = std::min(high, top);
            low = std::max(low, bottom);
        }
        x0 = x1;
        y0 = y1;
        x1 += zoom;
    }
    // Strip by strip, so the rows are walked once per strip rather than once per segment.
    for (int strip = 0; strip < strips; ++strip) {
        const auto [high, low] = rows[static_cast<std::size_t>(strip)];
        if (high < low) MarkStrips(strip, strip, high, low);
    }
}

void AppendSample(std::deque<int16_t>& queue, int capacity, int sample) {
    while (!queue.empty() && static_cast<int>(queue.size()) >= capacity) queue.pop_front();
    queue.push_back(static_cast<int16_t>(sample));
}
