// The page's buttons: READ, WRITE and RESET as sequences on the bus worker, SAVE and OPEN of .dat files.
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <cstring>

#include "link/ControlTable.h"
#include "link/Encodings.h"
#include "link/ParameterRanges.h"
#include "link/ServoUsb.h"
#include "program/CalibrateDialog.h"
#include "program/ParameterFile.h"
#include "program/ParameterSteps.h"
#include "program/ServoPG.h"
#include "program/TypingLimit.h"
#include "ui/OperatorHooks.h"

namespace {

// The ID every servo answers to after a reset.
constexpr uint8_t kResetId = 1;

}  // namespace

void ServoPG::UpdateButtons() {
    // Files too: one must not be saved or loaded in the middle of a READ that is about to change the image.
    for (QPushButton* button : {m_btnRead, m_btnWrite, m_btnReset, m_btnSave, m_btnOpen})
        button->setEnabled(!m_bBusy);
}

void ServoPG::RunSequence(std::vector<CBusStep> steps) {
    AppendLog(QStringLiteral("----------ID:%1----------").arg(m_byTargetId));
    m_steps = steps;
    m_bBusy = true;
    m_byTargetAtStart = m_byTargetId;
    m_bIdTextPicked = false;
    UpdateButtons();
    emit sequenceStarted();
    if (!m_sequence.Start(std::move(steps), [this](CStepReport report) { PostReport(std::move(report)); })) {
        // Only possible with a previous worker still going, which the busy flag rules out; never hang busy.
        m_bBusy = false;
        UpdateButtons();
        emit sequenceDone();
    }
}

void ServoPG::PostReport(CStepReport report) {
    m_reports.Post(std::move(report));
}

void ServoPG::TakeReports() {
    for (const CStepReport& report : m_reports.Take()) {
        if (report.index >= 0 && report.index < static_cast<int>(m_steps.size())) {
            const CBusStep& step = m_steps[static_cast<std::size_t>(report.index)];
            if (step.kind == CBusStep::EKind::Read)
                ApplyRead(report);
            else
                AppendLog(QString::fromStdString(step.log));
        }
        if (report.last) {
            m_bBusy = false;
            UpdateButtons();
            emit sequenceDone();
        }
    }
}

void ServoPG::OnRead() {
    if (m_bBusy) return;
    RunSequence({SpanReadStep(m_byTargetId)});
}

void ServoPG::ApplyRead(const CStepReport& report) {
    if (report.result < 0 || report.data.size() != Reg::PARAM_SPAN_LENGTH) {
        AppendLog(QStringLiteral("Read Servo Fail!"));
        return;
    }
    std::memcpy(m_pImage + Reg::PARAM_SPAN_START, report.data.data(), Reg::PARAM_SPAN_LENGTH);
    if (m_pUsb->IsHighByteFirst()) SwapParameterWords(m_pImage);
    m_byDisplayedId = m_pImage[Reg::ID];
    // A servo picked while the read was on its way stays the target, and its ID stays in the image and the
    // field; otherwise the servo read is the target, under the ID it reported.
    if (m_byTargetId != m_byTargetAtStart)
        m_pImage[Reg::ID] = m_byTargetId;
    else
        m_byTargetId = m_byDisplayedId;
    FillControls();
    if (m_bIdTextPicked) SetFieldText(m_edits[FieldId], m_szPickedIdText);
    AppendLog(QStringLiteral("Read All Servo Data"));
    emit targetChanged(m_byTargetId);
}

void ServoPG::OnWrite() {
    if (m_bBusy) return;
    uint8_t copy[IMAGE_SIZE];
    std::memcpy(copy, m_pImage, IMAGE_SIZE);
    GatherControls(copy);
    GatherFlags(copy);
    uint8_t sent[IMAGE_SIZE];
    std::memcpy(sent, copy, IMAGE_SIZE);
    if (m_pUsb->IsHighByteFirst()) SwapParameterWords(sent);

    const uint8_t id = m_byTargetId;
    const bool unlock = m_checkUnlock->isChecked();
    std::vector<CBusStep> steps;
    if (unlock) steps.push_back(LockStep(id, 0, "Unlock Eprom"));
    steps.push_back(SpanWriteStep(
        id, {sent + Reg::PARAM_SPAN_START, sent + Reg::PARAM_SPAN_START + Reg::PARAM_SPAN_LENGTH},
        "Write All Servo Data"));
    // The servo answers to the ID just written from the span write on.
    if (unlock) steps.push_back(LockStep(copy[Reg::ID], 1, "lock Eprom"));
    RunSequence(std::move(steps));

    // The results are not examined, so the image can take the written values at once; a command from
    // another page that waits for the bus then already addresses the written ID.
    std::memcpy(m_pImage + Reg::PARAM_SPAN_START, copy + Reg::PARAM_SPAN_START, Reg::PARAM_SPAN_LENGTH);
    m_byTargetId = copy[Reg::ID];
    emit targetChanged(m_byTargetId);
}

