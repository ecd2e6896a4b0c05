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
#include "program/ParameterFields.h"
#include "program/TypingLimit.h"
#include "ui/DialogBuilder.h"

namespace {

constexpr uint8_t kDefaultId = 1;
constexpr int kDefaultMinVoltage = 50;
constexpr int kDefaultMaxVoltage = 250;
constexpr int kDefaultMaxTorque = 1023;

// Unnamed bytes the defaults clear: one after TORQUE_ENABLE and two in the status span.
constexpr uint8_t kSpareControlByte = 32;
constexpr std::array<uint8_t, 2> kSpareStatusBytes{49, 51};

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

    for (uint32_t baud : BAUD_RATES) m_lists[FieldBaud]->addItem(QString::number(baud));
    for (const char* level : kReturnLevels) m_lists[FieldReturnLevel]->addItem(QString::fromLatin1(level));
    m_editLog->setPlainText(QStringLiteral("Instructions:"));
    FillControls();

    connect(m_btnRead, &QPushButton::clicked, this, &ServoPG::OnRead);
    connect(m_btnWrite, &QPushButton::clicked, this, &ServoPG::OnWrite);
    connect(m_btnReset, &QPushButton::clicked, this, &ServoPG::OnReset);
    connect(m_btnSave, &QPushButton::clicked, this, &ServoPG::OnSave);
    connect(m_btnOpen, &QPushButton::clicked, this, &ServoPG::OnOpen);
    connect(m_btnCalibrate, &QPushButton::clicked, this, &ServoPG::ClickCalibrate);
    connect(m_edits[FieldId], &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!m_bBusy || m_bFilling) return;
        m_bIdTextPicked = true;
        m_szPickedIdText = text;
    });
    hide();
    return true;
}

QLineEdit* ServoPG::NumberEdit(int maxTyped, const CDluRect& place) {
    QLineEdit* edit = CDialogBuilder(this).Edit(maxTyped, false, place);
    InstallTypingLimit(edit, maxTyped);
    return edit;
}

void ServoPG::CreateControls() {
    const CDialogBuilder dlg(this);
    setFixedSize(dlg.Units().Size(400, 264));
    m_editLog = dlg.LogPane({312, 0, 88, 264});

    dlg.Group(tr("R/W"), {0, 0, 60, 84});
    m_btnRead = dlg.Button(tr("READ"), {10, 14, 40, 14});
    m_btnWrite = dlg.Button(tr("WRITE"), {10, 34, 40, 14});
    m_checkUnlock = dlg.Check(tr("UnLock"), {10, 58, 44, 10});
    // Added to the page, below UnLock: the limits it finds are written with WRITE.
    m_btnCalibrate = dlg.Button(tr("Calibrate…"), {5, 69, 50, 13});
    dlg.Group(tr("File"), {0, 88, 60, 90});
    m_btnSave = dlg.Button(tr("SAVE"), {10, 104, 40, 14});
    m_btnOpen = dlg.Button(tr("OPEN"), {10, 126, 40, 14});
    m_btnReset = dlg.Button(tr("RESET"), {10, 152, 40, 14});

    // Each box before its inputs, so it stays below them.
    for (std::size_t group = 0; group < kParameterGroups.size(); ++group) {
        dlg.Group(tr(kParameterGroups[group].title), kParameterGroups[group].place);
        for (std::size_t index = 0; index < kParameterFields.size(); ++index)
            if (kParameterFields[index].group == static_cast<int>(group)) CreateField(dlg, index);
    }

    dlg.Group(tr("LED Error Flag"), {0, 182, 308, 38});
    m_checkLedOverVoltage = dlg.Check(tr("Over Valtage"), {16, 198, 70, 10});
    m_checkLedOverLoad = dlg.Check(tr("Over Load"), {120, 198, 70, 10});
    m_checkLedOverHeat = dlg.Check(tr("Over Heat"), {224, 198, 70, 10});
    dlg.Group(tr("Unload Flag"), {0, 224, 308, 38});
    m_checkUnloadOverVoltage = dlg.Check(tr("Over Valtage"), {16, 240, 70, 10});
    m_checkUnloadOverLoad = dlg.Check(tr("Over Load"), {120, 240, 70, 10});
    m_checkUnloadOverHeat = dlg.Check(tr("Over Heat"), {224, 240, 70, 10});
}

