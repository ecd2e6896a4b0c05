// A progress bar that keeps its own range, step and position and writes its percentage, or a caller's text,
// centred over the bar in inverted colours.
#pragma once

#include <QColor>
#include <QProgressBar>
#include <QString>

// GUI thread only: a worker reports progress through a queued call. The base class's own range and value
// are never set or used.
class CTextProgressCtrl : public QProgressBar {
    Q_OBJECT
public:
    explicit CTextProgressCtrl(QWidget* pParent = nullptr);
    ~CTextProgressCtrl() override;

    // Stores the bounds; nothing is recomputed or redrawn.
    void SetRange(int lower, int upper);
    void SetStep(int step);
    // Stores the position and returns the previous one. Repaints at once, before returning, only when the
    // filled width in pixels changes; with an empty range nothing is computed or redrawn.
    int SetPos(int position);
    // SetPos(position + step).
    int StepIt();
    // Shown instead of the percentage while not empty; a change repaints later.
    void SetWindowText(const QString& text);
    QString GetWindowText() const { return m_text; }

    // What the bar shows: the caller's text, or the percentage.
    QString text() const override;

    int GetPos() const { return m_pos; }
    int GetLower() const { return m_lower; }
    int GetUpper() const { return m_upper; }
    // Filled width at the last SetPos, in pixels; -1 until computed and after a resize.
    int GetBarPixels() const { return m_barPixels; }
    // The colours a paint uses: of the filled part, of the rest, and of the text over each.
    QColor BarColour() const { return m_barColour; }
    QColor BackColour() const { return m_backColour; }
    QColor TextOnBarColour() const { return m_textOnBarColour; }
    QColor TextOnBackColour() const { return m_textOnBackColour; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The filled fraction, not clamped: a position outside the range over- or under-fills the bar.
    double Fraction() const;

    int m_pos = 0;
    int m_step = 1;
    int m_upper = 100;
    int m_lower = 0;
    QString m_text;
    // Filled width at the last SetPos, in pixels; -1 until computed and after a resize.
    int m_barPixels = -1;
    QColor m_barColour;
    QColor m_backColour;
    QColor m_textOnBackColour;
    QColor m_textOnBarColour;
};