void ServoPG::OnReset() {
    if (m_bBusy) return;
    const uint8_t id = m_byTargetId;
    const bool unlock = m_checkUnlock->isChecked();
    std::vector<CBusStep> steps;
    if (unlock) steps.push_back(LockStep(id, 0, "Unlock Eprom"));
    CBusStep reset;
    reset.kind = CBusStep::EKind::Reset;
    reset.id = id;
    reset.log = "Reset Default";
    steps.push_back(std::move(reset));
    if (unlock) steps.push_back(LockStep(kResetId, 1, "lock Eprom"));
    RunSequence(std::move(steps));

    // As with WRITE, nothing waits on the result: the defaults are what the servo now holds.
    SetDefaults();
    FillControls();
    m_byTargetId = kResetId;
    emit targetChanged(m_byTargetId);
}

void ServoPG::OnSave() {
    if (m_bBusy) return;
    const QString path = ChooseFile(this, EFileKind::ParameterSave);
    if (path.isEmpty()) return;
    ParameterBytes bytes{};
    std::memcpy(bytes.data(), m_pImage, bytes.size());
    std::string why;
    if (SaveParameterFile(QFile::encodeName(path).toStdString(), bytes, &why) != EParamFileStatus::Ok)
        ShowMessage(this, QStringLiteral("Cannot save %1: %2").arg(path, QString::fromStdString(why)));
}

void ServoPG::OnOpen() {
    if (m_bBusy) return;
    const QString path = ChooseFile(this, EFileKind::ParameterOpen);
    if (path.isEmpty()) return;
    ParameterBytes bytes{};
    switch (LoadParameterFile(QFile::encodeName(path).toStdString(), bytes)) {
        case EParamFileStatus::Ok:
            break;
        case EParamFileStatus::TooShort:
            ShowMessage(this, QStringLiteral("Parameter file too short"));
            return;
        default:
            ShowMessage(this, QStringLiteral("Cannot open file"));
            return;
    }
    // The servo addressed stays the same: the file's ID only goes to the field, to be written by WRITE.
    const std::size_t first = Reg::ID + 1;
    std::memcpy(m_pImage + first, bytes.data() + first, bytes.size() - first);
    m_byDisplayedId = bytes[Reg::ID];
    FillControls();
    // The values are shown as they are; WRITE holds the fields within range. The log says which were not.
    uint8_t fileImage[IMAGE_SIZE] = {};
    std::memcpy(fileImage, bytes.data(), bytes.size());
    for (const CRangeProblem& problem : CheckParameterRanges(fileImage, true))
        AppendLog(QStringLiteral("Out of range: %1").arg(QString::fromStdString(problem.text)));
}

void ServoPG::ClickCalibrate() {
    if (m_pCalibrate) {
        m_pCalibrate->raise();
        return;
    }
    const uint8_t id = m_byTargetId;
    AppendLog(QStringLiteral("----------ID:%1----------").arg(id));
    AppendLog(QStringLiteral("Calibrate"));
    m_pCalibrate = new CCalibrateDialog(*m_pUsb, id, this);
    m_pCalibrate->setAttribute(Qt::WA_DeleteOnClose);
    // The log pane is narrow: short lines. The sweep window itself says why a sweep failed.
    connect(m_pCalibrate, &CCalibrateDialog::limitsFound, this,
            [this](int min, int max, int lowest, int highest) {
                SetField(m_edits[FieldMinPosition], min);
                SetField(m_edits[FieldMaxPosition], max);
                AppendLog(QStringLiteral("Seen %1..%2").arg(lowest).arg(highest));
                AppendLog(QStringLiteral("Limits %1..%2").arg(min).arg(max));
                AppendLog(QStringLiteral("WRITE stores them"));
            });
    connect(m_pCalibrate, &CCalibrateDialog::sweepFailed, this,
            [this](const QString&) { AppendLog(QStringLiteral("Calibrate failed")); });
    m_pCalibrate->show();
    m_pCalibrate->Start();
}

CCalibrateDialog* ServoPG::CalibrateWindow() const {
    return m_pCalibrate;
}

void ServoPG::StopCalibration() {
    if (!m_pCalibrate) return;
    m_pCalibrate->CancelAndJoin();
    m_pCalibrate->close();
}
