// The curve plot: its grid, labels and traces as drawn at one pixel per unit and at the control's own
// resolution, its bounded queues, and its paint onto the control.
#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QScreen>
#include <QTest>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "debug/PIC.h"
#include "debug/PlotLayout.h"
#include "tests/ui/GuiTest.h"

namespace {

bool IsWhite(QRgb pixel) {
    return (pixel & 0xFFFFFF) == 0xFFFFFF;
}

// Pixels in the rectangle that are not white.
int InkIn(const QImage& image, const QRect& area) {
    int ink = 0;
    const QRect clipped = area.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y)
        for (int x = clipped.left(); x <= clipped.right(); ++x) ink += IsWhite(image.pixel(x, y)) ? 0 : 1;
    return ink;
}

// Pixels that differ between two images of the same size; -1 when the sizes differ.
int DifferingPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return -1;
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        if (a.format() != b.format() ||
            std::memcmp(a.constScanLine(y), b.constScanLine(y), a.bytesPerLine()) != 0)
            for (int x = 0; x < a.width(); ++x) n += (a.pixel(x, y) & 0xFFFFFF) != (b.pixel(x, y) & 0xFFFFFF);
    return n;
}

// Full traces of distinct shapes, so a trace left over from an earlier frame shows as a difference.
void FillTraces(CPIC& plot, int phase) {
    for (int i = 0; i < plot.Capacity(); ++i) {
        plot.AddPosition(300 + (i * 7 + phase) % 250);
        plot.AddSpeed(500 - (i * 3 + phase) % 180);
        plot.AddLoad(150 + (i * 11 + phase) % 90);
    }
}

int CountColour(const QImage& image, QRgb colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) n += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
    return n;
}

TEST(PlotLayout, GridOfA650UnitPlotHasSixRowsWithTheirScales) {
    const std::vector<CGridRow> rows = GridRows(1500, 650);
    ASSERT_EQ(rows.size(), 6u);
    const char* right[] = {"-800/-80", "-600/-60", "-400/-40", "-200/-20", "0/0", "200/20"};
    const int inset[] = {150, 150, 150, 150, 60, 130};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        const int off = 100 * static_cast<int>(i + 1);
        EXPECT_EQ(rows[i].off, off);
        EXPECT_EQ(rows[i].y, 650 - off);
        EXPECT_EQ(rows[i].left, std::to_string(off));
        EXPECT_EQ(rows[i].leftX, 0);
        EXPECT_EQ(rows[i].leftY, 600 - off);
        EXPECT_EQ(rows[i].right, right[i]);
        EXPECT_EQ(rows[i].rightX, 1500 - inset[i]);
        EXPECT_EQ(rows[i].rightY, 600 - off);
    }
    const std::vector<CGridRow> tall = GridRows(1500, 1101);
    ASSERT_EQ(tall.size(), 11u);
    EXPECT_EQ(tall[9].right, "1000/100");
    EXPECT_EQ(tall[9].rightX, 1500 - 170);
    EXPECT_EQ(tall[10].rightX, 1500 - 170);
    EXPECT_TRUE(GridRows(1500, 100).empty());
    EXPECT_TRUE(GridRows(1500, 0).empty());
    EXPECT_EQ(GridRows(1500, 101).size(), 1u);
}

TEST(PlotLayout, QueuesHoldTheirCapacityAndScrollOneSampleAtATime) {
    std::deque<int16_t> queue;
    for (int i = 0; i < 150; ++i) AppendSample(queue, 1500 / 10, i);
    ASSERT_EQ(queue.size(), 150u);
    AppendSample(queue, 150, 150);
    ASSERT_EQ(queue.size(), 150u);
    EXPECT_EQ(queue.front(), 1) << "the oldest went";
    EXPECT_EQ(queue.back(), 150);

    AppendSample(queue, 100, 151);
    EXPECT_EQ(queue.size(), 100u) << "a smaller plot trims the queue at once, so the newest stays in view";
    EXPECT_EQ(queue.back(), 151);

    std::deque<int16_t> none;
    AppendSample(none, 0, 5);
    AppendSample(none, 0, 6);
    EXPECT_EQ(none, std::deque<int16_t>{6}) << "capacity 0 keeps just the newest";

    std::deque<int16_t> wide;
    AppendSample(wide, 10, 70000);
    AppendSample(wide, 10, -32769);
    EXPECT_EQ(wide, (std::deque<int16_t>{4464, 32767})) << "truncated to 16 bits";
}

