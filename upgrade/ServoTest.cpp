// The worker never touches a widget: each acknowledged block and its own end reach the page through a
// hand-off, which never waits for the GUI thread, so joining the worker there can never deadlock.
#include "upgrade/ServoTest.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <utility>

#include "link/ControlTable.h"
#include "link/Encodings.h"
#include "link/ServoUsb.h"
#include "ui/DialogBuilder.h"
#include "ui/OperatorHooks.h"
#include "ui/TextProgressCtrl.h"
#include "upgrade/FirmwareFile.h"
#include "upgrade/FirmwareTransfer.h"

namespace {

const QString kWrite = QStringLiteral("WRITE");
const QString kCancel = QStringLiteral("CANCEL");

QString VersionText(const uint8_t* bytes) {
    return QString::asprintf("%.2x%.2x", bytes[0], bytes[1]);
}

}  // namespace

ServoTest::ServoTest(QWidget* pParent, CServoUsb* pUsb)
    : CDialogPage(pParent),
      m_pUsb(pUsb),
      m_pFirmware(std::make_unique<FirmwareImage>()),
      m_pImage(pUsb->Image()) {}

ServoTest::~ServoTest() {
    AbortTransfer();
}

bool ServoTest::Create(QWidget* pParent) {
    setParent(pParent, Qt::Widget);
    const CDialogBuilder dlg(this);
    setFixedSize(dlg.Units().Size(400, 264));

    dlg.Group(tr("Version"), {0, 1, 230, 110});
    dlg.Label(tr("ID:"), {24, 22, 11, 8});
    m_editId = dlg.Edit(3, true, {98, 20, 52, 12});
    dlg.Label(tr("Firmware:"), {24, 52, 35, 8});
    m_labelFirmware = dlg.Label(QString(), {98, 52, 53, 8});
    dlg.Label(tr("Hardware:"), {24, 82, 36, 8});
    m_labelHardware = dlg.Label(QString(), {98, 82, 53, 8});
    m_btnRead = dlg.Button(tr("Read"), {169, 79, 44, 16});
    // A picture control takes its picture's own size at its top-left corner, whatever the font made the
    // rectangle.
    const QPixmap picture(QStringLiteral(":/upgrade/images/servo.png"));
    m_picture = dlg.Label(QString(), {250, 3, 147, 108});
    m_picture->setPixmap(picture);
    m_picture->resize(picture.size());

    dlg.Group(tr("Upgrade"), {0, 132, 400, 132});
    m_progress = new CTextProgressCtrl(this);
    dlg.Place(m_progress, {18, 175, 357, 12});
    m_btnOpen = dlg.Button(tr("OPEN"), {294, 229, 34, 14});
    m_btnWrite = dlg.Button(kWrite, {340, 229, 34, 14});

    NameControls();
    connect(m_btnRead, &QPushButton::clicked, this, &ServoTest::OnReadVersion);
    connect(m_btnOpen, &QPushButton::clicked, this, &ServoTest::OnOpenFile);
    connect(m_btnWrite, &QPushButton::clicked, this, &ServoTest::OnWrite);

    m_btnWrite->setEnabled(false);
    m_labelFirmware->clear();
    m_labelHardware->clear();
    ShowServoId(1);
    hide();
    return true;
}

void ServoTest::ShowServoId(int id) {
    m_editId->setText(QString::number(id));
}

void ServoTest::OnReadVersion() {
    // The port belongs to the transfer until its worker ends.
    if (IsTransferring()) return;
    const auto id = static_cast<uint8_t>(ParseLeadingInt(m_editId->text().toStdString()));
    if (m_pUsb->ReadData(id, Reg::FIRMWARE_VERSION, 2, m_pImage + Reg::FIRMWARE_VERSION) < 0) return;
    if (m_pUsb->ReadData(id, Reg::HARDWARE_VERSION, 2, m_pImage + Reg::HARDWARE_VERSION) < 0) return;
    // Bytes as they came, no byte-order swap: the versions are two separate numbers each.
    m_labelFirmware->setText(VersionText(m_pImage + Reg::FIRMWARE_VERSION));
    m_labelHardware->setText(VersionText(m_pImage + Reg::HARDWARE_VERSION));
}

