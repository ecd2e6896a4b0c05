// The page's controls at their dialog-unit rectangles, the defaults, and the image shown in and gathered
// from the controls; the buttons' work is in ServoPGCommands.cpp.
#include "program/ServoPG.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <array>
#include <utility>

#include "link/ControlTable.h"
#include "link/Encodings.h"
#include "link/ServoUsb.h"
#include "program/TypingLimit.h"
#include "ui/DialogBuilder.h"

namespace {

constexpr uint8_t kDefaultId = 1;
constexpr int kMaxProgramId = 253;
constexpr int kMaxByte = 255;
constexpr int kMaxWord = 1023;
constexpr int kMaxCurrent = 2047;
constexpr int kMinVoltage = 50;
constexpr int kMaxVoltage = 250;

// Unnamed bytes the defaults clear: one after TORQUE_ENABLE and two in the status span.
constexpr uint8_t kSpareControlByte = 32;
constexpr std::array<uint8_t, 2> kSpareStatusBytes{49, 51};

// Opened height of a drop-down list in dialog units: room for every item.
constexpr int kListHeight = 100;

// The return levels, at the index that is the RETURN_LEVEL value.
const std::array<const char*, 3> kReturnLevels{"No retrun", "Read return", "All return"};

}  // namespace

ServoPG::ServoPG(QWidget* pParent, CServoUsb* pUsb)
    : CDialogPage(pParent), m_pUsb(pUsb), m_pImage(pUsb->Image()), m_sequence(*pUsb) {
    SetDefaults();
}

ServoPG::~ServoPG() {
    // Before any member the worker reports to goes.
    m_sequence.Stop();
    StopCalibration();
}

bool ServoPG::Create(QWidget* pParent) {
    setParent(pParent, Qt::Widget);
    CreateControls();
    NameControls();

    for (uint32_t baud : BAUD_RATES) m_comboBaud->addItem(QString::number(baud));
    for (const char* level : kReturnLevels) m_comboReturn->addItem(QString::fromLatin1(level));
    m_editLog->setPlainText(QStringLiteral("Instructions:"));
    FillControls();

    connect(m_btnRead, &QPushButton::clicked, this, &ServoPG::OnRead);
    connect(m_btnWrite, &QPushButton::clicked, this, &ServoPG::OnWrite);
    connect(m_btnReset, &QPushButton::clicked, this, &ServoPG::OnReset);
    connect(m_btnSave, &QPushButton::clicked, this, &ServoPG::OnSave);
    connect(m_btnOpen, &QPushButton::clicked, this, &ServoPG::OnOpen);
    connect(m_btnCalibrate, &QPushButton::clicked, this, &ServoPG::ClickCalibrate);
    connect(m_editId, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!m_bBusy || m_bFilling) return;
        m_bIdTextPicked = true;
        m_szPickedIdText = text;
    });
    hide();
    return true;
}

QLineEdit* ServoPG::NumberEdit(int maxTyped, int x, int y, int width, int height) {
    QLineEdit* edit = CDialogBuilder(this).Edit(maxTyped, false, x, y, width, height);
    InstallTypingLimit(edit, maxTyped);
    return edit;
}

