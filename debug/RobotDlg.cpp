// The page's controls at their dialog-unit rectangles and its opening; the handlers are in RobotCommands.cpp.
#include "debug/RobotDlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <utility>

#include "debug/StepWindow.h"
#include "link/ControlTable.h"
#include "link/Encodings.h"
#include "link/ServoUsb.h"
#include "ui/DialogBuilder.h"

CRobotDlg::CRobotDlg(QWidget* pParent, CServoUsb& usb)
    : CDialogPage(pParent), m_pUsb(usb), m_pImage(usb.Image()) {
    SetImageWord(m_pImage, Reg::GOAL_POSITION, static_cast<uint16_t>(m_pUsb.MaxPosition() / 2));
    SetImageWord(m_pImage, Reg::GOAL_SPEED, static_cast<uint16_t>(m_pUsb.MaxSpeed() / 2));
    m_pImage[Reg::TORQUE_ENABLE] = 0;
    connect(&m_poll, &CStatusPoll::readings, this, &CRobotDlg::OnReadings);
}

CRobotDlg::~CRobotDlg() {
    m_poll.Stop();
    StopStepResponse();
}

void CRobotDlg::ShowStepResponse() {
    if (!m_pStepWindow) {
        // A window of its own that goes with the page.
        m_pStepWindow = new CStepWindow(m_pUsb, this);
        m_pStepWindow->SetServoId(m_nTargetId);
    }
    m_pStepWindow->show();
    m_pStepWindow->raise();
}

CStepWindow* CRobotDlg::StepResponse() const {
    return m_pStepWindow;
}

void CRobotDlg::StopStepResponse() {
    if (m_pStepWindow) m_pStepWindow->StopAndJoin();
}

bool CRobotDlg::Create(QWidget* pParent) {
    setParent(pParent, Qt::Widget);
    setFixedSize(CDialogBuilder(this).Units().Size(400, 264));
    CreateMonitorControls();
    CreateOperationControls();
    NameControls();
    ConnectHandlers();

    InitSliders();
    m_labelPositionValue->setText(QStringLiteral("0"));
    m_labelSpeedValue->setText(QStringLiteral("0"));
    m_labelLoadValue->setText(QStringLiteral("0"));
    m_labelCurrentValue->setText(QStringLiteral("0"));
    m_labelVoltageValue->setText(QStringLiteral("0.0 V"));
    m_labelTemperatureValue->setText(QStringLiteral("0.0 Deg"));
    SetServoId(m_nTargetId);
    m_editCycle->setText(QStringLiteral("10"));
    m_radioWrite->setChecked(true);
    m_btnAction->setEnabled(false);
    m_editLastId->setText(QStringLiteral("10"));
    m_editLastId->setEnabled(false);
    m_editZoom->setText(QStringLiteral("10"));
    m_checkPosition->setChecked(true);
    hide();
    return true;
}

void CRobotDlg::CreateMonitorControls() {
    const CDialogBuilder dlg(this);
    m_plot.setParent(this);
    dlg.Place(&m_plot, {0, 0, 340, 149});
    m_checkPosition = dlg.Check(tr("Position"), {349, 9, 41, 10});
    m_checkLoad = dlg.Check(tr("Load"), {349, 29, 31, 10});
    m_checkSpeed = dlg.Check(tr("Speed"), {349, 49, 37, 10});
    // Added to the page: the step response window opens from the free space under the trace boxes.
    m_btnStep = dlg.Button(tr("Step…"), {349, 104, 46, 14});
    dlg.Label(tr("Zoom:"), {343, 136, 22, 8});
    m_editZoom = dlg.Edit(2, true, {368, 134, 31, 14});

    dlg.Group(tr("Drawing Set"), {227, 153, 173, 34});
    dlg.Label(tr("Cycle:"), {254, 169, 21, 8});
    m_editCycle = dlg.Edit(3, true, {279, 166, 31, 14});
    m_btnDraw = dlg.Button(tr("Draw"), {340, 165, 27, 14});

    dlg.Group(tr("Status Monitor"), {227, 191, 173, 73});
    dlg.Label(tr("Current:"), {244, 208, 28, 8});
    m_labelCurrentValue = dlg.Label(QStringLiteral("-2047"), {276, 208, 28, 8});
    dlg.Label(tr("Tmp:"), {333, 208, 19, 8});
    m_labelTemperatureValue = dlg.Label(QStringLiteral("25Deg"), {358, 208, 28, 8});
    dlg.Label(tr("Voltage:"), {244, 226, 28, 8});
    m_labelVoltageValue = dlg.Label(QStringLiteral("7.4V"), {276, 226, 28, 8});
    dlg.Label(tr("Load:"), {333, 226, 19, 8});
    m_labelLoadValue = dlg.Label(QStringLiteral("-1023"), {358, 226, 28, 8});
    dlg.Label(tr("Position:"), {244, 244, 29, 8});
    m_labelPositionValue = dlg.Label(QStringLiteral("1023"), {276, 244, 28, 8});
    dlg.Label(tr("Speed:"), {333, 244, 22, 8});
    m_labelSpeedValue = dlg.Label(QStringLiteral("-1023"), {358, 244, 28, 8});
}

