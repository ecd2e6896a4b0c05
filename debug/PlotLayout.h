// Geometry of the curve plot that needs no drawing: the grid rows with their scale labels, where a grid line
// lands on a surface of any resolution, and the bounded sample queues. Image coordinates: one pixel per plot
// unit, x to the right, y downwards.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
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

// Where a plot's units land on a surface: surface coordinates per unit across and down.
struct CPlotScale {
    double x = 1;
    double y = 1;
};

// A plot of width x height units stretched over a surface of pixelsWide x pixelsHigh, as the control shows
// it; 1 each way for a plot without units.
CPlotScale FitPlot(int pixelsWide, int pixelsHigh, int width, int height);

// Grid lines are dashed: this many units drawn, then this many left out.
inline constexpr int kGridDash = 18;
inline constexpr int kGridGap = 6;

// A grid line one unit high at image row y, shown at `scale` pixels per unit: the pixel rows it takes, at
// least one, and their grey (0 black to 255 white). Where a pixel is taller than a unit the line takes one
// row, as light as the share of it the line covers, so it shows as much ink as the line itself.
struct CHairline {
    int top;
    int rows;
    int grey;
};
CHairline GridHairline(int y, double scale);

// The dashes of a grid line across a plot `width` units wide, as [left, right) pixel columns at `scale`
// pixels per unit, left to right; a dash cut by the right edge ends there.
std::vector<std::pair<int, int>> GridDashes(int width, double scale);

// The samples where a trace turns, by index, with its first and its last: a polyline through these alone is
// the same line, so a flat run or a steady ramp is drawn as one segment instead of one per sample.
void TraceCorners(const std::deque<int16_t>& samples, std::vector<int>& corners);

// Appends a sample, truncated to 16 bits, as the newest; first drops the oldest samples until the queue
// holds fewer than capacity, so a queue never outgrows its capacity, and with capacity 0 it keeps the
// newest sample only.
void AppendSample(std::deque<int16_t>& queue, int capacity, int sample);