void ServoPG::CreateControls() {
    const CDialogBuilder dlg(this);
    setFixedSize(dlg.Units().Size(400, 264));
    m_editLog = dlg.LogPane(312, 0, 88, 264);

    dlg.Group(tr("R/W"), 0, 0, 60, 84);
    m_btnRead = dlg.Button(tr("READ"), 10, 14, 40, 14);
    m_btnWrite = dlg.Button(tr("WRITE"), 10, 34, 40, 14);
    m_checkUnlock = dlg.Check(tr("UnLock"), 10, 58, 44, 10);
    // Added to the page, below UnLock: the limits it finds are written with WRITE.
    m_btnCalibrate = dlg.Button(tr("Calibrate…"), 5, 69, 50, 13);
    dlg.Group(tr("File"), 0, 88, 60, 90);
    m_btnSave = dlg.Button(tr("SAVE"), 10, 104, 40, 14);
    m_btnOpen = dlg.Button(tr("OPEN"), 10, 126, 40, 14);
    m_btnReset = dlg.Button(tr("RESET"), 10, 152, 40, 14);

    dlg.Group(tr("Primary Set"), 64, 0, 92, 110);
    dlg.Label(tr("ID"), 72, 18, 22, 8);
    m_editId = NumberEdit(3, 98, 16, 30, 12);
    dlg.Label(tr("Band"), 72, 40, 22, 8);
    m_comboBaud = dlg.DropList(98, 38, 52, kListHeight);
    dlg.Label(tr("Delay"), 72, 62, 22, 8);
    m_editDelay = NumberEdit(3, 98, 60, 30, 12);
    dlg.Label(tr("x2us"), 131, 62, 20, 8);
    dlg.Label(tr("Return"), 72, 84, 24, 8);
    m_comboReturn = dlg.DropList(98, 82, 52, kListHeight);

    dlg.Group(tr("Servo Set"), 160, 0, 56, 110);
    dlg.Label(tr("P"), 170, 18, 10, 8);
    m_editP = NumberEdit(3, 182, 16, 26, 12);
    dlg.Label(tr("D"), 170, 40, 10, 8);
    m_editD = NumberEdit(3, 182, 38, 26, 12);
    dlg.Label(tr("I"), 170, 62, 10, 8);
    m_editI = NumberEdit(3, 182, 60, 26, 12);
    dlg.Label(tr("V"), 170, 84, 10, 8);
    m_editV = NumberEdit(3, 182, 82, 26, 12);

    dlg.Group(tr("Temperature Limitation"), 220, 0, 88, 34);
    dlg.Label(tr("Max"), 228, 18, 26, 8);
    m_editMaxTemperature = NumberEdit(3, 258, 16, 34, 12);
    dlg.Group(tr("Torqut Limitation"), 220, 38, 88, 72);
    dlg.Label(tr("Current"), 228, 54, 28, 8);
    m_editCurrent = NumberEdit(4, 258, 52, 34, 12);
    dlg.Label(tr("Torque"), 228, 72, 28, 8);
    m_editTorque = NumberEdit(4, 258, 70, 34, 12);
    dlg.Label(tr("Punch"), 228, 90, 28, 8);
    m_editPunch = NumberEdit(3, 258, 88, 34, 12);

    dlg.Group(tr("Voltage Limitation"), 64, 114, 76, 64);
    dlg.Label(tr("Min"), 72, 132, 18, 8);
    m_editMinVoltage = NumberEdit(3, 94, 130, 34, 12);
    dlg.Label(tr("Max"), 72, 154, 18, 8);
    m_editMaxVoltage = NumberEdit(3, 94, 152, 34, 12);
    dlg.Group(tr("Position Limitation"), 144, 114, 80, 64);
    dlg.Label(tr("Min"), 152, 132, 18, 8);
    m_editMinPosition = NumberEdit(4, 176, 130, 34, 12);
    dlg.Label(tr("Max"), 152, 154, 18, 8);
    m_editMaxPosition = NumberEdit(4, 176, 152, 34, 12);
    dlg.Group(tr("Dead Band"), 228, 114, 80, 64);
    dlg.Label(tr("CW"), 236, 132, 20, 8);
    m_editCwDeadBand = NumberEdit(2, 260, 130, 34, 12);
    dlg.Label(tr("CCW"), 236, 154, 20, 8);
    m_editCcwDeadBand = NumberEdit(2, 260, 152, 34, 12);

    dlg.Group(tr("LED Error Flag"), 0, 182, 308, 38);
    m_checkLedOverVoltage = dlg.Check(tr("Over Valtage"), 16, 198, 70, 10);
    m_checkLedOverLoad = dlg.Check(tr("Over Load"), 120, 198, 70, 10);
    m_checkLedOverHeat = dlg.Check(tr("Over Heat"), 224, 198, 70, 10);
    dlg.Group(tr("Unload Flag"), 0, 224, 308, 38);
    m_checkUnloadOverVoltage = dlg.Check(tr("Over Valtage"), 16, 240, 70, 10);
    m_checkUnloadOverLoad = dlg.Check(tr("Over Load"), 120, 240, 70, 10);
    m_checkUnloadOverHeat = dlg.Check(tr("Over Heat"), 224, 240, 70, 10);
}

