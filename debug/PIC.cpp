// Painting of the curve plot: a full-resolution frame composed off-screen, then an area-averaged copy onto
// the control in one operation, so repaints at every poll tick neither flicker nor lose thin lines.
#include "PIC.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <QPolygon>
#include <QtMath>
#include <algorithm>
#include <cstring>

#include "DialogUnits.h"
#include "PlotLayout.h"

namespace {

// Tenths of a millimetre per inch.
constexpr int kUnitsPerInch = 254;
constexpr int kLabelPoints = 30;
constexpr int kTraceWidth = 3;
// Long dashes, as the display's own dashed pens draw them; short ones would blur into a grey line when the
// frame is shrunk to the control.
constexpr qreal kGridDash = 18;
constexpr qreal kGridGap = 6;

// The widest right-hand label for its inset, and its width in Arial, in ems.
constexpr char kWidestLabel[] = "-800/-80";
constexpr qreal kArialWidestLabel = 7628.0 / 2048.0;

// Arial at 30 points for a display of dpiY. The right-hand labels are placed for Arial's widths, so a wider
// stand-in (where Arial is not installed) is narrowed until it is as wide, and the labels stay inside.
QFont LabelFont(int dpiY) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    const int pixels = MulDivRound(kLabelPoints, dpiY, 72);
    font.setPixelSize(pixels);
    const QString widest = QString::fromLatin1(kWidestLabel);
    const qreal room = kArialWidestLabel * pixels;
    qreal width = QFontMetricsF(font).horizontalAdvance(widest);
    // Narrowing is not quite proportional (hinting, condensed faces), so step down from the estimate.
    for (int stretch = qFloor(100 * room / width); width > room + 0.5 && stretch >= 50; --stretch) {
        font.setStretch(stretch);
        width = QFontMetricsF(font).horizontalAdvance(widest);
    }
    return font;
}

void DrawGrid(QPainter& painter, int width, int height, int dpiY) {
    const std::vector<CGridRow> rows = GridRows(width, height);
    if (rows.empty()) return;
    QPen pen(Qt::black, 1, Qt::CustomDashLine);
    pen.setDashPattern({kGridDash, kGridGap});
    painter.setPen(pen);
    const QFont font = LabelFont(dpiY);
    painter.setFont(font);
    const int ascent = QFontMetrics(font, painter.device()).ascent();
    for (const CGridRow& row : rows) {
        painter.setPen(pen);
        painter.drawLine(0, row.y, width, row.y);
        painter.setPen(Qt::black);
        painter.drawText(row.leftX, row.leftY + ascent, QString::fromStdString(row.left));
        painter.drawText(row.rightX, row.rightY + ascent, QString::fromStdString(row.right));
    }
}

