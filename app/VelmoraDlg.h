// The start-up dialog: a borderless splash with "Enter" (find the adapter, go to work) and "Exit".
#pragma once

#include <QPixmap>

#include "ui/InertDialog.h"

class CServoMain;
class CServoUsb;
class QPushButton;

class CVelmoraDlg : public CInertDialog {
    Q_OBJECT
public:
    // Both outlive the dialog.
    CVelmoraDlg(CServoUsb& usb, CServoMain& main);

    // Builds the window and shows it.
    bool Create();
    // 1 when the adapter was found, else 0 after telling the operator.
    int ConnectDevice();
    void OnEnter();
    void OnExit();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Object names by which tests and the demo tour find the buttons.
    void NameControls();

    CServoUsb* m_pUsb;
    CServoMain* m_pMain;
    QPushButton* m_btnEnter = nullptr;
    QPushButton* m_btnExit = nullptr;
    QPixmap m_background;
};