void ServoPG::SetDefaults() {
    uint8_t* image = m_pImage;
    image[Reg::ID] = kDefaultId;
    image[Reg::BAUD_RATE] = 0;
    image[Reg::RETURN_DELAY] = 0;
    image[Reg::RETURN_LEVEL] = 2;
    SetImageWord(image, Reg::MIN_POSITION_LIMIT, 0);
    SetImageWord(image, Reg::MAX_POSITION_LIMIT, static_cast<uint16_t>(m_pUsb->MaxPosition()));
    image[Reg::MAX_TEMPERATURE] = 80;
    image[Reg::MAX_VOLTAGE] = kMaxVoltage;
    image[Reg::MIN_VOLTAGE] = kMinVoltage;
    SetImageWord(image, Reg::MAX_TORQUE, kMaxWord);
    image[Reg::LED_ERROR_FLAGS] = 0;
    image[Reg::UNLOAD_FLAGS] = 0;
    image[Reg::V_COEFF] = 20;
    image[Reg::P_COEFF] = 15;
    image[Reg::D_COEFF] = 100;
    image[Reg::I_COEFF] = 0;
    SetImageWord(image, Reg::PUNCH, 100);
    image[Reg::CW_DEAD_BAND] = 1;
    image[Reg::CCW_DEAD_BAND] = 1;
    SetImageWord(image, Reg::CURRENT_LIMIT, 0);
    image[Reg::TORQUE_ENABLE] = 0;
    image[kSpareControlByte] = 0;
    SetImageWord(image, Reg::GOAL_SPEED, static_cast<uint16_t>(m_pUsb->MaxSpeed()));
    image[Reg::LOCK] = 1;
    for (uint8_t address : kSpareStatusBytes) image[address] = 0;
    m_byDisplayedId = kDefaultId;
}

void ServoPG::SetField(QLineEdit* field, int value) {
    SetFieldText(field, QString::number(value));
}

void ServoPG::FillControls() {
    m_bFilling = true;
    const uint8_t* image = m_pImage;
    const auto word = [image](uint8_t address) { return static_cast<int16_t>(ImageWord(image, address)); };
    SetField(m_editId, m_byDisplayedId);
    SetField(m_editDelay, image[Reg::RETURN_DELAY]);
    SetField(m_editP, image[Reg::P_COEFF]);
    SetField(m_editD, image[Reg::D_COEFF]);
    SetField(m_editI, image[Reg::I_COEFF]);
    SetField(m_editV, image[Reg::V_COEFF]);
    SetField(m_editCwDeadBand, image[Reg::CW_DEAD_BAND]);
    SetField(m_editCcwDeadBand, image[Reg::CCW_DEAD_BAND]);
    SetField(m_editPunch, word(Reg::PUNCH));
    SetField(m_editTorque, word(Reg::MAX_TORQUE));
    SetField(m_editMinVoltage, image[Reg::MIN_VOLTAGE]);
    SetField(m_editMaxVoltage, image[Reg::MAX_VOLTAGE]);
    SetField(m_editMaxTemperature, image[Reg::MAX_TEMPERATURE]);
    SetField(m_editMinPosition, word(Reg::MIN_POSITION_LIMIT));
    SetField(m_editMaxPosition, word(Reg::MAX_POSITION_LIMIT));
    SetField(m_editCurrent, word(Reg::CURRENT_LIMIT));

    // A code the list does not offer shows as no selection.
    const auto select = [](QComboBox* list, int index) {
        list->setCurrentIndex(index < list->count() ? index : -1);
    };
    select(m_comboBaud, image[Reg::BAUD_RATE]);
    select(m_comboReturn, image[Reg::RETURN_LEVEL]);

    const uint8_t led = image[Reg::LED_ERROR_FLAGS];
    const uint8_t unload = image[Reg::UNLOAD_FLAGS];
    m_checkLedOverVoltage->setChecked(led & Reg::ALARM_OVER_VOLTAGE);
    m_checkLedOverHeat->setChecked(led & Reg::ALARM_OVER_HEAT);
    m_checkLedOverLoad->setChecked(led & Reg::ALARM_OVER_LOAD);
    m_checkUnloadOverVoltage->setChecked(unload & Reg::ALARM_OVER_VOLTAGE);
    m_checkUnloadOverHeat->setChecked(unload & Reg::ALARM_OVER_HEAT);
    m_checkUnloadOverLoad->setChecked(unload & Reg::ALARM_OVER_LOAD);
    m_bFilling = false;
}