void ServoTest::OnOpenFile() {
    // The worker is reading the image: a load now would change what it sends.
    if (IsTransferring()) return;
    const QString path = ChooseFile(this, EFileKind::Firmware);
    if (!path.isEmpty()) LoadFile(path);
}

void ServoTest::LoadFile(const QString& path) {
    if (IsTransferring()) return;
    const EFirmwareLoad result = LoadFirmwareFile(QFile::encodeName(path).toStdString(), *m_pFirmware);
    if (result != EFirmwareLoad::Loaded) {
        m_btnWrite->setEnabled(false);
        ShowMessage(this, QString::fromUtf8(FirmwareLoadMessage(result)));
        return;
    }
    m_progress->SetRange(0, m_pFirmware->blockCount);
    m_progress->SetStep(1);
    m_progress->SetPos(0);
    m_btnWrite->setEnabled(true);
}

void ServoTest::OnWrite() {
    if (m_state == ETransferState::Ready) {
        StartTransfer();
    } else {
        m_state = ETransferState::Cancelling;
        m_worker.RequestStop();  // the worker stops before its next block
    }
}

void ServoTest::ShowTransferState() {
    m_btnWrite->setText(m_state == ETransferState::Ready ? kWrite : kCancel);
}

void ServoTest::StartTransfer() {
    if (IsTransferring() || m_pFirmware->blockCount == 0) return;
    if (m_fnLinkBusy) {
        const QString busy = m_fnLinkBusy();
        if (!busy.isEmpty()) {
            ShowMessage(this, busy);
            return;
        }
    }
    m_state = ETransferState::Running;
    ShowTransferState();
    m_btnRead->setEnabled(false);
    m_btnOpen->setEnabled(false);
    m_progress->SetPos(0);
    // The servo the pages act on, as the main window last handed it over; copied for the worker.
    const uint8_t servoId = m_nTargetId;
    emit transferRunning(true);
    const unsigned started = m_worker.Start([this, servoId](std::stop_token token, unsigned generation) {
        RunTransfer(token, generation, servoId);
    });
    if (started == 0) EndTransfer(EUpgradeResult::Error, true);
}

void ServoTest::RunTransfer(const std::stop_token& token, unsigned generation, uint8_t servoId) {
    EUpgradeResult result = EUpgradeResult::Error;
    if (CUsb* port = m_pUsb->Transport()) {
        CUpgradeCallbacks callbacks;
        callbacks.stop = token;
        callbacks.blockDone = [this, generation](int block) {
            m_reports.Post({generation, block, false, 0});
        };
        result = TransferFirmware(*m_pUsb, *port, *m_pFirmware, servoId, callbacks);
    }
    m_reports.Post({generation, 0, true, static_cast<int>(result)});
}

void ServoTest::TakeReports() {
    for (const CTransferReport& report : m_reports.Take()) {
        if (!m_worker.IsCurrent(report.generation) || !IsTransferring()) continue;
        if (!report.ended) {
            m_progress->SetPos(report.block);
            continue;
        }
        m_worker.Join();  // it posted this as its last act
        EndTransfer(static_cast<EUpgradeResult>(report.result), true);
    }
}

void ServoTest::AbortTransfer() {
    if (!IsTransferring()) return;
    // Anything of this transfer still queued is stale from here on: the window is closing.
    m_worker.Stop();
    m_reports.Clear();
    EndTransfer(EUpgradeResult::Cancelled, false);
}

void ServoTest::EndTransfer(EUpgradeResult result, bool report) {
    // The worker has already put the port back at its rate and timeout.
    if (report && result == EUpgradeResult::Error) ShowMessage(this, QStringLiteral("upgrade error"));
    if (report && result == EUpgradeResult::Cancelled) ShowMessage(this, QStringLiteral("upgrade cancel"));
    m_state = ETransferState::Ready;
    ShowTransferState();
    m_btnRead->setEnabled(true);
    m_btnOpen->setEnabled(true);
    emit transferRunning(false);
}

void ServoTest::NameControls() {
    const std::pair<QObject*, const char*> names[] = {
        {m_btnWrite, "write"},         {m_progress, "progress"},      {m_editId, "id"},
        {m_labelFirmware, "firmware"}, {m_labelHardware, "hardware"}, {m_btnRead, "read"},
        {m_btnOpen, "open"},           {m_picture, "picture"}};
    for (const auto& [control, name] : names) control->setObjectName(QLatin1String(name));
}
