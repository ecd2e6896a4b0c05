// The curve plot of the debug page: position, speed and load samples over a dashed grid, laid out in physical
// units (a tenth of a millimetre each) so it looks the same on every display, and drawn at the display's
// own resolution.
#pragma once

#include <QFrame>
#include <QImage>
#include <QRect>
#include <QSize>
#include <cstdint>
#include <deque>

#include "debug/PlotLayout.h"

class QPainter;

// Values of m_nTraceMask.
inline constexpr int kTracePosition = 1;
inline constexpr int kTraceSpeed = 2;
inline constexpr int kTraceLoad = 4;

// Every member is for the GUI thread only: the status monitor hands its samples over to the GUI thread
// before appending them, so appending and painting can never overlap.
class CPIC : public QFrame {
    Q_OBJECT
public:
    explicit CPIC(QWidget* pParent = nullptr);
    ~CPIC() override;

    // Takes the step if it is above 0 and empties the three queues in any case.
    void SetZoom(int zoom);
    // Appends the newest sample of a trace; a full trace drops its oldest.
    void AddPosition(int sample);
    void AddSpeed(int sample);
    void AddLoad(int sample);
    // Schedules the repaint of what the samples appended since the last one change: the rows the traces
    // reach now and those where traces already shown may have left ink. The rest of the plot on screen is
    // left as it is. Before the first paint, the whole plot.
    void Refresh();
    // Samples a trace holds at most: one per step across the plot's width.
    int Capacity() const { return m_nWidth / m_nZoom; }

    // A full redraw of what a paint shows of a plot of width x height units on a surface of `pixels`: white,
    // the grid and its labels (the text sized for a display of dpiY dots per inch), then the traces.
    QImage ComposeImage(QSize pixels, int width, int height, int dpiY) const;
    // The same at one pixel per plot unit.
    QImage ComposeImage(int width, int height, int dpiY) const {
        return ComposeImage(QSize(width, height), width, height, dpiY);
    }
    // The frame as a paint makes it on a surface of `pixels` device pixels, `ratio` of them per painter unit
    // as on a high-density screen: the grid and labels kept from the last paint of this size, scale and dpiY
    // (drawn anew otherwise), with the traces drawn over them. Null for an empty surface or plot; valid until
    // the next call.
    const QImage& ComposeFrame(QSize pixels, int width, int height, int dpiY, qreal ratio = 1);
    // Plot units spanned by a number of display pixels at dpi dots per inch.
    static int PixelsToUnits(int pixels, int dpi);

    // The traces a paint draws, kTrace* bits.
    void SetTraceMask(int mask) { m_nTraceMask = mask; }
    int TraceMask() const { return m_nTraceMask; }
    // The samples of each trace, oldest first.
    const std::deque<int16_t>& Positions() const { return m_listPosition; }
    const std::deque<int16_t>& Speeds() const { return m_listSpeed; }
    const std::deque<int16_t>& Loads() const { return m_listLoad; }
    // Plot units measured by the last paint. Before a paint a width may be given, for the capacity.
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }
    void SetWidth(int units) { m_nWidth = units; }
    int Zoom() const { return m_nZoom; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The kept grid for a surface of `pixels` device pixels at `ratio` device pixels per painter unit, then
    // the traces: a paint's whole work.
    void PaintFrame(QPainter& painter, QSize pixels, qreal ratio, int width, int height, int dpiY);
    // The traces of a plot `height` units high, at `scale` device pixels per plot unit, on a painter with
    // `ratio` device pixels per unit of its own.
    void DrawTraces(QPainter& painter, CPlotScale scale, qreal ratio, int height) const;
    // The rows of the control, across its width, that the traces switched on can ink at its size; empty
    // without samples or before the first paint.
    QRect TraceRows() const;

    int32_t m_nTraceMask = kTracePosition;
    std::deque<int16_t> m_listPosition;  // oldest first
    std::deque<int16_t> m_listSpeed;
    std::deque<int16_t> m_listLoad;
    int32_t m_nHeight = 0;  // plot units, from the last paint
    int32_t m_nWidth = 0;
    int32_t m_nZoom = 10;  // plot units between two samples

    // What the kept grid was drawn for; another size, scale or dpi draws it anew.
    struct CGridKey {
        QSize pixels;
        qreal ratio = 0;
        int width = 0, height = 0, dpiY = 0;
        bool operator==(const CGridKey&) const = default;
    };
    QImage m_grid;  // the grid and labels alone, at the surface's own resolution
    CGridKey m_gridKey;
    QImage m_frame;  // ComposeFrame's surface
    // Where traces drawn on screen may have left ink since the last Refresh, in the control's coordinates.
    QRect m_inked;
};