int ServoPG::ClampField(int upper, QLineEdit* field, int lower) {
    int value = ParseLeadingInt(field->text().toStdString());
    if (value > upper) {
        SetField(field, upper);
        value = upper;
    }
    if (value < lower) {
        SetField(field, lower);
        value = lower;
    }
    return value;
}

void ServoPG::GatherControls(uint8_t* copy) {
    const int maxPosition = m_pUsb->MaxPosition();
    const auto byte = [&](uint8_t address, QLineEdit* field, int upper, int lower = 0) {
        copy[address] = static_cast<uint8_t>(ClampField(upper, field, lower));
    };
    const auto word = [&](uint8_t address, QLineEdit* field, int upper) {
        SetImageWord(copy, address, static_cast<uint16_t>(ClampField(upper, field, 0)));
    };
    byte(Reg::ID, m_editId, kMaxProgramId);
    byte(Reg::RETURN_DELAY, m_editDelay, kMaxByte);
    byte(Reg::P_COEFF, m_editP, kMaxByte);
    byte(Reg::D_COEFF, m_editD, kMaxByte);
    byte(Reg::I_COEFF, m_editI, kMaxByte);
    byte(Reg::V_COEFF, m_editV, kMaxByte);
    byte(Reg::CW_DEAD_BAND, m_editCwDeadBand, kMaxByte);
    byte(Reg::CCW_DEAD_BAND, m_editCcwDeadBand, kMaxByte);
    word(Reg::PUNCH, m_editPunch, kMaxWord);
    word(Reg::MIN_POSITION_LIMIT, m_editMinPosition, maxPosition);
    word(Reg::MAX_POSITION_LIMIT, m_editMaxPosition, maxPosition);
    word(Reg::MAX_TORQUE, m_editTorque, kMaxWord);
    byte(Reg::MIN_VOLTAGE, m_editMinVoltage, kMaxVoltage, kMinVoltage);
    byte(Reg::MAX_VOLTAGE, m_editMaxVoltage, kMaxVoltage, kMinVoltage);
    byte(Reg::MAX_TEMPERATURE, m_editMaxTemperature, kMaxByte);
    word(Reg::CURRENT_LIMIT, m_editCurrent, kMaxCurrent);
    // A list without a selection (the image held a code it does not offer) keeps that code: the operator
    // has chosen nothing to replace it with.
    if (m_comboBaud->currentIndex() >= 0)
        copy[Reg::BAUD_RATE] = static_cast<uint8_t>(m_comboBaud->currentIndex());
    if (m_comboReturn->currentIndex() >= 0)
        copy[Reg::RETURN_LEVEL] = static_cast<uint8_t>(m_comboReturn->currentIndex());
}

