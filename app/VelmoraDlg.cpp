// The splash's picture is stretched over the whole window on every paint, whatever the font made its size.
#include "app/VelmoraDlg.h"

#include <QIcon>
#include <QPainter>
#include <QPushButton>
#include <utility>

#include "app/ServoMain.h"
#include "debug/RobotDlg.h"
#include "link/ControlTable.h"
#include "link/ServoUsb.h"
#include "ui/DialogBuilder.h"
#include "ui/OperatorHooks.h"

CVelmoraDlg::CVelmoraDlg(CServoUsb& usb, CServoMain& main)
    : CInertDialog(nullptr, Qt::Window | Qt::FramelessWindowHint),
      m_pUsb(&usb),
      m_pMain(&main),
      m_background(QStringLiteral(":/app/images/splash.png")) {
    setWindowIcon(QIcon(QStringLiteral(":/app/images/icon.png")));
}

bool CVelmoraDlg::Create() {
    const CDialogBuilder dlg(this);
    move(0, 0);
    setFixedSize(dlg.Units().Size(343, 200));
    m_btnEnter = dlg.Button(tr("Enter"), {242, 169, 42, 16});
    m_btnExit = dlg.Button(tr("Exit"), {286, 169, 42, 16});
    NameControls();
    connect(m_btnEnter, &QPushButton::clicked, this, &CVelmoraDlg::OnEnter);
    connect(m_btnExit, &QPushButton::clicked, this, &CVelmoraDlg::OnExit);
    show();
    return true;
}

int CVelmoraDlg::ConnectDevice() {
    if (m_pUsb->Connect()) return 1;
    ShowMessage(this, tr("Unable to connect Device!"));
    return 0;
}

void CVelmoraDlg::OnEnter() {
    if (!ConnectDevice()) return;
    m_pUsb->Image()[Reg::HIGH_BYTE_FIRST] = 1;
    m_pUsb->SetMaxPosition(1023);
    m_pMain->RobotPage()->InitSliders();
    m_pMain->SelectPage(0);
    m_pMain->setAttribute(Qt::WA_ShowWithoutActivating);
    m_pMain->show();
    m_pMain->SetPortName(QString::fromStdString(m_pUsb->Transport()->PortName()));
    hide();
}

void CVelmoraDlg::OnExit() {
    m_pMain->ShutDown();
    RequestQuit(0);
}

void CVelmoraDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(rect(), m_background);
}

void CVelmoraDlg::NameControls() {
    const std::pair<QObject*, const char*> names[] = {{m_btnEnter, "enter"}, {m_btnExit, "exit"}};
    for (const auto& [control, name] : names) control->setObjectName(QLatin1String(name));
}
