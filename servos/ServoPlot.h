// The Servos window's plot: one quantity of several servos over the last seconds, a trace and a legend entry
// per servo, a time axis in seconds.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "servos/ServoRoster.h"

// The grid, axes, labels and legend are drawn once into a kept image, again only when the size, the display's
// pixel ratio, the quantity, its range or the traces change; a paint copies that image as it is and draws the
// traces over it at the widget's own resolution, so no whole frame is scaled per tick.
//
// Thread rules: GUI thread only.
class CServoPlot : public QWidget {
    Q_OBJECT
public:
    struct CTrace {
        uint8_t id = 0;
        QColor colour;
    };

    explicit CServoPlot(QWidget* parent = nullptr);

    // The readings drawn; the roster must outlive the plot's use of it.
    void SetRoster(const CServoRoster* roster) { m_pRoster = roster; }
    void SetQuantity(EQuantity quantity);
    EQuantity Quantity() const { return m_eQuantity; }
    void SetTraces(std::vector<CTrace> traces);
    const std::vector<CTrace>& Traces() const { return m_traces; }
    // Seconds of readings shown, the newest at the right edge.
    static constexpr int kSeconds = 10;

    // How often the kept image was drawn: it must not follow the ticks.
    int BackgroundDraws() const { return m_nBackgroundDraws; }
    // The lower and upper end of the value axis now.
    double RangeLow() const;
    double RangeHigh() const;

    // A reading's value of a quantity, in the axis's units (volts, degrees, register units).
    static double Value(const CStatusSample& sample, EQuantity quantity);
    static QString QuantityName(EQuantity quantity);
    // The colour of the n-th servo of a list.
    static QColor TraceColour(std::size_t n);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct CRange {
        double low;
        double high;
    };
    // The axis ranges a quantity steps through, smallest first.
    static const std::vector<CRange>& Ranges(EQuantity quantity);
    QRect PlotArea() const;
    void DrawBackground();
    // Widens the value axis when a visible reading lies outside it; true when it changed.
    bool FitRange(std::chrono::steady_clock::time_point now);

    const CServoRoster* m_pRoster = nullptr;
    EQuantity m_eQuantity = EQuantity::Position;
    std::vector<CTrace> m_traces;
    std::size_t m_nRange = 0;  // into Ranges(m_eQuantity); only grows until the quantity changes
    QImage m_background;
    bool m_bBackgroundStale = true;
    int m_nBackgroundDraws = 0;
};
