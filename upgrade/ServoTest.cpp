// The worker never touches a widget: each acknowledged block and its own end reach the page as queued calls,
// which the page drops once it is gone, so joining the worker on the GUI thread can never deadlock.
#include "upgrade/ServoTest.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <system_error>
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
    if (m_btnWrite->text() == kWrite) {
        StartTransfer();
    } else {
        m_bUpgrading = 0;  // the worker stops before its next block
    }
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
    m_btnWrite->setText(kCancel);
    m_btnRead->setEnabled(false);
    m_btnOpen->setEnabled(false);
    m_progress->SetPos(0);
    m_bUpgrading = 1;
    const unsigned generation = ++m_nGeneration;
    // The servo named by the image's ID, as the other pages address it; read here, where the image is
    // written, and handed to the worker.
    const uint8_t servoId = m_pImage[Reg::ID];
    emit transferRunning(true);
    try {
        m_worker = std::thread(&ServoTest::UpgradeWorker, this, servoId, generation);
    } catch (const std::system_error&) {
        EndTransfer(EUpgradeResult::Error, true);
    }
}

int ServoTest::UpgradeWorker(ServoTest* pPage, uint8_t servoId, unsigned generation) {
    EUpgradeResult result = EUpgradeResult::Error;
    if (CUsb* port = pPage->m_pUsb->Transport()) {
        CUpgradeCallbacks callbacks;
        callbacks.running = &pPage->m_bUpgrading;
        // Called by name, so Qt makes and frees the queued calls itself: a lambda's call would be made here
        // and freed on the GUI thread by our code, a hand-over through Qt's event queue whose locking
        // ThreadSanitizer cannot see, so it reports a race on it.
        callbacks.blockDone = [pPage, generation](int block) {
            QMetaObject::invokeMethod(pPage, "OnBlockDone", Qt::QueuedConnection, Q_ARG(unsigned, generation),
                                      Q_ARG(int, block));
        };
        result = TransferFirmware(*pPage->m_pUsb, *port, *pPage->m_pFirmware, servoId, callbacks);
    }
    QMetaObject::invokeMethod(pPage, "OnWorkerEnded", Qt::QueuedConnection, Q_ARG(unsigned, generation),
                              Q_ARG(int, static_cast<int>(result)));
    return 0;
}

void ServoTest::OnBlockDone(unsigned generation, int block) {
    if (generation != m_nGeneration) return;
    m_progress->SetPos(block);
}

void ServoTest::OnWorkerEnded(unsigned generation, int result) {
    if (generation != m_nGeneration || !IsTransferring()) return;
    m_worker.join();  // it posted this as its last act
    EndTransfer(static_cast<EUpgradeResult>(result), true);
}

void ServoTest::AbortTransfer() {
    if (!IsTransferring()) return;
    m_bUpgrading = 0;
    m_worker.join();
    EndTransfer(EUpgradeResult::Cancelled, false);
}

void ServoTest::EndTransfer(EUpgradeResult result, bool report) {
    // Anything of this transfer still queued is stale from here on: after an abort the window is closing.
    ++m_nGeneration;
    // The worker has already put the port back at its rate and timeout.
    if (report && result == EUpgradeResult::Error) ShowMessage(this, QStringLiteral("upgrade error"));
    if (report && result == EUpgradeResult::Cancelled) ShowMessage(this, QStringLiteral("upgrade cancel"));
    m_btnWrite->setText(kWrite);
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
