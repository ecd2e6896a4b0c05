// The off-screen image has the target's pixel ratio, so a high-density screen gets no blurred copy.
#include "ui/MemDC.h"

#include <QPaintDevice>

CMemDC::CMemDC(QPainter* target, const QRect& clip) : m_pTarget(target), m_bOffscreen(false), m_rcClip(clip) {
    QPaintDevice* device = target->device();
    if (!device || device->devType() == QInternal::Printer || clip.isEmpty()) return;
    m_bOffscreen = true;
    const qreal ratio = device->devicePixelRatioF();
    m_image = QPixmap(clip.size() * ratio);
    m_image.setDevicePixelRatio(ratio);
    m_painter.begin(&m_image);
    m_painter.translate(-clip.topLeft());
    m_painter.setFont(target->font());
}

CMemDC::~CMemDC() {
    if (!m_bOffscreen) return;
    m_painter.end();
    m_pTarget->drawPixmap(m_rcClip.topLeft(), m_image);
}
