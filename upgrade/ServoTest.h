// The upgrade page: version read and firmware transfer; for now the page window with its ID field.
#pragma once

#include "InertDialog.h"

class CServoUsb;
class QLabel;
class QLineEdit;

class ServoTest : public CDialogPage {
    Q_OBJECT
public:
    ServoTest(QWidget* pParent, CServoUsb* pUsb);

    bool Create(QWidget* pParent);
    // Shows the ID in the ID field; the control-table image is left alone.
    void ShowServoId(int id);

    CServoUsb* m_pUsb;
    uint8_t* m_pImage;
    QLineEdit* m_editId = nullptr;
    QLabel* m_picture = nullptr;
};
