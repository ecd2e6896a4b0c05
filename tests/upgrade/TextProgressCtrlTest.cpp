// The text progress bar: its own range and position, what it paints, and when it repaints.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QTest>
#include <QWidget>
#include <cstdlib>
#include <memory>
#include <utility>

#include "tests/ui/GuiTest.h"
#include "ui/TextProgressCtrl.h"

namespace {

// Counts the paint events a widget receives.
class CPaintCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++m_nPaints;
        return false;
    }
    int m_nPaints = 0;
};

class TextProgress : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        m_window = std::make_unique<QWidget>();
        m_window->resize(420, 60);
        m_bar = new CTextProgressCtrl(m_window.get());
        m_bar->setGeometry(10, 20, 384, 20);
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
        m_bar->installEventFilter(&m_counter);
    }

    QImage Picture(const QString& name) { return QImage(SaveGrab(m_bar, name)); }

    // Pixels of the colour in columns [from, to) of the picture.
    static int Count(const QImage& picture, const QColor& colour, int from, int to) {
        int n = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = from; x < to; ++x) n += picture.pixelColor(x, y).rgb() == colour.rgb();
        return n;
    }

    // Text strokes over a plain part in columns [from, to): the pixels that are not its colour, and how many
    // of them lean toward the text's colour (anti-aliasing leaves few pixels exactly in it).
    static std::pair<int, int> Ink(const QImage& picture, const QColor& paper, const QColor& text, int from,
                                   int to) {
        int ink = 0, toward = 0;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = from; x < to; ++x) {
                const QColor pixel = picture.pixelColor(x, y);
                if (pixel.rgb() == paper.rgb()) continue;
                ++ink;
                toward += std::abs(pixel.red() - text.red()) < std::abs(paper.red() - text.red());
            }
        }
        return {ink, toward};
    }

    CPaintCounter m_counter;
    std::unique_ptr<QWidget> m_window;
    CTextProgressCtrl* m_bar = nullptr;
};

}  // namespace

TEST_F(TextProgress, ANewBarIsEmptyAndReadsZeroPercent) {
    EXPECT_EQ(m_bar->GetLower(), 0);
    EXPECT_EQ(m_bar->GetUpper(), 100);
    EXPECT_EQ(m_bar->GetPos(), 0);
    EXPECT_EQ(m_bar->text(), QStringLiteral("0%"));
    const QImage picture = Picture(QStringLiteral("progress_new"));
    EXPECT_EQ(Count(picture, m_bar->BarColour(), 0, picture.width()), 0);
    // The text lies over the empty part only, so it is all in the highlight colour.
    const auto [ink, toward] =
        Ink(picture, m_bar->BackColour(), m_bar->TextOnBackColour(), 0, picture.width());
    EXPECT_GT(ink, 0);
    EXPECT_EQ(toward, ink);
}

TEST_F(TextProgress, HalfWayIsHalfFilledWithTheTextInvertedAcrossTheSplit) {
    m_bar->SetRange(0, 192);
    EXPECT_EQ(m_bar->SetPos(96), 0);
    EXPECT_EQ(m_bar->GetBarPixels(), 192);
    EXPECT_EQ(m_bar->text(), QStringLiteral("50%"));
    const QImage picture = Picture(QStringLiteral("progress_half"));
    const int split = picture.width() / 2;
    EXPECT_EQ(picture.pixelColor(5, 2).rgb(), m_bar->BarColour().rgb());
    EXPECT_EQ(picture.pixelColor(split - 1, 2).rgb(), m_bar->BarColour().rgb());
    EXPECT_EQ(picture.pixelColor(split, 2).rgb(), m_bar->BackColour().rgb());
    EXPECT_EQ(picture.pixelColor(picture.width() - 5, 2).rgb(), m_bar->BackColour().rgb());
    // "50%" is centred over the split: window-coloured strokes left of it, highlight-coloured right of it.
    const auto [leftInk, leftToward] =
        Ink(picture, m_bar->BarColour(), m_bar->TextOnBarColour(), split - 30, split);
    EXPECT_GT(leftInk, 0);
    EXPECT_EQ(leftToward, leftInk);
    const auto [rightInk, rightToward] =
        Ink(picture, m_bar->BackColour(), m_bar->TextOnBackColour(), split, split + 30);
    EXPECT_GT(rightInk, 0);
    EXPECT_EQ(rightToward, rightInk);
    EXPECT_EQ(Ink(picture, m_bar->BarColour(), {}, 0, split - 30).first, 0) << "no text far left";
}

