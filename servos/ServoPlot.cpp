// Painting the multi-servo plot: a kept background image, and the traces drawn straight onto the widget.
#include "servos/ServoPlot.h"

#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLeftMargin = 52;
constexpr int kRightMargin = 12;
constexpr int kTopMargin = 22;
constexpr int kBottomMargin = 22;
constexpr int kValueLines = 5;  // grid intervals wanted on the value axis, about
constexpr int kTimeStep = 2;    // seconds between time labels

// A palette whose neighbours are easy to tell apart.
const QColor kPalette[] = {{31, 119, 180}, {255, 127, 14},  {44, 160, 44},   {214, 39, 40},  {148, 103, 189},
                           {140, 86, 75},  {227, 119, 194}, {127, 127, 127}, {188, 189, 34}, {23, 190, 207}};

// A round step near span / kValueLines: 1, 2 or 5 times a power of ten.
double RoundStep(double span) {
    const double rough = span / kValueLines;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    const double fraction = rough / power;
    return (fraction < 1.5 ? 1 : fraction < 3 ? 2 : fraction < 7 ? 5 : 10) * power;
}

QString Number(double value) {
    return std::fabs(value - std::round(value)) < 1e-9
               ? QString::number(static_cast<long>(std::lround(value)))
               : QString::number(value, 'f', 1);
}

}  // namespace

CServoPlot::CServoPlot(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(320, 160);
}

const std::vector<CServoPlot::CRange>& CServoPlot::Ranges(EQuantity quantity) {
    static const std::vector<CRange> position{{0, 1023}};
    static const std::vector<CRange> signedUnits{{-100, 100}, {-200, 200}, {-500, 500}, {-1025, 1025}};
    static const std::vector<CRange> volts{{0, 10}, {0, 15}, {0, 30}};
    static const std::vector<CRange> degrees{{0, 50}, {0, 100}, {0, 255}};
    switch (quantity) {
        case EQuantity::Position:
            return position;
        case EQuantity::Speed:
        case EQuantity::Load:
            return signedUnits;
        case EQuantity::Voltage:
            return volts;
        case EQuantity::Temperature:
            break;
    }
    return degrees;
}

double CServoPlot::RangeLow() const {
    return Ranges(m_eQuantity)[m_nRange].low;
}

double CServoPlot::RangeHigh() const {
    return Ranges(m_eQuantity)[m_nRange].high;
}

double CServoPlot::Value(const CStatusSample& sample, EQuantity quantity) {
    switch (quantity) {
        case EQuantity::Position:
            return sample.position;
        case EQuantity::Speed:
            return sample.speed;
        case EQuantity::Load:
            return sample.load;
        case EQuantity::Voltage:
            return sample.voltage / 10.0;
        case EQuantity::Temperature:
            break;
    }
    return sample.temperature;
}

QString CServoPlot::QuantityName(EQuantity quantity) {
    switch (quantity) {
        case EQuantity::Position:
            return QStringLiteral("Position");
        case EQuantity::Speed:
            return QStringLiteral("Speed");
        case EQuantity::Load:
            return QStringLiteral("Load");
        case EQuantity::Voltage:
            return QStringLiteral("Voltage (V)");
        case EQuantity::Temperature:
            break;
    }
    return QStringLiteral("Temperature (\u00B0C)");
}

QColor CServoPlot::TraceColour(std::size_t n) {
    return kPalette[n % std::size(kPalette)];
}

void CServoPlot::SetQuantity(EQuantity quantity) {
    if (quantity == m_eQuantity) return;
    m_eQuantity = quantity;
    m_nRange = 0;
    m_bBackgroundStale = true;
    update();
}

void CServoPlot::SetTraces(std::vector<CTrace> traces) {
    m_traces = std::move(traces);
    m_bBackgroundStale = true;
    update();
}

QRect CServoPlot::PlotArea() const {
    return QRect(kLeftMargin, kTopMargin, std::max(1, width() - kLeftMargin - kRightMargin),
                 std::max(1, height() - kTopMargin - kBottomMargin));
}

bool CServoPlot::FitRange(Clock::time_point now) {
    if (!m_pRoster) return false;
    const std::vector<CRange>& ranges = Ranges(m_eQuantity);
    const Clock::time_point from = now - std::chrono::seconds(kSeconds);
    std::size_t needed = m_nRange;
    for (const CTrace& trace : m_traces) {
        const auto& history = m_pRoster->History(trace.id);
        for (auto it = history.rbegin(); it != history.rend() && it->time >= from; ++it) {
            const double value = Value(it->sample, m_eQuantity);
            while (needed + 1 < ranges.size() && (value < ranges[needed].low || value > ranges[needed].high))
                ++needed;
        }
    }
    if (needed == m_nRange) return false;
    m_nRange = needed;
    return true;
}

