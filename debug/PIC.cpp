// Painting of the curve plot at the control's own resolution: the grid and labels kept as an image between
// paints, the traces drawn over them at every poll tick, all in one paint so nothing flickers.
#include "debug/PIC.h"

#include <QFont>
#include <QFontMetrics>
#include <QLineF>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <QPolygonF>
#include <QtMath>
#include <algorithm>
#include <climits>
#include <vector>

#include "debug/PlotLayout.h"
#include "ui/DialogUnits.h"

namespace {

// Tenths of a millimetre per inch.
constexpr int kUnitsPerInch = 254;
constexpr int kLabelPoints = 30;
constexpr int kTraceWidth = 3;

// The widest right-hand label for its inset, and its width in Arial, in ems.
constexpr char kWidestLabel[] = "-800/-80";
constexpr qreal kArialWidestLabel = 7628.0 / 2048.0;

// Arial at 30 points for a display of dpiY, measured in plot units and shown at `scale` pixels per unit. The
// right-hand labels are placed for Arial's widths, so a wider stand-in (where Arial is not installed) is
// narrowed until it is as wide, and the labels stay inside.
QFont LabelFont(int dpiY, double scale) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    const int pixels = std::max(1, qRound(MulDivRound(kLabelPoints, dpiY, 72) * scale));
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

// The grid of a plot of width x height units on a surface of `pixels`, in that surface's pixels: hairlines as
// dark as the one-unit line they stand for, and text hinted at its own size rather than shrunk.
void DrawGrid(QPainter& painter, QSize pixels, int width, int height, int dpiY) {
    const std::vector<CGridRow> rows = GridRows(width, height);
    if (rows.empty()) return;
    const CPlotScale scale = FitPlot(pixels.width(), pixels.height(), width, height);
    const std::vector<std::pair<int, int>> dashes = GridDashes(width, scale.x);
    const QFont font = LabelFont(dpiY, scale.y);
    painter.setFont(font);
    painter.setPen(Qt::black);
    const int ascent = QFontMetrics(font, painter.device()).ascent();
    const auto at = [&](int x, int y) { return QPoint(qRound(x * scale.x), qRound(y * scale.y) + ascent); };
    for (const CGridRow& row : rows) {
        const CHairline line = GridHairline(row.y, scale.y);
        const QColor grey(line.grey, line.grey, line.grey);
        for (const auto& [left, right] : dashes)
            painter.fillRect(left, line.top, right - left, line.rows, grey);
        painter.drawText(at(row.leftX, row.leftY), QString::fromStdString(row.left));
        painter.drawText(at(row.rightX, row.rightY), QString::fromStdString(row.right));
    }
}

// White, then the grid: what every frame of this size, scale and dpi starts from.
QImage GridImage(QSize pixels, int width, int height, int dpiY) {
    QImage image(pixels, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    // Labels are opaque on the white background.
    painter.setBackground(Qt::white);
    painter.setBackgroundMode(Qt::OpaqueMode);
    DrawGrid(painter, pixels, width, height, dpiY);
    return image;
}

// Below this many device pixels a trace's pen is drawn one pixel wide: the painter then runs a thin line
// along the trace with smoothed edges, about a third of the cost of outlining and filling a wider one, and a
// trace three units wide at 96 dots per inch (1.13 pixels) looks the same.
constexpr qreal kThinTracePixels = 1.5;

// One trace from (0, height - oldest sample), one sample every zoom units, at `scale` device pixels per plot
// unit on a painter with `ratio` device pixels per unit of its own. Points lie in the middle of their unit,
// as a pixel's centre does at one pixel per unit.
void DrawTrace(QPainter& painter, const std::deque<int16_t>& samples, const QColor& colour, CPlotScale scale,
               qreal ratio, int height, int zoom) {
    if (samples.empty()) return;
    std::vector<int> corners;
    TraceCorners(samples, corners);
    const auto at = [&](int i) {
        return QPointF((static_cast<double>(i) * zoom + 0.5) * scale.x / ratio,
                       (height - samples[static_cast<std::size_t>(i)] + 0.5) * scale.y / ratio);
    };
    const qreal pen = kTraceWidth * scale.y;
    if (pen < kThinTracePixels && corners.size() > 1) {
        QPolygonF points;
        points.reserve(static_cast<int>(corners.size()));
        for (int i : corners) points << at(i);
        painter.setPen(QPen(colour, 0));  // one device pixel
        painter.drawPolyline(points);
        return;
    }
    // Square caps keep a lone sample visible as a dot (a one-pixel pen would draw nothing for it) and close
    // the joints between segments. Segments are rasterised one by one, several times faster than one outline
    // of the whole polyline.
    painter.setPen(QPen(colour, pen / ratio, Qt::SolidLine, Qt::SquareCap));
    std::vector<QLineF> lines;
    lines.reserve(corners.size());
    if (corners.size() == 1) lines.emplace_back(at(0), at(0));
    for (std::size_t k = 1; k < corners.size(); ++k) lines.emplace_back(at(corners[k - 1]), at(corners[k]));
    painter.drawLines(lines.data(), static_cast<int>(lines.size()));
}

}  // namespace

CPIC::CPIC(QWidget* pParent) : QFrame(pParent) {
    setFrameStyle(QFrame::Box | QFrame::Plain);
    // Every paint covers all it is asked to repaint, so nothing needs erasing first.
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

QImage CPIC::ComposeImage(QSize pixels, int width, int height, int dpiY) const {
    if (pixels.isEmpty()) return {};
    QImage image = GridImage(pixels, width, height, dpiY);
    QPainter painter(&image);
    DrawTraces(painter, FitPlot(pixels.width(), pixels.height(), width, height), 1, height);
    return image;
}

const QImage& CPIC::ComposeFrame(QSize pixels, int width, int height, int dpiY, qreal ratio) {
    if (pixels.isEmpty() || width <= 0 || height <= 0) {
        m_frame = QImage();
        return m_frame;
    }
    if (m_frame.size() != pixels) m_frame = QImage(pixels, QImage::Format_RGB32);
    m_frame.setDevicePixelRatio(ratio);
    QPainter painter(&m_frame);
    PaintFrame(painter, pixels, ratio, width, height, dpiY);
    return m_frame;
}

void CPIC::PaintFrame(QPainter& painter, QSize pixels, qreal ratio, int width, int height, int dpiY) {
    const CGridKey key{pixels, ratio, width, height, dpiY};
    if (!(key == m_gridKey)) {
        m_grid = GridImage(pixels, width, height, dpiY);
        m_grid.setDevicePixelRatio(ratio);
        m_gridKey = key;
    }
    // The kept image has the surface's own pixels, so this is a plain copy.
    painter.drawImage(QPointF(0, 0), m_grid);
    DrawTraces(painter, FitPlot(pixels.width(), pixels.height(), width, height), ratio, height);
}

void CPIC::DrawTraces(QPainter& painter, CPlotScale scale, qreal ratio, int height) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // Later traces are drawn over earlier ones.
    if (m_nTraceMask & kTracePosition)
        DrawTrace(painter, m_listPosition, QColor(0, 0, 0), scale, ratio, height, m_nZoom);
    if (m_nTraceMask & kTraceSpeed)
        DrawTrace(painter, m_listSpeed, QColor(255, 0, 0), scale, ratio, height, m_nZoom);
    if (m_nTraceMask & kTraceLoad)
        DrawTrace(painter, m_listLoad, QColor(0, 255, 0), scale, ratio, height, m_nZoom);
    painter.restore();
}

void CPIC::Refresh() {
    if (m_nHeight <= 0) {
        update();
        return;
    }
    const QRect rows = TraceRows();
    // The frame's border is never touched by a trace's repaint.
    update((m_inked | rows) & contentsRect());
    m_inked = rows;
}

QRect CPIC::TraceRows() const {
    if (m_nWidth <= 0 || m_nHeight <= 0) return {};
    int lowest = INT_MAX, highest = INT_MIN;
    const auto span = [&](int trace, const std::deque<int16_t>& samples) {
        if (!(m_nTraceMask & trace)) return;
        for (int16_t sample : samples) {
            lowest = std::min<int>(lowest, sample);
            highest = std::max<int>(highest, sample);
        }
    };
    span(kTracePosition, m_listPosition);
    span(kTraceSpeed, m_listSpeed);
    span(kTraceLoad, m_listLoad);
    if (lowest > highest) return {};
    const double scale = static_cast<double>(height()) / m_nHeight;
    // The pen's reach from its line, square caps included, and a pixel of smoothing, with room to spare.
    const double reach = kTraceWidth * scale + 2;
    const int top = qFloor((m_nHeight - highest + 0.5) * scale - reach);
    const int bottom = qCeil((m_nHeight - lowest + 0.5) * scale + reach);
    return QRect(0, top, width(), bottom - top).intersected(rect());
}

void CPIC::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect client = rect();
    m_nWidth = PixelsToUnits(client.width(), logicalDpiX());
    m_nHeight = PixelsToUnits(client.height(), logicalDpiY());
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(client.size()) * ratio).toSize();
    if (m_nWidth > 0 && m_nHeight > 0 && !pixels.isEmpty()) {
        PaintFrame(painter, pixels, ratio, m_nWidth, m_nHeight, logicalDpiY());
        m_inked |= TraceRows();
    } else {
        painter.fillRect(client, Qt::white);
    }
    if (!contentsRect().contains(event->rect())) drawFrame(&painter);
}