TEST(PlotLayout, TraceCornersKeepEveryTurnAndDropPointsInsideFlatsAndRamps) {
    std::vector<int> corners;
    const auto cornersOf = [&](std::deque<int16_t> samples) {
        TraceCorners(samples, corners);
        return corners;
    };
    EXPECT_EQ(cornersOf({}), std::vector<int>{});
    EXPECT_EQ(cornersOf({7}), std::vector<int>{0});
    EXPECT_EQ(cornersOf({7, 9}), (std::vector<int>{0, 1}));
    EXPECT_EQ(cornersOf({5, 5, 5, 5}), (std::vector<int>{0, 3})) << "a flat run";
    EXPECT_EQ(cornersOf({0, 2, 4, 6, 6, 6, 3}), (std::vector<int>{0, 3, 5, 6})) << "a ramp, a flat, a drop";
    EXPECT_EQ(cornersOf({0, 9, 0, 9, 0}), (std::vector<int>{0, 1, 2, 3, 4})) << "every sample a turn";
    EXPECT_EQ(cornersOf({-32768, 0, 32767}), (std::vector<int>{0, 1, 2}))
        << "steps of 32768 and 32767 differ";
}

TEST(PlotLayout, GridLinesKeepTheirInkAndDashesAtAnyResolution) {
    // One pixel per unit: the line's own row, black; dashes of 18 units every 24, the last cut at the edge.
    CHairline line = GridHairline(351, 1.0);
    EXPECT_EQ(line.top, 351);
    EXPECT_EQ(line.rows, 1);
    EXPECT_EQ(line.grey, 0);
    std::vector<std::pair<int, int>> dashes = GridDashes(100, 1.0);
    EXPECT_EQ(dashes, (std::vector<std::pair<int, int>>{{0, 18}, {24, 42}, {48, 66}, {72, 90}, {96, 100}}));

    // 96 dpi: 246 pixels for 651 units. The line lands on the row holding its middle, as light as the share
    // of that row it covers.
    const CPlotScale scale = FitPlot(567, 246, 1500, 651);
    EXPECT_DOUBLE_EQ(scale.x, 567.0 / 1500);
    EXPECT_DOUBLE_EQ(scale.y, 246.0 / 651);
    line = GridHairline(651 - 100, scale.y);
    EXPECT_EQ(line.top, 208) << "row 551.5 x 0.378";
    EXPECT_EQ(line.rows, 1);
    EXPECT_EQ(line.grey, 159);
    EXPECT_EQ(GridHairline(0, scale.y).top, 0);
    EXPECT_EQ(GridHairline(650, scale.y).top, 245) << "the bottom row stays inside";
    dashes = GridDashes(1500, scale.x);
    ASSERT_EQ(dashes.size(), 63u);
    EXPECT_EQ(dashes[0], std::make_pair(0, 7));
    EXPECT_EQ(dashes[1], std::make_pair(9, 16));
    EXPECT_EQ(dashes.back(), std::make_pair(562, 567));
    for (std::size_t i = 1; i < dashes.size(); ++i) EXPECT_GT(dashes[i].first, dashes[i - 1].second) << i;

    // Denser than a unit per pixel: the line is black and as many rows high as a unit.
    line = GridHairline(100, 2.0);
    EXPECT_EQ(line.top, 200);
    EXPECT_EQ(line.rows, 2);
    EXPECT_EQ(line.grey, 0);

    EXPECT_TRUE(GridDashes(0, 1.0).empty());
    EXPECT_DOUBLE_EQ(FitPlot(100, 100, 0, 0).x, 1.0) << "no units: no scale to apply";
}

class PlotTest : public ::testing::Test {
protected:
    QApplication* m_app = EnsureApplication();  // before the widget
    CPIC m_plot;
};

