// Dialog units to pixels: the rounding of the mapping and the rectangles of the designed windows.
#include <gtest/gtest.h>

#include "tests/ui/GuiTest.h"
#include "ui/DialogUnits.h"

TEST(MulDivRoundTest, RoundsHalfAwayFromZero) {
    EXPECT_EQ(MulDivRound(523, 7, 4), 915);  // 915.25
    EXPECT_EQ(MulDivRound(1, 7, 4), 2);      // 1.75
    EXPECT_EQ(MulDivRound(2, 1, 4), 1);      // 0.5 up
    EXPECT_EQ(MulDivRound(-2, 1, 4), -1);    // -0.5 away from zero
    EXPECT_EQ(MulDivRound(-3, 7, 4), -5);    // -5.25
    EXPECT_EQ(MulDivRound(3, 5, -2), -8);    // -7.5
    EXPECT_EQ(MulDivRound(0, 7, 4), 0);
}

// Base units 7 x 16 are those of Tahoma 10 on a 96-dpi screen, the font the windows were designed in.
TEST(DialogUnitsTest, DesignFontGivesTheDesignedPixelSizes) {
    const CDialogUnits units(7, 16);
    // The upgrade page's picture control holds its 257 x 216 picture exactly.
    EXPECT_EQ(units.Size(147, 108), QSize(257, 216));
    // The start-up dialog holds its 600 x 405 picture almost unscaled.
    EXPECT_EQ(units.Size(343, 200), QSize(600, 400));
    EXPECT_EQ(units.Size(523, 292), QSize(915, 584));
}

TEST(DialogUnitsTest, EdgesAreMappedSoNeighboursStayAdjacent) {
    const CDialogUnits units(7, 16);
    // Two 1-unit-wide neighbours: widths follow the rounded edges, not the rounded width.
    const QRect first = units.Rect({1, 0, 1, 8});
    const QRect second = units.Rect({2, 0, 1, 8});
    EXPECT_EQ(first.left() + first.width(), second.left());
    EXPECT_EQ(units.Rect({114, 7, 402, 280}), QRect(200, 14, 703, 560));
}

TEST(DialogUnitsTest, LayoutGrowsWithTheFont) {
    EnsureApplication();
    QFont small = DialogFont();
    QFont large = DialogFont();
    large.setPointSize(20);
    const CDialogUnits smallUnits(small);
    const CDialogUnits largeUnits(large);
    EXPECT_GT(smallUnits.BaseX(), 0);
    EXPECT_GT(smallUnits.BaseY(), 0);
    EXPECT_GT(largeUnits.X(400), smallUnits.X(400) * 3 / 2);
    EXPECT_GT(largeUnits.Y(264), smallUnits.Y(264) * 3 / 2);
}