void ServoPG::GatherFlags(uint8_t* copy) {
    const auto gather = [](uint8_t& flags, const QCheckBox* box, uint8_t bit) {
        flags = static_cast<uint8_t>(box->isChecked() ? flags | bit : flags & ~bit);
    };
    gather(copy[Reg::LED_ERROR_FLAGS], m_checkLedOverVoltage, Reg::ALARM_OVER_VOLTAGE);
    gather(copy[Reg::LED_ERROR_FLAGS], m_checkLedOverLoad, Reg::ALARM_OVER_LOAD);
    gather(copy[Reg::LED_ERROR_FLAGS], m_checkLedOverHeat, Reg::ALARM_OVER_HEAT);
    gather(copy[Reg::UNLOAD_FLAGS], m_checkUnloadOverVoltage, Reg::ALARM_OVER_VOLTAGE);
    gather(copy[Reg::UNLOAD_FLAGS], m_checkUnloadOverLoad, Reg::ALARM_OVER_LOAD);
    gather(copy[Reg::UNLOAD_FLAGS], m_checkUnloadOverHeat, Reg::ALARM_OVER_HEAT);
}

void ServoPG::ClickRead() {
    m_btnRead->click();
}

void ServoPG::ClickWrite() {
    m_btnWrite->click();
}

QString ServoPG::LastLogLine() const {
    const QStringList lines = m_editLog->toPlainText().split(QLatin1Char('\n'));
    return lines.isEmpty() ? QString() : lines.constLast().trimmed();
}

void ServoPG::ShowPickedId(const QString& text) {
    m_editId->setText(text);
}

void ServoPG::AppendLog(const QString& message) {
    QTextCursor cursor = m_editLog->textCursor();
    cursor.movePosition(QTextCursor::End);
    m_editLog->setTextCursor(cursor);
    m_editLog->ensureCursorVisible();
    if (!m_editLog->document()->isEmpty()) cursor.insertText(QStringLiteral("\n"));
    cursor.insertText(message);
    m_editLog->setTextCursor(cursor);
    m_editLog->ensureCursorVisible();
}

void ServoPG::NameControls() {
    const std::pair<QObject*, const char*> names[] = {{m_btnRead, "read"},
                                                      {m_btnWrite, "write"},
                                                      {m_checkUnlock, "unlock"},
                                                      {m_btnSave, "save"},
                                                      {m_btnOpen, "open"},
                                                      {m_btnCalibrate, "calibrate"},
                                                      {m_btnReset, "reset"},
                                                      {m_editLog, "log"},
                                                      {m_editId, "id"},
                                                      {m_comboBaud, "baud"},
                                                      {m_editDelay, "delay"},
                                                      {m_comboReturn, "returnLevel"},
                                                      {m_editP, "p"},
                                                      {m_editD, "d"},
                                                      {m_editI, "i"},
                                                      {m_editV, "v"},
                                                      {m_editMaxTemperature, "maxTemperature"},
                                                      {m_editCurrent, "current"},
                                                      {m_editTorque, "torque"},
                                                      {m_editPunch, "punch"},
                                                      {m_editMinVoltage, "minVoltage"},
                                                      {m_editMaxVoltage, "maxVoltage"},
                                                      {m_editMinPosition, "minPosition"},
                                                      {m_editMaxPosition, "maxPosition"},
                                                      {m_editCwDeadBand, "cwDeadBand"},
                                                      {m_editCcwDeadBand, "ccwDeadBand"},
                                                      {m_checkLedOverVoltage, "ledOverVoltage"},
                                                      {m_checkLedOverLoad, "ledOverLoad"},
                                                      {m_checkLedOverHeat, "ledOverHeat"},
                                                      {m_checkUnloadOverVoltage, "unloadOverVoltage"},
                                                      {m_checkUnloadOverLoad, "unloadOverLoad"},
                                                      {m_checkUnloadOverHeat, "unloadOverHeat"}};
    for (const auto& [control, name] : names) control->setObjectName(QLatin1String(name));
}