TEST_F(PlotTest, EmptyPlotShowsOnlyTheDashedGridAndItsLabels) {
    const QImage frame = m_plot.ComposeImage(1500, 650, 96);
    ASSERT_EQ(frame.size(), QSize(1500, 650));
    for (const CGridRow& row : GridRows(1500, 650)) {
        SCOPED_TRACE(row.off);
        // Dashed: black along most of the line, with gaps, and nothing just above or below it outside the
        // labels.
        int black = 0;
        for (int x = 0; x < 1500; ++x) black += frame.pixel(x, row.y) == qRgb(0, 0, 0) ? 1 : 0;
        EXPECT_GT(black, 1500 * 6 / 10);
        EXPECT_LT(black, 1500 * 9 / 10);
        EXPECT_EQ(InkIn(frame, QRect(400, row.y + 1, 700, 20)), 0);
        EXPECT_EQ(InkIn(frame, QRect(400, row.y - 20, 700, 19)), 0);
        // The labels start at their corners, 50 units above the line, about 40 units high.
        EXPECT_GT(InkIn(frame, QRect(row.leftX, row.leftY, 100, 45)), 50);
        EXPECT_EQ(InkIn(frame, QRect(row.leftX, row.leftY - 12, 100, 10)), 0);
        EXPECT_GT(InkIn(frame, QRect(row.rightX, row.rightY, 1500 - row.rightX, 45)), 50);
        EXPECT_EQ(InkIn(frame, QRect(row.rightX - 30, row.rightY, 28, 45)), 0);
        EXPECT_EQ(InkIn(frame, QRect(1499, row.rightY, 1, 45)), 0) << "the label ends inside the plot";
    }
    EXPECT_EQ(InkIn(frame, QRect(200, 0, 1100, 45)), 0) << "only the 600 row's labels at the top";
    EXPECT_EQ(InkIn(frame, QRect(0, 560, 1500, 90)), 0) << "nothing below the 100 line";

    EXPECT_EQ(InkIn(m_plot.ComposeImage(1500, 100, 96), QRect(0, 0, 1500, 100)), 0) << "no grid at 100 units";
}

TEST_F(PlotTest, TracesAreDrawnInTheirColoursInOrderAndOnlyWhenSwitchedOn) {
    m_plot.SetWidth(1500);
    m_plot.SetZoom(10);
    for (int i = 0; i < 150; ++i) {
        m_plot.AddPosition(280);
        m_plot.AddSpeed(200);
        m_plot.AddLoad(280);  // the same height as the position: drawn over it
    }
    m_plot.SetTraceMask(kTracePosition);
    QImage frame = m_plot.ComposeImage(1500, 650, 96);
    EXPECT_EQ(frame.pixel(700, 370), qRgb(0, 0, 0));
    EXPECT_EQ(frame.pixel(700, 371), qRgb(0, 0, 0)) << "3 units wide";
    EXPECT_TRUE(IsWhite(frame.pixel(700, 374)));
    EXPECT_EQ(CountColour(frame, qRgb(255, 0, 0)), 0);
    EXPECT_EQ(frame.pixel(1490, 370), qRgb(0, 0, 0)) << "the 150th sample lands near the right edge";
    EXPECT_TRUE(IsWhite(frame.pixel(1497, 370)));

    m_plot.SetTraceMask(kTracePosition | kTraceSpeed | kTraceLoad);
    frame = m_plot.ComposeImage(1500, 650, 96);
    EXPECT_EQ(frame.pixel(700, 370), qRgb(0, 255, 0)) << "load drawn last, over the position";
    EXPECT_EQ(frame.pixel(400, 650 - 200), qRgb(255, 0, 0));
    EXPECT_GT(CountColour(frame, qRgb(0, 0, 0)), 0) << "the grid is still there";

    m_plot.SetTraceMask(0);
    frame = m_plot.ComposeImage(1500, 650, 96);
    EXPECT_EQ(CountColour(frame, qRgb(0, 255, 0)) + CountColour(frame, qRgb(255, 0, 0)), 0);
    EXPECT_TRUE(IsWhite(frame.pixel(700, 370)));
}