void ServoPG::CreateField(const CDialogBuilder& dlg, std::size_t index) {
    const CParameterField& field = kParameterFields[index];
    dlg.Label(tr(field.label), field.labelPlace);
    if (field.kind == CParameterField::EKind::List)
        m_lists[index] = dlg.DropList(field.place);
    else
        m_edits[index] = NumberEdit(field.maxTyped, field.place);
    if (field.unit) dlg.Label(tr(field.unit), field.unitPlace);
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
    image[Reg::MAX_VOLTAGE] = kDefaultMaxVoltage;
    image[Reg::MIN_VOLTAGE] = kDefaultMinVoltage;
    SetImageWord(image, Reg::MAX_TORQUE, kDefaultMaxTorque);
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
    for (std::size_t index = 0; index < kParameterFields.size(); ++index) {
        const CParameterField& field = kParameterFields[index];
        if (field.kind == CParameterField::EKind::List) {
            // A code the list does not offer shows as no selection.
            QComboBox* list = m_lists[index];
            const int code = image[field.address];
            list->setCurrentIndex(code < list->count() ? code : -1);
        } else if (field.address == Reg::ID) {
            SetField(m_edits[index], m_byDisplayedId);
        } else {
            SetField(m_edits[index], field.bytes == 2 ? static_cast<int16_t>(ImageWord(image, field.address))
                                                      : image[field.address]);
        }
    }

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
    for (std::size_t index = 0; index < kParameterFields.size(); ++index) {
        const CParameterField& field = kParameterFields[index];
        if (field.kind == CParameterField::EKind::List) {
            // A list without a selection (the image held a code it does not offer) keeps that code: the
            // operator has chosen nothing to replace it with.
            const int chosen = m_lists[index]->currentIndex();
            if (chosen >= 0) copy[field.address] = static_cast<uint8_t>(chosen);
            continue;
        }
        const int upper = field.upper == kUpToMaxPosition ? m_pUsb->MaxPosition() : field.upper;
        const int value = ClampField(upper, m_edits[index], field.lower);
        if (field.bytes == 2)
            SetImageWord(copy, field.address, static_cast<uint16_t>(value));
        else
            copy[field.address] = static_cast<uint8_t>(value);
    }
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
    m_edits[FieldId]->setText(text);
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
    const std::pair<QObject*, const char*> names[] = {
        {m_btnRead, "read"},
        {m_btnWrite, "write"},
        {m_checkUnlock, "unlock"},
        {m_btnSave, "save"},
        {m_btnOpen, "open"},
        {m_btnCalibrate, "calibrate"},
        {m_btnReset, "reset"},
        {m_editLog, "log"},
        {m_checkLedOverVoltage, "ledOverVoltage"},
        {m_checkLedOverLoad, "ledOverLoad"},
        {m_checkLedOverHeat, "ledOverHeat"},
        {m_checkUnloadOverVoltage, "unloadOverVoltage"},
        {m_checkUnloadOverLoad, "unloadOverLoad"},
        {m_checkUnloadOverHeat, "unloadOverHeat"},
    };
    for (const auto& [control, name] : names) control->setObjectName(QLatin1String(name));
    for (std::size_t index = 0; index < kParameterFields.size(); ++index) {
        QWidget* input = m_edits[index] ? static_cast<QWidget*>(m_edits[index]) : m_lists[index];
        input->setObjectName(QLatin1String(kParameterFields[index].objectName));
    }
}
