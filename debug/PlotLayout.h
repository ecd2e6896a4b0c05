// Geometry of the curve plot that needs no drawing: the grid rows with their scale labels and the bounded
// sample queues. Image coordinates: one pixel per plot unit, x to the right, y downwards.
#pragma once

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

// Appends a sample, truncated to 16 bits, as the newest; first drops the oldest samples until the queue
// holds fewer than capacity, so a queue never outgrows its capacity, and with capacity 0 it keeps the
// newest sample only.
void AppendSample(std::deque<int16_t>& queue, int capacity, int sample);