TEST_F(PlotTest, SamplesBeyondThePlotAreCutOffAtItsEdges) {
    m_plot.SetWidth(1500);
    m_plot.SetTraceMask(kTraceSpeed | kTraceLoad);
    for (int i = 0; i < 20; ++i) {
        m_plot.AddSpeed(1000);  // speed 100, far above a 650-unit plot
        m_plot.AddLoad(-100);   // below the bottom edge
    }
    const QImage frame = m_plot.ComposeImage(1500, 650, 96);
    EXPECT_EQ(CountColour(frame, qRgb(255, 0, 0)) + CountColour(frame, qRgb(0, 255, 0)), 0);
}

// Ink down one column of an image (1 for each black pixel, a fraction for grey), and its centre row.
struct CColumnInk {
    double ink = 0;
    double centre = 0;
};
CColumnInk InkDown(const QImage& image, int x, int top, int bottom) {
    CColumnInk column;
    for (int y = top; y < bottom; ++y) {
        const double ink = 1 - qGray(image.pixel(x, y)) / 255.0;
        column.ink += ink;
        column.centre += ink * (y + 0.5);
    }
    if (column.ink > 0) column.centre /= column.ink;
    return column;
}

TEST_F(PlotTest, AtTheControlsPixelsTracesKeepTheirPlaceAndWidthAndALoneSampleShows) {
    m_plot.SetWidth(1500);
    m_plot.SetTraceMask(kTracePosition);
    m_plot.AddPosition(280);  // a lone sample: row 371 of 651, between the grid lines at 351 and 451
    for (int ratio : {1, 2}) {
        SCOPED_TRACE(ratio);
        const QSize pixels = QSize(567, 246) * ratio;  // 96 dpi, and a screen of twice its density
        const double scale = pixels.height() / 651.0;
        const int row = static_cast<int>(371.5 * scale);
        const QImage dot = m_plot.ComposeImage(pixels, 1500, 651, 96);
        EXPECT_GT(InkDown(dot, 0, row - 4 * ratio, row + 4 * ratio).ink, 0.5) << "the dot at the left edge";
        EXPECT_EQ(InkIn(dot, QRect(4 * ratio, row - 4 * ratio, 100, 8 * ratio)), 0)
            << "and nothing beside it";
    }
    for (int i = 0; i < 150; ++i) m_plot.AddPosition(280);
    for (int ratio : {1, 2}) {
        SCOPED_TRACE(ratio);
        const QSize pixels = QSize(567, 246) * ratio;
        const double scale = pixels.height() / 651.0;
        const QImage frame = m_plot.ComposeImage(pixels, 1500, 651, 96);
        for (int x : {100 * ratio, 300 * ratio, 500 * ratio}) {
            // Three units wide: 1.13 pixels at 96 dpi, drawn one pixel wide; 2.27 pixels at twice that.
            const CColumnInk column =
                InkDown(frame, x, static_cast<int>(361 * scale), static_cast<int>(381 * scale));
            EXPECT_NEAR(column.ink, ratio == 1 ? 1.0 : 3 * scale, 0.25) << x;
            EXPECT_NEAR(column.centre, 371.5 * scale, 0.3) << x;
        }
    }
}