void CServoPlot::DrawBackground() {
    const qreal ratio = devicePixelRatioF();
    m_background = QImage(size() * ratio, QImage::Format_ARGB32_Premultiplied);
    m_background.setDevicePixelRatio(ratio);
    m_background.fill(Qt::white);
    ++m_nBackgroundDraws;
    m_bBackgroundStale = false;

    QPainter painter(&m_background);
    const QRect area = PlotArea();
    const QFontMetrics metrics(font());
    const double low = RangeLow(), high = RangeHigh();
    QPen grid(QColor(210, 210, 210), 1, Qt::DashLine);
    const double step = RoundStep(high - low);
    for (double value = std::ceil(low / step) * step; value <= high + 1e-9; value += step) {
        const int y =
            area.bottom() - static_cast<int>(std::lround(area.height() * (value - low) / (high - low)));
        painter.setPen(grid);
        painter.drawLine(area.left(), y, area.right(), y);
        painter.setPen(Qt::black);
        const QString label = Number(value);
        painter.drawText(QRect(0, y - metrics.height() / 2, kLeftMargin - 6, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, label);
    }
    for (int s = 0; s <= kSeconds; s += kTimeStep) {
        const int x = area.left() + static_cast<int>(std::lround(area.width() * double(s) / kSeconds));
        painter.setPen(grid);
        painter.drawLine(x, area.top(), x, area.bottom());
        painter.setPen(Qt::black);
        const QString label = s == kSeconds ? QStringLiteral("0 s") : QString::number(s - kSeconds);
        painter.drawText(QRect(x - 30, area.bottom() + 3, 60, metrics.height()),
                         Qt::AlignHCenter | Qt::AlignTop, label);
    }
    painter.setPen(Qt::black);
    painter.drawRect(area);
    // The quantity at the top left, the legend to its right: a short line in each servo's colour, its ID.
    int x = 4;
    const int y = (kTopMargin - metrics.height()) / 2;
    const QString name = QuantityName(m_eQuantity);
    painter.drawText(QRect(x, y, metrics.horizontalAdvance(name) + 2, metrics.height()), Qt::AlignVCenter,
                     name);
    x += metrics.horizontalAdvance(name) + 16;
    for (const CTrace& trace : m_traces) {
        const int middle = y + metrics.height() / 2;
        painter.setPen(QPen(trace.colour, 3));
        painter.drawLine(x, middle, x + 14, middle);
        painter.setPen(Qt::black);
        const QString id = QStringLiteral("ID %1").arg(trace.id);
        painter.drawText(QRect(x + 18, y, metrics.horizontalAdvance(id) + 2, metrics.height()),
                         Qt::AlignVCenter, id);
        x += 18 + metrics.horizontalAdvance(id) + 12;
    }
}

void CServoPlot::paintEvent(QPaintEvent*) {
    const Clock::time_point now = Clock::now();
    const bool rangeChanged = FitRange(now);
    if (m_bBackgroundStale || rangeChanged || m_background.size() != size() * devicePixelRatioF() ||
        m_background.devicePixelRatio() != devicePixelRatioF())
        DrawBackground();
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), m_background);
    if (!m_pRoster) return;
    const QRect area = PlotArea();
    painter.setClipRect(area.adjusted(1, 1, 0, 0));
    const double low = RangeLow(), high = RangeHigh();
    const double window = std::chrono::duration<double>(std::chrono::seconds(kSeconds)).count();
    const Clock::time_point from = now - std::chrono::seconds(kSeconds);
    QPolygonF points;
    for (const CTrace& trace : m_traces) {
        const auto& history = m_pRoster->History(trace.id);
        points.clear();
        // The reading just before the window too, so a trace reaches the left edge.
        auto first = std::lower_bound(history.begin(), history.end(), from,
                                      [](const CTimedReading& r, Clock::time_point t) { return r.time < t; });
        if (first != history.begin()) --first;
        for (auto it = first; it != history.end(); ++it) {
            const double seconds = std::chrono::duration<double>(it->time - from).count();
            const double value = Value(it->sample, m_eQuantity);
            points << QPointF(area.left() + area.width() * seconds / window,
                              area.bottom() - area.height() * (value - low) / (high - low));
        }
        painter.setPen(QPen(trace.colour, 2));
        if (points.size() == 1)
            painter.drawPoint(points.front());
        else
            painter.drawPolyline(points);
    }
}
