// Page window of 400 x 264 dialog units; the parameter editor fills the rest of it.
#include "ServoPG.h"

#include <QLineEdit>

#include "DialogBuilder.h"
#include "ServoUsb.h"

ServoPG::ServoPG(QWidget* pParent, CServoUsb* pUsb)
    : CDialogPage(pParent), m_pUsb(pUsb), m_pImage(pUsb->m_pImage) {}

bool ServoPG::Create(QWidget* pParent) {
    setParent(pParent, Qt::Widget);
    const CDialogBuilder dlg(this);
    setFixedSize(dlg.Units().Size(400, 264));
    dlg.Group(tr("Primary Set"), 72, 0, 86, 84);
    dlg.Label(tr("ID"), 80, 16, 20, 8);
    m_editId = dlg.Edit(3, true, 104, 14, 40, 12);
    hide();
    return true;
}
