// The programming page: a servo's stored parameters; for now the page window with its ID field.
#pragma once

#include "InertDialog.h"

class CServoUsb;
class QLineEdit;

class ServoPG : public CDialogPage {
    Q_OBJECT
public:
    ServoPG(QWidget* pParent, CServoUsb* pUsb);

    // Builds the page's window as a child of pParent and runs its opening.
    bool Create(QWidget* pParent);

    CServoUsb* m_pUsb;
    uint8_t* m_pImage;
    // The ID field; a pick in the main window's node list writes the picked ID's text into it.
    QLineEdit* m_editId = nullptr;
};
