// Off-screen drawing surface for flicker-free painting: made at the start of a paint, drawn on with the
// target's coordinates, and copied onto the target in one step when it goes out of scope.
#pragma once

#include <QPainter>
#include <QPixmap>
#include <QRect>

class CMemDC {
public:
    // clip: the area to be painted, in the target's coordinates. On a printer it draws straight onto it.
    CMemDC(QPainter* target, const QRect& clip);
    ~CMemDC();
    CMemDC(const CMemDC&) = delete;
    CMemDC& operator=(const CMemDC&) = delete;

    QPainter* operator->() { return Painter(); }
    QPainter* Painter() { return m_bOffscreen ? &m_painter : m_pTarget; }

private:
    QPainter* m_pTarget;
    bool m_bOffscreen;
    QRect m_rcClip;
    QPixmap m_image;
    QPainter m_painter;
};
