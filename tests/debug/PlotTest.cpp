// The curve plot: its grid, labels and traces as drawn into the off-screen frame, its bounded queues, and
// its paint onto the control.
#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QImage>

#include "GuiTest.h"
#include "PIC.h"
#include "PlotLayout.h"

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
    m_plot.m_nWidth = 1500;
    m_plot.SetZoom(10);
    for (int i = 0; i < 150; ++i) {
        m_plot.AddPosition(280);
        m_plot.AddSpeed(200);
        m_plot.AddLoad(280);  // the same height as the position: drawn over it
    }
    m_plot.m_nTraceMask = kTracePosition;
    QImage frame = m_plot.ComposeImage(1500, 650, 96);
    EXPECT_EQ(frame.pixel(700, 370), qRgb(0, 0, 0));
    EXPECT_EQ(frame.pixel(700, 371), qRgb(0, 0, 0)) << "3 units wide";
    EXPECT_TRUE(IsWhite(frame.pixel(700, 374)));
    EXPECT_EQ(CountColour(frame, qRgb(255, 0, 0)), 0);
    EXPECT_EQ(frame.pixel(1490, 370), qRgb(0, 0, 0)) << "the 150th sample lands near the right edge";
    EXPECT_TRUE(IsWhite(frame.pixel(1497, 370)));

    m_plot.m_nTraceMask = kTracePosition | kTraceSpeed | kTraceLoad;
    frame = m_plot.ComposeImage(1500, 650, 96);
    EXPECT_EQ(frame.pixel(700, 370), qRgb(0, 255, 0)) << "load drawn last, over the position";
    EXPECT_EQ(frame.pixel(400, 650 - 200), qRgb(255, 0, 0));
    EXPECT_GT(CountColour(frame, qRgb(0, 0, 0)), 0) << "the grid is still there";

    m_plot.m_nTraceMask = 0;
    frame = m_plot.ComposeImage(1500, 650, 96);
    EXPECT_EQ(CountColour(frame, qRgb(0, 255, 0)) + CountColour(frame, qRgb(255, 0, 0)), 0);
    EXPECT_TRUE(IsWhite(frame.pixel(700, 370)));
}

TEST_F(PlotTest, SamplesBeyondThePlotAreCutOffAtItsEdges) {
    m_plot.m_nWidth = 1500;
    m_plot.m_nTraceMask = kTraceSpeed | kTraceLoad;
    for (int i = 0; i < 20; ++i) {
        m_plot.AddSpeed(1000);  // speed 100, far above a 650-unit plot
        m_plot.AddLoad(-100);   // below the bottom edge
    }
    const QImage frame = m_plot.ComposeImage(1500, 650, 96);
    EXPECT_EQ(CountColour(frame, qRgb(255, 0, 0)) + CountColour(frame, qRgb(0, 255, 0)), 0);
}

TEST_F(PlotTest, APaintMeasuresTheControlInTenthsOfAMillimetreAndShowsTheShrunkFrame) {
    EXPECT_EQ(CPIC::PixelsToUnits(96, 96), 254);
    EXPECT_EQ(CPIC::PixelsToUnits(567, 96), 1500);
    EXPECT_EQ(CPIC::PixelsToUnits(100, 0), 0);

    m_plot.resize(567, 246);
    for (int i = 0; i < 200; ++i) m_plot.AddPosition(300);  // before the first paint: one sample kept
    EXPECT_EQ(m_plot.m_listPosition.size(), 1u);
    const QImage shown = m_plot.grab().toImage();
    const int dpiX = m_plot.logicalDpiX(), dpiY = m_plot.logicalDpiY();
    EXPECT_EQ(m_plot.m_nWidth, CPIC::PixelsToUnits(567, dpiX));
    EXPECT_EQ(m_plot.m_nHeight, CPIC::PixelsToUnits(246, dpiY));
    if (dpiX == 96 && dpiY == 96) {
        EXPECT_EQ(m_plot.m_nHeight, 651);
    }
    EXPECT_EQ(m_plot.Capacity(), m_plot.m_nWidth / 10);

    // The 100 line (100 units up) shows as a grey row, the frame's border is drawn, the face is white.
    const int y100 = shown.height() - 1 - 100 * dpiY / 254;
    int grey = 0;
    for (int dy = -2; dy <= 2; ++dy)
        for (int x = 200; x < 400; ++x) grey += IsWhite(shown.pixel(x, y100 + dy)) ? 0 : 1;
    EXPECT_GT(grey, 100);
    EXPECT_FALSE(IsWhite(shown.pixel(0, 100)));
    EXPECT_TRUE(IsWhite(shown.pixel(300, shown.height() - 10)));
}

}  // namespace
