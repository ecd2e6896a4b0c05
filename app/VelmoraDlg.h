// The start-up dialog: a borderless splash with "Enter" (find the adapter, go to work) and "Exit".
#pragma once

#include <QPixmap>

#include "InertDialog.h"

class CServoMain;
class CServoUsb;
class QPushButton;

class CVelmoraDlg : public CInertDialog {
    Q_OBJECT
public:
    CVelmoraDlg();

    // Builds the window and shows it.
    bool Create();
    // 1 when the adapter was found, else 0 after telling the operator.
    int ConnectDevice();
    void OnEnter();
    void OnExit();

    CServoUsb* m_pUsb = nullptr;
    CServoMain* m_pMain = nullptr;
    QPushButton* m_btnEnter = nullptr;
    QPushButton* m_btnExit = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_background;
};
