// The curve plot of the debug page: position, speed and load samples over a dashed grid, drawn in physical
// units (a tenth of a millimetre each) so it looks the same on every display.
#pragma once

#include <QFrame>
#include <QImage>
#include <cstdint>
#include <deque>

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
    // Samples a trace holds at most: one per step across the plot's width.
    int Capacity() const { return m_nWidth / m_nZoom; }

    // The frame a paint shows, before it is scaled onto the control: width x height pixels, one per plot
    // unit, with the grid's text sized for a display of dpiY dots per inch.
    QImage ComposeImage(int width, int height, int dpiY) const;
    // The same frame, with the grid and its labels drawn once per size and dpiY and kept, so a paint only
    // copies them and draws the traces. The frame stays valid until the next call.
    const QImage& ComposeFrame(int width, int height, int dpiY);
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
    void DrawTraces(QPainter& painter, int height) const;

    int32_t m_nTraceMask = kTracePosition;
    std::deque<int16_t> m_listPosition;  // oldest first
    std::deque<int16_t> m_listSpeed;
    std::deque<int16_t> m_listLoad;
    int32_t m_nHeight = 0;  // plot units, from the last paint
    int32_t m_nWidth = 0;
    int32_t m_nZoom = 10;  // plot units between two samples

    QImage m_grid;  // the grid and labels alone, for m_nGridDpiY
    int m_nGridDpiY = 0;
    QImage m_frame;  // the last paint's frame, reused for the next one
    // Rows [m_nDirtyTop, m_nDirtyEnd) of m_frame hold traces; the others still equal m_grid.
    int m_nDirtyTop = 0;
    int m_nDirtyEnd = 0;
};
