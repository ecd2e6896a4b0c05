// Dialog units: control rectangles designed in units of the dialog font's average character size.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

// Tahoma 10 where installed, else the nearest similar sans-serif; every window of the tool uses it.
QFont DialogFont();

// a * b / c rounded half away from zero, as dialog rectangles are mapped to pixels.
int MulDivRound(int a, int b, int c);

// A control's rectangle in dialog units, as the windows were designed; mapped to pixels by CDialogUnits.
struct CDluRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// One horizontal dialog unit is a quarter of the font's average character width, one vertical unit an
// eighth of its height; so a layout keeps its proportions at any font size.
class CDialogUnits {
public:
    // Base units straight from the font's metrics.
    explicit CDialogUnits(const QFont& font);
    // Fixed base units in pixels (average character width and height).
    CDialogUnits(int baseX, int baseY);

    int X(int dluX) const { return MulDivRound(dluX, m_nBaseX, 4); }
    int Y(int dluY) const { return MulDivRound(dluY, m_nBaseY, 8); }
    // Edges are mapped, not widths, so adjacent rectangles stay adjacent after rounding.
    QRect Rect(const CDluRect& place) const;
    QSize Size(int width, int height) const { return {X(width), Y(height)}; }

    int BaseX() const { return m_nBaseX; }
    int BaseY() const { return m_nBaseY; }

private:
    int m_nBaseX;
    int m_nBaseY;
};