TEST_F(PlotTest, APaintMeasuresTheControlInTenthsOfAMillimetreAndShowsTheFrameAtItsPixels) {
    EXPECT_EQ(CPIC::PixelsToUnits(96, 96), 254);
    EXPECT_EQ(CPIC::PixelsToUnits(567, 96), 1500);
    EXPECT_EQ(CPIC::PixelsToUnits(100, 0), 0);

    m_plot.resize(567, 246);
    for (int i = 0; i < 200; ++i) m_plot.AddPosition(300);  // before the first paint: one sample kept
    EXPECT_EQ(m_plot.Positions().size(), 1u);
    const QImage shown = m_plot.grab().toImage();
    const int dpiX = m_plot.logicalDpiX(), dpiY = m_plot.logicalDpiY();
    EXPECT_EQ(m_plot.Width(), CPIC::PixelsToUnits(567, dpiX));
    EXPECT_EQ(m_plot.Height(), CPIC::PixelsToUnits(246, dpiY));
    if (dpiX == 96 && dpiY == 96) {
        EXPECT_EQ(m_plot.Height(), 651);
    }
    EXPECT_EQ(m_plot.Capacity(), m_plot.Width() / 10);

    // The 100 line (100 units up) shows as a grey row, the frame's border is drawn, the face is white.
    const int y100 = shown.height() - 1 - 100 * dpiY / 254;
    int grey = 0;
    for (int dy = -2; dy <= 2; ++dy)
        for (int x = 200; x < 400; ++x) grey += IsWhite(shown.pixel(x, y100 + dy)) ? 0 : 1;
    EXPECT_GT(grey, 100);
    EXPECT_FALSE(IsWhite(shown.pixel(0, 100)));
    EXPECT_TRUE(IsWhite(shown.pixel(300, shown.height() - 10)));
}

TEST_F(PlotTest, KeptGridGivesTheFullRedrawsFrameAcrossTicksSizesZoomsAndDpi) {
    const auto expectSame = [&](QSize pixels, int width, int height, int dpiY, const char* when) {
        SCOPED_TRACE(when);
        const QImage full = m_plot.ComposeImage(pixels, width, height, dpiY);
        EXPECT_EQ(DifferingPixels(m_plot.ComposeFrame(pixels, width, height, dpiY), full), 0);
    };
    const QSize shown(567, 246);  // 1500 x 651 units at 96 dpi
    m_plot.SetTraceMask(kTracePosition | kTraceSpeed | kTraceLoad);
    m_plot.SetWidth(1500);
    expectSame(shown, 1500, 651, 96, "empty");
    FillTraces(m_plot, 0);
    expectSame(shown, 1500, 651, 96, "three full traces over the kept grid");
    FillTraces(m_plot, 40);
    expectSame(shown, 1500, 651, 96, "the next tick leaves nothing of the last one's traces");
    expectSame(QSize(453, 181), 1200, 480, 96, "smaller");
    expectSame(QSize(567, 416), 1500, 1101, 96, "taller, with the widest labels");
    expectSame(QSize(1500, 1101), 1500, 1101, 96, "one pixel per unit");
    m_plot.SetZoom(4);
    FillTraces(m_plot, 3);
    expectSame(QSize(567, 416), 1500, 1101, 96, "finer zoom");
    m_plot.SetZoom(25);
    FillTraces(m_plot, 9);
    expectSame(QSize(567, 416), 1500, 1101, 96, "coarser zoom");
    expectSame(QSize(850, 624), 1500, 1101, 144, "a denser display, with larger labels");
    m_plot.SetTraceMask(0);
    expectSame(QSize(850, 624), 1500, 1101, 144, "traces switched off");
    m_plot.SetTraceMask(kTraceSpeed);
    expectSame(shown, 1500, 651, 96, "back to the first size");
    EXPECT_TRUE(m_plot.ComposeFrame(QSize(0, 246), 1500, 651, 96).isNull());
    EXPECT_TRUE(m_plot.ComposeFrame(shown, 0, 651, 96).isNull());

    // A high-density screen paints at two device pixels per painter unit: the kept grid is copied pixel for
    // pixel, not doubled, and the traces land where a full redraw at those pixels puts them.
    m_plot.SetTraceMask(kTracePosition | kTraceSpeed | kTraceLoad);
    const QImage full = m_plot.ComposeImage(shown * 2, 1500, 651, 96);
    EXPECT_EQ(DifferingPixels(m_plot.ComposeFrame(shown * 2, 1500, 651, 96, 2.0), full), 0);
    EXPECT_EQ(DifferingPixels(m_plot.ComposeFrame(shown * 2, 1500, 651, 96, 2.0), full), 0) << "kept";
}