QImage BlankFrame(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

// The same state for the grid and the traces, whether they are drawn in one go or the grid comes from the
// cache: the dashes' gaps are filled with the white background.
void PreparePainter(QPainter& painter) {
    painter.setBackground(Qt::white);
    painter.setBackgroundMode(Qt::OpaqueMode);
}

void DrawTrace(QPainter& painter, const std::deque<int16_t>& samples, const QColor& colour, int height,
               int zoom) {
    if (samples.empty()) return;
    // Square caps keep a lone sample visible as a dot; bevel joins stroke at less than half the cost of round
    // ones, and on a 3-unit line the difference does not survive the shrinking onto the control.
    painter.setPen(QPen(colour, kTraceWidth, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    QPolygon points;
    points.reserve(static_cast<int>(samples.size()) + 1);
    points << QPoint(0, height - samples.front());
    int x = 0;
    for (int16_t sample : samples) {
        points << QPoint(x, height - sample);
        x += zoom;
    }
    painter.drawPolyline(points);
}

// Widens the rows [top, end) to those a trace's stroke can reach, clipped to the frame's height.
void WidenBand(int& top, int& end, const std::deque<int16_t>& samples, int height) {
    if (samples.empty()) return;
    const auto [lowest, highest] = std::minmax_element(samples.begin(), samples.end());
    // Half the pen's width, and its square caps, stay within a whole pen width of a sample's row.
    top = std::clamp(std::min(top, height - *highest - kTraceWidth), 0, height);
    end = std::clamp(std::max(end, height - *lowest + kTraceWidth + 1), 0, height);
}

}  // namespace

CPIC::CPIC(QWidget* pParent) : QFrame(pParent) {
    setFrameStyle(QFrame::Box | QFrame::Plain);
    // Every paint covers the whole control, so nothing needs erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CPIC::~CPIC() = default;

void CPIC::SetZoom(int zoom) {
    if (zoom > 0) m_nZoom = zoom;
    m_listPosition.clear();
    m_listSpeed.clear();
    m_listLoad.clear();
}

void CPIC::AddPosition(int sample) {
    AppendSample(m_listPosition, Capacity(), sample);
}

void CPIC::AddSpeed(int sample) {
    AppendSample(m_listSpeed, Capacity(), sample);
}

void CPIC::AddLoad(int sample) {
    AppendSample(m_listLoad, Capacity(), sample);
}

int CPIC::PixelsToUnits(int pixels, int dpi) {
    return dpi > 0 ? MulDivRound(pixels, kUnitsPerInch, dpi) : 0;
}

QImage CPIC::ComposeImage(int width, int height, int dpiY) const {
    QImage image = BlankFrame(width, height);
    QPainter painter(&image);
    PreparePainter(painter);
    DrawGrid(painter, width, height, dpiY);
    DrawTraces(painter, height);
    return image;
}

const QImage& CPIC::ComposeFrame(int width, int height, int dpiY) {
    const bool gridRedrawn = m_grid.size() != QSize(width, height) || m_nGridDpiY != dpiY;
    if (gridRedrawn) {
        m_grid = BlankFrame(width, height);
        m_nGridDpiY = dpiY;
        QPainter painter(&m_grid);
        PreparePainter(painter);
        DrawGrid(painter, width, height, dpiY);
    }
    if (m_grid.isNull()) return m_grid;
    // Drawn into the frame kept from the last paint, so a tick neither allocates nor faults in fresh pages,
    // and only the rows the last traces touched are copied back from the grid.
    if (m_frame.size() != m_grid.size() || gridRedrawn) {
        m_frame = QImage(m_grid.size(), m_grid.format());
        m_nDirtyTop = 0;
        m_nDirtyEnd = height;
    }
    if (m_nDirtyEnd > m_nDirtyTop) {
        const qsizetype line = m_grid.bytesPerLine();
        std::memcpy(m_frame.scanLine(m_nDirtyTop), m_grid.constScanLine(m_nDirtyTop),
                    static_cast<std::size_t>(line * (m_nDirtyEnd - m_nDirtyTop)));
    }
    QPainter painter(&m_frame);
    PreparePainter(painter);
    DrawTraces(painter, height);
    m_nDirtyTop = height;
    m_nDirtyEnd = 0;
    if (m_nTraceMask & kTracePosition) WidenBand(m_nDirtyTop, m_nDirtyEnd, m_listPosition, height);
    if (m_nTraceMask & kTraceSpeed) WidenBand(m_nDirtyTop, m_nDirtyEnd, m_listSpeed, height);
    if (m_nTraceMask & kTraceLoad) WidenBand(m_nDirtyTop, m_nDirtyEnd, m_listLoad, height);
    return m_frame;
}

void CPIC::DrawTraces(QPainter& painter, int height) const {
    // Later traces are drawn over earlier ones.
    if (m_nTraceMask & kTracePosition) DrawTrace(painter, m_listPosition, QColor(0, 0, 0), height, m_nZoom);
    if (m_nTraceMask & kTraceSpeed) DrawTrace(painter, m_listSpeed, QColor(255, 0, 0), height, m_nZoom);
    if (m_nTraceMask & kTraceLoad) DrawTrace(painter, m_listLoad, QColor(0, 255, 0), height, m_nZoom);
}

void CPIC::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect client = rect();
    m_nWidth = PixelsToUnits(client.width(), logicalDpiX());
    m_nHeight = PixelsToUnits(client.height(), logicalDpiY());
    if (m_nWidth > 0 && m_nHeight > 0) {
        const QImage& frame = ComposeFrame(m_nWidth, m_nHeight, logicalDpiY());
        // Smooth shrinking of a QImage averages areas, so 1-unit grid lines survive as grey.
        const qreal ratio = devicePixelRatioF();
        QImage shown = frame.scaled(client.size() * ratio, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        shown.setDevicePixelRatio(ratio);
        painter.drawImage(client.topLeft(), shown);
    } else {
        painter.fillRect(client, Qt::white);
    }
    drawFrame(&painter);
}
