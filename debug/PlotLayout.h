// Geometry of the curve plot that needs no drawing: the grid rows with their scale labels, the bounded
// sample queues and the map of what the traces may have inked. Image coordinates: one pixel per plot unit, x
// to the right, y downwards.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// Grid lines lie every 100 units above the bottom edge.
inline constexpr int kGridSpacing = 100;
// Scale labels sit this far above their line (their top-left corner).
inline constexpr int kGridLabelRise = 50;

struct CGridRow {
    int off;             // height above the bottom edge
    int y;               // image row of the line
    std::string left;    // the height itself, at the left edge
    int leftX, leftY;    // top-left corner of the left label
    std::string right;   // "speed/load" scale of the line: 2 x off - 1000 and off / 5 - 100
    int rightX, rightY;  // top-left corner of the right label
};

// The grid of a plot of width x height units: rows at 100, 200, ... below height, lowest first; none at all
// when the plot is 100 units high or less.
std::vector<CGridRow> GridRows(int width, int height);

// The parts of a frame that traces may have inked, so that a paint restores only those from the kept grid:
// the frame is cut into at most 64 vertical strips, and each row keeps a mask of its inked strips. A plain
// value: the plot keeps its own and uses it on the GUI thread only.
class CInkMap {
public:
    // A map of a width x height frame with nothing inked.
    void Reset(int width, int height);
    // Everything inked, as for a frame not yet drawn.
    void MarkAll();
    // Marks what a trace can ink when drawn as the plot draws it (from (0, height - oldest sample), then one
    // sample every zoom columns) with a pen penWidth units wide: in each strip the trace crosses, the rows
    // between its highest and lowest point there, widened by more than the pen reaches past its line.
    // Nothing for an empty trace or outside the frame.
    void AddTrace(const std::deque<int16_t>& samples, int zoom, int penWidth);
    // Calls copy(y, left, right) for each run [left, right) of inked columns, row by row from the top, so
    // the frame is walked in memory order.
    template <class Copy>
    void ForEachRun(Copy&& copy) const;
    int StripWidth() const { return m_nStripWidth; }

private:
    void MarkStrips(int first, int last, int top, int bottom);

    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nStripWidth = 1;
    std::vector<uint64_t> m_rows;  // bit k: strip k of that row is inked
};

template <class Copy>
void CInkMap::ForEachRun(Copy&& copy) const {
    for (int y = 0; y < m_nHeight; ++y) {
        uint64_t mask = m_rows[static_cast<std::size_t>(y)];
        while (mask) {
            const int first = std::countr_zero(mask);
            const int end = first + std::countr_one(mask >> first);
            copy(y, first * m_nStripWidth, std::min(end * m_nStripWidth, m_nWidth));
            mask = end < 64 ? mask & (~uint64_t{0} << end) : 0;
        }
    }
}

// Appends a sample, truncated to 16 bits, as the newest; first drops the oldest samples until the queue
// holds fewer than capacity, so a queue never outgrows its capacity, and with capacity 0 it keeps the
// newest sample only.
void AppendSample(std::deque<int16_t>& queue, int capacity, int sample);
