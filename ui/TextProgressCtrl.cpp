// The paint covers the whole control from an off-screen surface, so a bar that steps a pixel at a time
// never flickers; the colours are taken from the palette once, when the control is made.
#include "ui/TextProgressCtrl.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

#include "ui/MemDC.h"

CTextProgressCtrl::CTextProgressCtrl(QWidget* pParent) : QProgressBar(pParent) {
    const QPalette colours = palette();
    m_barColour = colours.color(QPalette::Highlight);
    m_backColour = colours.color(QPalette::Base);
    m_textOnBackColour = colours.color(QPalette::Highlight);
    m_textOnBarColour = colours.color(QPalette::Base);
}

CTextProgressCtrl::~CTextProgressCtrl() = default;

void CTextProgressCtrl::SetRange(int lower, int upper) {
    m_lower = lower;
    m_upper = upper;
}

void CTextProgressCtrl::SetStep(int step) {
    m_step = step;
}

double CTextProgressCtrl::Fraction() const {
    return static_cast<double>(m_pos - m_lower) / static_cast<double>(m_upper - m_lower);
}

int CTextProgressCtrl::SetPos(int position) {
    const int previous = m_pos;
    m_pos = position;
    if (m_upper == m_lower) return previous;
    const int pixels = static_cast<int>(Fraction() * width());
    if (pixels != m_barPixels) {
        m_barPixels = pixels;
        repaint();
    }
    return previous;
}

int CTextProgressCtrl::StepIt() {
    return SetPos(m_pos + m_step);
}

void CTextProgressCtrl::SetWindowText(const QString& text) {
    if (text == m_text) return;
    m_text = text;
    update();
}

QString CTextProgressCtrl::text() const {
    if (!m_text.isEmpty()) return m_text;
    if (m_lower >= m_upper) return {};
    return QStringLiteral("%1%").arg(static_cast<int>(Fraction() * 100));
}

void CTextProgressCtrl::resizeEvent(QResizeEvent* event) {
    QProgressBar::resizeEvent(event);
    m_barPixels = -1;
}

void CTextProgressCtrl::paintEvent(QPaintEvent* event) {
    // An empty or inverted range has no fraction to show; the page's background stays visible.
    if (m_lower >= m_upper) return;
    QPainter target(this);
    CMemDC dc(&target, event->rect());
    const QRect client = rect();
    const int left = client.left();
    const int right = left + client.width();
    const int split = left + static_cast<int>((right - left) * Fraction());
    // Drawing is cut at the control's edges: a position beyond the range fills all or nothing.
    const int edge = std::clamp(split, left, right);
    const QRect bar(left, client.top(), edge - left, client.height());
    const QRect back(edge, client.top(), right - edge, client.height());
    dc->fillRect(bar, m_barColour);
    dc->fillRect(back, m_backColour);

    const QString shown = text();
    dc->setClipRect(bar);
    dc->setPen(m_textOnBarColour);
    dc->drawText(client, Qt::AlignCenter | Qt::TextSingleLine, shown);
    dc->setClipRect(back);
    dc->setPen(m_textOnBackColour);
    dc->drawText(client, Qt::AlignCenter | Qt::TextSingleLine, shown);
}