TEST_F(TextProgress, PercentageTruncatesAndTheLastStepFillsTheBar) {
    m_bar->SetRange(0, 3);
    m_bar->SetPos(1);
    EXPECT_EQ(m_bar->text(), QStringLiteral("33%"));
    m_bar->SetPos(2);
    EXPECT_EQ(m_bar->text(), QStringLiteral("66%"));
    m_bar->SetRange(0, 192);
    m_bar->SetStep(1);
    m_bar->SetPos(191);
    EXPECT_EQ(m_bar->StepIt(), 191);
    EXPECT_EQ(m_bar->text(), QStringLiteral("100%"));
    const QImage picture = Picture(QStringLiteral("progress_full"));
    const int middle = picture.width() / 2;
    EXPECT_EQ(picture.pixelColor(0, 2).rgb(), m_bar->BarColour().rgb());
    EXPECT_EQ(picture.pixelColor(picture.width() - 1, 2).rgb(), m_bar->BarColour().rgb());
    const auto [ink, toward] =
        Ink(picture, m_bar->BarColour(), m_bar->TextOnBarColour(), middle - 30, middle + 30);
    EXPECT_GT(ink, 0);
    EXPECT_EQ(toward, ink) << "the text, in the window colour";
}

TEST_F(TextProgress, AnEmptyRangeDrawsNothing) {
    m_bar->SetRange(0, 0);
    const int before = m_bar->GetBarPixels();
    EXPECT_EQ(m_bar->SetPos(5), 0);
    EXPECT_EQ(m_bar->GetPos(), 5);
    EXPECT_EQ(m_bar->GetBarPixels(), before);
    m_bar->repaint();
    const QImage picture = Picture(QStringLiteral("progress_empty_range"));
    EXPECT_EQ(Count(picture, m_bar->BarColour(), 0, picture.width()), 0);
    EXPECT_EQ(Count(picture, m_bar->BackColour(), 0, picture.width()), 0);
}

TEST_F(TextProgress, WindowTextReplacesThePercentage) {
    m_bar->SetRange(0, 192);
    m_bar->SetPos(96);
    const QImage percent = Picture(QStringLiteral("progress_percent"));
    m_bar->SetWindowText(QStringLiteral("READY"));
    EXPECT_EQ(m_bar->text(), QStringLiteral("READY"));
    EXPECT_EQ(m_bar->GetWindowText(), QStringLiteral("READY"));
    const QImage ready = Picture(QStringLiteral("progress_ready"));
    EXPECT_NE(ready, percent);
    m_bar->SetWindowText(QString());
    EXPECT_EQ(m_bar->text(), QStringLiteral("50%"));
    EXPECT_EQ(Picture(QStringLiteral("progress_percent_again")), percent);
}

TEST_F(TextProgress, RepaintsOnlyWhenTheFilledWidthChanges) {
    m_bar->SetRange(0, 1000);  // 384 pixels: several positions share a pixel column
    m_counter.m_nPaints = 0;
    m_bar->SetPos(500);
    EXPECT_EQ(m_counter.m_nPaints, 1) << "painted before SetPos returned";
    m_bar->SetPos(500);
    m_bar->SetPos(501);  // 192.38 pixels: still 192
    EXPECT_EQ(m_counter.m_nPaints, 1);
    m_bar->SetPos(503);  // 193.15
    EXPECT_EQ(m_counter.m_nPaints, 2);

    m_bar->resize(300, 20);
    EXPECT_EQ(m_bar->GetBarPixels(), -1);
    QApplication::processEvents();
    m_counter.m_nPaints = 0;
    m_bar->SetPos(503);
    EXPECT_EQ(m_counter.m_nPaints, 1) << "a resize forces the next SetPos to redraw";
    EXPECT_EQ(m_bar->GetBarPixels(), 150);
}
