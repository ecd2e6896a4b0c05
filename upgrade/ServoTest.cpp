// Page window of 400 x 264 dialog units with the version group and the page's picture.
#include "ServoTest.h"

#include <QLabel>
#include <QLineEdit>
#include <QPixmap>

#include "DialogBuilder.h"
#include "ServoUsb.h"

ServoTest::ServoTest(QWidget* pParent, CServoUsb* pUsb)
    : CDialogPage(pParent), m_pUsb(pUsb), m_pImage(pUsb->m_pImage) {}

bool ServoTest::Create(QWidget* pParent) {
    setParent(pParent, Qt::Widget);
    const CDialogBuilder dlg(this);
    setFixedSize(dlg.Units().Size(400, 264));
    dlg.Group(tr("Version"), 0, 1, 230, 110);
    dlg.Label(tr("ID:"), 24, 22, 11, 8);
    m_editId = dlg.Edit(3, true, 98, 20, 52, 12);
    // A picture control takes its picture's own size at its top-left corner, whatever the font made the
    // rectangle.
    const QPixmap picture(QStringLiteral(":/upgrade/images/servo.png"));
    m_picture = dlg.Label(QString(), 250, 3, 147, 108);
    m_picture->setPixmap(picture);
    m_picture->resize(picture.size());
    ShowServoId(1);
    hide();
    return true;
}

void ServoTest::ShowServoId(int id) {
    m_editId->setText(QString::number(id));
}