TEST_F(PlotTest, KeptGridGivesTheFullRedrawsFrameTickAfterTickOfJumpyTraces) {
    // Shown as a window of its own, so that what each tick's repaint leaves on screen can be read back.
    m_plot.resize(567, 246);
    m_plot.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_plot));
    m_plot.SetTraceMask(kTracePosition | kTraceSpeed | kTraceLoad);
    m_plot.Refresh();
    QCoreApplication::sendPostedEvents();  // the first paint measures the plot
    const QSize pixels = m_plot.size() * m_plot.devicePixelRatio();
    const int width = m_plot.Width(), height = m_plot.Height(), dpiY = m_plot.logicalDpiY();
    ASSERT_GT(height, 0);
    const auto onScreen = [&] {
        QCoreApplication::sendPostedEvents();  // the repaint Refresh asked for
        return QGuiApplication::primaryScreen()
            ->grabWindow(m_plot.winId())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    };
    const QRect face = QRect(QPoint(0, 0), pixels).adjusted(1, 1, -1, -1);  // inside the border
    // Random walks with steep steps, flat runs and stretches beyond both edges, at steps finer and far
    // coarser than a pixel, so that ink left from one tick outside what the next repaints shows as a
    // difference; then a long flat stretch, whose ticks repaint only a few rows, and a jump away from it.
    uint32_t seed = 14;
    const auto next = [&seed](int range) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>((seed >> 8) % static_cast<uint32_t>(range));
    };
    int walk[3] = {300, 600, 100};
    const auto step = [&](int& value, int reach) {
        if (next(4) != 0) value = std::clamp(value + next(2 * reach + 1) - reach, -150, 800);
        return value;
    };
    for (int zoom : {3, 10, 50, 300, 10}) {
        m_plot.SetZoom(zoom);
        const bool flat = zoom == 10 && walk[0] == -1;
        const int reach = zoom < 10 ? 40 : zoom < 50 ? 150 : 600;
        for (int tick = 0; tick < 8; ++tick) {
            SCOPED_TRACE("zoom " + std::to_string(zoom) + " tick " + std::to_string(tick));
            for (int i = 0; i < (tick == 0 ? m_plot.Capacity() : 1 + next(3)); ++i) {
                m_plot.AddPosition(flat && tick < 7 ? 320 : step(walk[0], reach));
                m_plot.AddSpeed(flat && tick < 7 ? 500 : step(walk[1], reach));
                m_plot.AddLoad(flat && tick < 7 ? 480 : step(walk[2], reach));
            }
            if (tick == 4) m_plot.SetTraceMask(kTraceSpeed);
            if (tick == 5) m_plot.SetTraceMask(kTracePosition | kTraceSpeed | kTraceLoad);
            m_plot.Refresh();
            const QImage shown = onScreen();
            const QImage full = m_plot.ComposeImage(pixels, width, height, dpiY);
            ASSERT_EQ(DifferingPixels(shown.copy(face), full.copy(face)), 0);
            ASSERT_EQ(DifferingPixels(m_plot.ComposeFrame(pixels, width, height, dpiY), full), 0);
        }
        walk[0] = -1;  // the last round is flat
    }
}

TEST_F(PlotTest, TheControlShowsTheFullRedrawAtItsPixelsAfterResizesAndZooms) {
    m_plot.SetTraceMask(kTracePosition | kTraceSpeed | kTraceLoad);
    const auto expectShown = [&](QSize pixels, int zoom, const char* when) {
        SCOPED_TRACE(when);
        m_plot.resize(pixels);
        (void)m_plot.grab();  // measures the control in plot units
        m_plot.SetZoom(zoom);
        FillTraces(m_plot, zoom);
        const QImage shown = m_plot.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage expected =
            m_plot.ComposeImage(shown.size(), m_plot.Width(), m_plot.Height(), m_plot.logicalDpiY());
        // Inside the frame's one-pixel border.
        const QRect face = shown.rect().adjusted(1, 1, -1, -1);
        EXPECT_EQ(DifferingPixels(shown.copy(face), expected.copy(face)), 0);
    };
    expectShown(QSize(567, 246), 10, "first paint");
    expectShown(QSize(567, 246), 10, "repaint");
    expectShown(QSize(400, 300), 10, "resized");
    expectShown(QSize(400, 300), 5, "zoomed");
    expectShown(QSize(567, 246), 20, "resized back and zoomed out");
}

}  // namespace