void CRobotDlg::CreateOperationControls() {
    const CDialogBuilder dlg(this);
    dlg.Group(tr("Servo Operation"), {0, 153, 221, 111});
    dlg.Label(tr("ID:"), {28, 170, 11, 8});
    m_editId = dlg.Edit(3, true, {42, 167, 33, 14});
    dlg.Label(tr("---"), {78, 170, 10, 8});
    m_editLastId = dlg.Edit(3, false, {91, 167, 33, 14});
    m_checkTorque = dlg.Check(tr("Torque Out"), {157, 163, 53, 10});
    m_checkWheel = dlg.Check(tr("Wheel Mode"), {157, 179, 57, 10});
    m_radioWrite = dlg.Radio(tr("Write"), {9, 189, 34, 10});
    m_radioSyncWrite = dlg.Radio(tr("Sync Write"), {49, 189, 51, 10});
    m_radioRegWrite = dlg.Radio(tr("Reg Write"), {106, 189, 49, 10});
    auto* modes = new QButtonGroup(this);
    modes->addButton(m_radioWrite);
    modes->addButton(m_radioSyncWrite);
    modes->addButton(m_radioRegWrite);
    m_btnAction = dlg.Button(tr("Action"), {166, 197, 29, 14});
    m_labelGoal = dlg.Label(QStringLiteral("Goal:1000"), {23, 207, 34, 8});
    m_sliderGoal = dlg.Slider({18, 217, 188, 14});
    m_labelSpeed = dlg.Label(QStringLiteral("Speed:-1000"), {23, 233, 43, 8});
    m_sliderSpeed = dlg.Slider({18, 244, 188, 14});
}

void CRobotDlg::ConnectHandlers() {
    connect(m_radioWrite, &QRadioButton::clicked, this, &CRobotDlg::OnWriteMode);
    connect(m_radioSyncWrite, &QRadioButton::clicked, this, &CRobotDlg::OnWriteMode);
    connect(m_radioRegWrite, &QRadioButton::clicked, this, &CRobotDlg::OnWriteMode);
    connect(m_checkTorque, &QCheckBox::clicked, this, &CRobotDlg::OnTorque);
    connect(m_checkWheel, &QCheckBox::clicked, this, &CRobotDlg::OnWheelMode);
    connect(m_btnAction, &QPushButton::clicked, this, &CRobotDlg::OnAction);
    connect(m_editId, &QLineEdit::textChanged, this, &CRobotDlg::OnIdChange);
    connect(m_editLastId, &QLineEdit::textChanged, this, &CRobotDlg::OnLastIdChange);
    // Every move is a command, and the end of a drag repeats the last one, as scroll notifications do.
    connect(m_sliderGoal, &QSlider::valueChanged, this, &CRobotDlg::OnGoalScroll);
    connect(m_sliderGoal, &QSlider::sliderReleased, this, &CRobotDlg::OnGoalScroll);
    connect(m_sliderSpeed, &QSlider::valueChanged, this, &CRobotDlg::OnSpeedScroll);
    connect(m_sliderSpeed, &QSlider::sliderReleased, this, &CRobotDlg::OnSpeedScroll);
    connect(m_btnDraw, &QPushButton::clicked, this, &CRobotDlg::OnDraw);
    connect(m_btnStep, &QPushButton::clicked, this, &CRobotDlg::ShowStepResponse);
    connect(m_checkPosition, &QCheckBox::clicked, this, &CRobotDlg::OnTraceCheck);
    connect(m_checkLoad, &QCheckBox::clicked, this, &CRobotDlg::OnTraceCheck);
    connect(m_checkSpeed, &QCheckBox::clicked, this, &CRobotDlg::OnTraceCheck);
}

void CRobotDlg::SetServoId(int id) {
    m_editId->setText(QString::number(id));
    SelectTarget(id);
}

void CRobotDlg::SelectTarget(int id) {
    m_nTargetId = static_cast<uint8_t>(id);
    m_pImage[Reg::ID] = static_cast<uint8_t>(id);
    m_poll.SetServoId(m_nTargetId);
}

void CRobotDlg::InitSliders() {
    // Setting a slider from the program is not an operator's move: nothing may be sent.
    const QSignalBlocker goalBlocker(m_sliderGoal);
    const QSignalBlocker speedBlocker(m_sliderSpeed);
    const int goal = m_pUsb.MaxPosition() / 2;
    const int speed = m_pUsb.MaxSpeed() / 2;
    m_sliderGoal->setRange(0, m_pUsb.MaxPosition());
    m_sliderGoal->setValue(goal);
    m_labelGoal->setText(QStringLiteral("Goal:%1").arg(goal));
    m_sliderSpeed->setRange(0, m_pUsb.MaxSpeed());
    m_sliderSpeed->setValue(speed);
    m_labelSpeed->setText(QStringLiteral("Speed:%1").arg(speed));
}

void CRobotDlg::NameControls() {
    const std::pair<QObject*, const char*> names[] = {{m_checkPosition, "tracePosition"},
                                                      {m_checkLoad, "traceLoad"},
                                                      {m_checkSpeed, "traceSpeed"},
                                                      {m_editZoom, "zoom"},
                                                      {m_editCycle, "cycle"},
                                                      {m_btnDraw, "draw"},
                                                      {m_btnStep, "step"},
                                                      {m_labelCurrentValue, "currentValue"},
                                                      {m_labelTemperatureValue, "temperatureValue"},
                                                      {m_labelVoltageValue, "voltageValue"},
                                                      {m_labelLoadValue, "loadValue"},
                                                      {m_labelPositionValue, "positionValue"},
                                                      {m_labelSpeedValue, "speedValue"},
                                                      {m_editId, "id"},
                                                      {m_editLastId, "lastId"},
                                                      {m_checkTorque, "torque"},
                                                      {m_checkWheel, "wheel"},
                                                      {m_radioWrite, "write"},
                                                      {m_radioSyncWrite, "syncWrite"},
                                                      {m_radioRegWrite, "regWrite"},
                                                      {m_btnAction, "action"},
                                                      {m_labelGoal, "goalText"},
                                                      {m_sliderGoal, "goal"},
                                                      {m_labelSpeed, "speedText"},
                                                      {m_sliderSpeed, "speed"}};
    for (const auto& [control, name] : names) control->setObjectName(QLatin1String(name));
}
