// The base units follow the classic rule: average width of the 52 Latin letters, rounded, and the line
// height.
#include "ui/DialogUnits.h"

#include <QFontMetrics>
#include <QStringList>
#include <cstdlib>

QFont DialogFont() {
    QFont font;
    font.setFamilies({"Tahoma", "Verdana", "DejaVu Sans", "Liberation Sans", "Arial"});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(10);
    return font;
}

int MulDivRound(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long divisor = std::llabs(static_cast<long long>(c));
    const long long magnitude = (std::llabs(product) + divisor / 2) / divisor;
    return static_cast<int>((product < 0) != (c < 0) ? -magnitude : magnitude);
}

namespace {

int AverageLetterWidth(const QFontMetrics& metrics) {
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
}

}  // namespace

CDialogUnits::CDialogUnits(const QFont& font)
    : m_nBaseX(AverageLetterWidth(QFontMetrics(font))), m_nBaseY(QFontMetrics(font).height()) {}

CDialogUnits::CDialogUnits(int baseX, int baseY) : m_nBaseX(baseX), m_nBaseY(baseY) {}

QRect CDialogUnits::Rect(const CDluRect& place) const {
    const int left = X(place.x);
    const int top = Y(place.y);
    return {left, top, X(place.x + place.width) - left, Y(place.y + place.height) - top};
}
