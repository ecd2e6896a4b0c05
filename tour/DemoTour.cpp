// Steps of the demo tour and the driving of widgets as a mouse and a keyboard would.
#include "tour/DemoTour.h"

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>
#include <algorithm>
#include <iterator>

#include "app/ServoMain.h"
#include "app/VelmoraApp.h"
#include "app/VelmoraDlg.h"
#include "debug/RobotDlg.h"
#include "link/AtomicFile.h"
#include "link/ControlTable.h"
#include "link/ServoUsb.h"
#include "program/ServoPG.h"
#include "sim/BusSimulator.h"
#include "ui/TabControl.h"
#include "ui/TextProgressCtrl.h"
#include "upgrade/ServoTest.h"

namespace {

constexpr int kPollMs = 20;
// Where the image of a hex file starts, and how much the tour's firmware holds: 64 blocks.
constexpr int kHexBase = 0x8000;
constexpr int kFirmwareBytes = 4096;
constexpr int kHexRecordBytes = 16;
// Each goal position is held this long while the curves are drawn.
constexpr int kGoalDwellMs = 1500;
constexpr int kGoals[] = {150, 650, 350};
// A poll cycle that keeps the whole walk between the goals on the plot.
const QString kDrawCycle = QStringLiteral("30");
constexpr int kMinPlotSamples = 30;

const QString kParameterFile = QStringLiteral("servo-parameters.dat");
const QString kFirmwareFile = QStringLiteral("demo-firmware.hex");

// Intel-HEX data records from the image base on, then the end-of-file record.
QByteArray HexText(const std::vector<uint8_t>& data) {
    QByteArray text;
    for (std::size_t offset = 0; offset < data.size(); offset += kHexRecordBytes) {
        const auto count = static_cast<int>(std::min<std::size_t>(kHexRecordBytes, data.size() - offset));
        const int address = kHexBase + static_cast<int>(offset);
        unsigned sum = static_cast<unsigned>(count + (address >> 8) + (address & 0xFF));
        QByteArray line = QByteArray(":") + QByteArray::number(count, 16).rightJustified(2, '0') +
                          QByteArray::number(address, 16).rightJustified(4, '0') + "00";
        for (int i = 0; i < count; ++i) {
            const uint8_t byte = data[offset + static_cast<std::size_t>(i)];
            sum += byte;
            line += QByteArray::number(byte, 16).rightJustified(2, '0');
        }
        line += QByteArray::number((0x100 - (sum & 0xFF)) & 0xFF, 16).rightJustified(2, '0');
        text += line.toUpper() + "\r\n";
    }
    return text + ":00000001FF\r\n";
}

// A press and a release at the middle of the row's first cell, as a mouse click there.
void ClickRow(QTableWidget* table, int row) {
    QTableWidgetItem* item = table->item(row, 0);
    if (!item) return;
    table->scrollToItem(item);
    QWidget* viewport = table->viewport();
    const QPointF at = table->visualItemRect(item).center();
    const QPointF global = viewport->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &release);
}

// Key presses into the field over its whole selected text, so its validator sees each key as typed.
void TypeText(QLineEdit* edit, const QString& text) {
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
    for (const QChar ch : text) {
        const int key = ch.isDigit() ? Qt::Key_0 + ch.digitValue() : ch.toUpper().unicode();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(ch));
        QCoreApplication::sendEvent(edit, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(ch));
        QCoreApplication::sendEvent(edit, &release);
    }
}

// The control named name on the window, as the tour finds what an operator sees; set when it was built.
template <class W>
W* Find(const QObject* window, const char* name) {
    return window->findChild<W*>(QLatin1String(name));
}

}  // namespace

CDemoTour::CDemoTour(CVelmoraApp& app, const QString& dir, std::FILE* out)
    : m_app(app), m_szDir(dir), m_dir(dir), m_out(out) {
    m_timer.setInterval(kPollMs);
    connect(&m_timer, &QTimer::timeout, this, &CDemoTour::Poll);
}

CDemoTour::~CDemoTour() {
    if (!m_bHooked) return;
    SetMessageHook(m_previousMessageHook);
    SetQuitHook(m_previousQuitHook);
}

QString CDemoTour::ParameterPath() const {
    return m_dir.filePath(kParameterFile);
}

QString CDemoTour::FirmwarePath() const {
    return m_dir.filePath(kFirmwareFile);
}

bool CDemoTour::Start() {
    if (!m_app.m_pMainWnd || !m_app.m_pStartDlg || !m_app.Simulator()) {
        m_szError = QStringLiteral("the tour needs the simulated bus");
        return false;
    }
    if (m_szDir.isEmpty() || !QDir().mkpath(m_szDir)) {
        m_szError = QStringLiteral("cannot make the tour directory %1").arg(m_szDir);
        return false;
    }
    // The save dialog would stop to ask before it replaced the file of an earlier tour.
    if (QFile::exists(ParameterPath()) && !QFile::remove(ParameterPath())) {
        m_szError = QStringLiteral("cannot replace %1").arg(ParameterPath());
        return false;
    }
    m_firmware.resize(kFirmwareBytes);
    for (std::size_t i = 0; i < m_firmware.size(); ++i) m_firmware[i] = static_cast<uint8_t>(i * 7 + i / 256);
    const QByteArray text = HexText(m_firmware);
    if (!WriteFileAtomically(QFile::encodeName(FirmwarePath()).toStdString(), text.toStdString()).ok) {
        m_szError = QStringLiteral("cannot write %1").arg(FirmwarePath());
        return false;
    }

    // File dialogs the tour can fill in: a platform's own dialog has no widgets to type into.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    m_previousMessageHook = SetMessageHook([this](QWidget*, const QString& text) { m_messages << text; });
    m_previousQuitHook = SetQuitHook([this](int exitCode) {
        if (m_nStep + 1 == m_steps.size())
            Finish(exitCode);
        else
            Fail(QStringLiteral("the program was asked to quit"));
    });
    m_bHooked = true;

    BuildSteps();
    m_timer.start();
    StartStep(0);
    return true;
}

void CDemoTour::BuildSteps() {
    AddStartSteps();
    AddSearchSteps();
    AddRobotSteps();
    AddProgramSteps();
    AddSaveStep();
    AddUpgradeSteps();
    // The operator's close box: the window stops its workers, closes the port and asks to quit.
    m_steps.push_back({QStringLiteral("close the main window"),
                       [this] { m_app.m_pMainWnd->close(); },
                       [] { return false; },
                       {},
                       {},
                       10000});
}

void CDemoTour::AddStartSteps() {
    CServoMain* main = m_app.m_pMainWnd.get();
    CVelmoraDlg* splash = m_app.m_pStartDlg.get();

    CStep startup{QStringLiteral("start-up dialog"), [] {}, [splash] { return splash->isVisible(); }};
    startup.picture = QStringLiteral("01-startup.png");
    m_steps.push_back(startup);

    m_steps.push_back({QStringLiteral("Enter"), [splash] { Find<QPushButton>(splash, "enter")->click(); },
                       [main, splash] { return main->isVisible() && !splash->isVisible(); },
                       [main] {
                           return Find<QLineEdit>(main, "port")->text().isEmpty()
                                      ? QStringLiteral("no port name shown")
                                      : QString();
                       },
                       QStringLiteral("02-enter.png")});

    m_steps.push_back({QStringLiteral("Open"),
                       [main] { Find<QPushButton>(main, "portOpen")->click(); },
                       [main] { return main->IsPortOpen(); },
                       {},
                       QStringLiteral("03-open.png")});
}

void CDemoTour::AddSearchSteps() {
    CServoMain* main = m_app.m_pMainWnd.get();
    const int servos = m_app.m_options.nSimulatedServos;

    // Once the sweep has logged the ID after the last simulated servo, every servo has had its ping; the
    // rest of the sweep would only wait out the silent IDs, so the operator stops it there.
    const QString pastLast = QStringLiteral("Pinging ID:%1 SERVO...").arg(servos + 1);
    m_steps.push_back({QStringLiteral("Search"),
                       [main] { Find<QPushButton>(main, "search")->click(); },
                       [main, pastLast] {
                           return Find<QPlainTextEdit>(main, "nodeLog")->toPlainText().contains(pastLast) ||
                                  main->NodeSearch()->State() == CNodeSearch::EState::Idle;
                       },
                       {},
                       {},
                       (servos + 2) * 50 + 30000});
    m_steps.push_back(
        {QStringLiteral("Stop"),
         [main] {
             if (main->NodeSearch()->State() != CNodeSearch::EState::Idle)
                 Find<QPushButton>(main, "search")->click();
         },
         [main] { return main->NodeSearch()->State() == CNodeSearch::EState::Idle; },
         [main, servos] {
             const int rows = Find<QTableWidget>(main, "nodes")->rowCount();
             return rows == servos
                        ? QString()
                        : QStringLiteral("the search listed %1 of %2 servos").arg(rows).arg(servos);
         },
         QStringLiteral("04-search.png")});

    m_steps.push_back({QStringLiteral("pick the first servo"),
                       [this, main] {
                           if (const QTableWidgetItem* item = Find<QTableWidget>(main, "nodes")->item(0, 0))
                               m_szServoId = item->text();
                           ClickRow(Find<QTableWidget>(main, "nodes"), 0);
                       },
                       [this, main] {
                           return !m_szServoId.isEmpty() && main->TargetId() == m_szServoId.toInt() &&
                                  main->RobotPage()->ServoId() == m_szServoId.toInt();
                       },
                       {},
                       QStringLiteral("05-pick.png")});
}

void CDemoTour::AddRobotSteps() {
    CServoMain* main = m_app.m_pMainWnd.get();
    CRobotDlg* robot = main->RobotPage();
    const uint8_t* image = m_app.m_pUsb->Image();

    m_steps.push_back({QStringLiteral("Torque Out"), [robot] { Find<QCheckBox>(robot, "torque")->click(); },
                       [robot, image] {
                           return Find<QCheckBox>(robot, "torque")->isChecked() && image[Reg::TORQUE_ENABLE];
                       }});
    m_steps.push_back(
        {QStringLiteral("all three traces"),
         [robot] {
             for (QCheckBox* box :
                  {Find<QCheckBox>(robot, "tracePosition"), Find<QCheckBox>(robot, "traceLoad"),
                   Find<QCheckBox>(robot, "traceSpeed")})
                 if (!box->isChecked()) box->click();
         },
         [robot] { return robot->Plot().TraceMask() == (kTracePosition | kTraceSpeed | kTraceLoad); }});
    m_steps.push_back({QStringLiteral("Cycle"),
                       [robot] { TypeText(Find<QLineEdit>(robot, "cycle"), kDrawCycle); },
                       [robot] { return Find<QLineEdit>(robot, "cycle")->text() == kDrawCycle; }});
    m_steps.push_back({QStringLiteral("Draw"), [robot] { Find<QPushButton>(robot, "draw")->click(); },
                       [robot] { return robot->IsDrawing(); }});

    for (const int goal : kGoals) {
        CStep step{QStringLiteral("goal %1").arg(goal),
                   [robot, goal] { Find<QSlider>(robot, "goal")->setValue(goal); },
                   [this] { return StepElapsed() >= kGoalDwellMs; }};
        step.timeoutMs = kGoalDwellMs + 5000;
        if (goal == kGoals[std::size(kGoals) - 1]) {
            step.check = [robot] {
                const auto samples = robot->PlotSamples();
                return samples >= kMinPlotSamples
                           ? QString()
                           : QStringLiteral("the plot holds only %1 samples").arg(samples);
            };
            step.picture = QStringLiteral("06-robot-curves.png");
        }
        m_steps.push_back(step);
    }
}

void CDemoTour::AddProgramSteps() {
    CServoMain* main = m_app.m_pMainWnd.get();
    CRobotDlg* robot = main->RobotPage();
    ServoPG* program = main->ProgramPage();
    const uint8_t* image = m_app.m_pUsb->Image();

    // Leaving the "ROBOT" page stops its drawing.
    m_steps.push_back({QStringLiteral("PROGRAM tab"),
                       [main] { Find<CTabControl>(main, "tabs")->TabButton(1)->click(); },
                       [program, robot] { return program->isVisible() && !robot->IsDrawing(); }});

    const auto readDone = [program] {
        const QString last = program->LastLogLine();
        return !program->IsBusy() &&
               (last == QLatin1String("Read All Servo Data") || last == QLatin1String("Read Servo Fail!"));
    };
    const auto readOk = [program] {
        return program->LastLogLine() == QLatin1String("Read All Servo Data")
                   ? QString()
                   : QStringLiteral("the servo did not answer READ");
    };
    m_steps.push_back({QStringLiteral("READ"), [program] { program->ClickRead(); }, readDone, readOk,
                       QStringLiteral("07-program-read.png")});

    // The servo keeps its stored parameters locked: WRITE unlocks them first.
    m_steps.push_back({QStringLiteral("edit P, UnLock"),
                       [this, program, image] {
                           // The gain READ just put into the image decides the new one.
                           m_szNewP = image[Reg::P_COEFF] == 20 ? QStringLiteral("25") : QStringLiteral("20");
                           TypeText(Find<QLineEdit>(program, "p"), m_szNewP);
                           if (!Find<QCheckBox>(program, "unlock")->isChecked())
                               Find<QCheckBox>(program, "unlock")->click();
                       },
                       [this, program] {
                           return Find<QLineEdit>(program, "p")->text() == m_szNewP &&
                                  Find<QCheckBox>(program, "unlock")->isChecked();
                       }});
    m_steps.push_back(
        {QStringLiteral("WRITE"), [program] { program->ClickWrite(); },
         [program] { return !program->IsBusy() && program->LastLogLine() == QLatin1String("lock Eprom"); }});
    // Reading back shows what the servo now holds.
    m_steps.push_back({QStringLiteral("READ after WRITE"), [program] { program->ClickRead(); }, readDone,
                       [this, program, readOk] {
                           const QString problem = readOk();
                           if (!problem.isEmpty()) return problem;
                           return Find<QLineEdit>(program, "p")->text() == m_szNewP
                                      ? QString()
                                      : QStringLiteral("the servo holds P %1 after WRITE of %2")
                                            .arg(Find<QLineEdit>(program, "p")->text(), m_szNewP);
                       },
                       QStringLiteral("08-program-write.png")});
}

void CDemoTour::AddSaveStep() {
    ServoPG* program = m_app.m_pMainWnd->ProgramPage();
    m_steps.push_back({QStringLiteral("SAVE"),
                       [this, program] {
                           m_szDialogAnswer = ParameterPath();
                           m_bGrabDialog = true;
                           Find<QPushButton>(program, "save")->click();
                       },
                       [this] { return m_szDialogAnswer.isEmpty() && QFile::exists(ParameterPath()); },
                       [this] {
                           const qint64 size = QFileInfo(ParameterPath()).size();
                           return size == 31 ? QString()
                                             : QStringLiteral("the file holds %1 bytes").arg(size);
                       },
                       QStringLiteral("09-program-save.png")});
}

void CDemoTour::AddUpgradeSteps() {
    CServoMain* main = m_app.m_pMainWnd.get();
    ServoTest* upgrade = main->UpgradePage();

    m_steps.push_back({QStringLiteral("UPGRADE tab"),
                       [main] { Find<CTabControl>(main, "tabs")->TabButton(2)->click(); },
                       [upgrade] { return upgrade->isVisible(); }});
    m_steps.push_back({QStringLiteral("Read versions"),
                       [upgrade] { Find<QPushButton>(upgrade, "read")->click(); },
                       [upgrade] { return !Find<QLabel>(upgrade, "firmware")->text().isEmpty(); }});
    m_steps.push_back({QStringLiteral("OPEN"),
                       [this, upgrade] {
                           m_szDialogAnswer = FirmwarePath();
                           Find<QPushButton>(upgrade, "open")->click();
                       },
                       [this, upgrade] {
                           return m_szDialogAnswer.isEmpty() &&
                                  Find<QPushButton>(upgrade, "write")->isEnabled();
                       },
                       [this, upgrade] {
                           const int blocks = upgrade->Firmware()->blockCount;
                           return blocks == kFirmwareBytes / 64
                                      ? QString()
                                      : QStringLiteral("%1 blocks loaded").arg(blocks);
                       },
                       QStringLiteral("10-upgrade-open.png")});

    CStep write{
        QStringLiteral("WRITE firmware"),
        [upgrade] { Find<QPushButton>(upgrade, "write")->click(); },
        [upgrade] { return !upgrade->IsTransferring() && !upgrade->TransferMayGoOn(); },
        [this, upgrade] {
            if (Find<CTextProgressCtrl>(upgrade, "progress")->GetPos() != upgrade->Firmware()->blockCount)
                return QStringLiteral("the transfer stopped at block %1")
                    .arg(Find<CTextProgressCtrl>(upgrade, "progress")->GetPos());
            const auto id = static_cast<uint8_t>(m_szServoId.toInt());
            std::vector<uint8_t> flashed = m_app.Simulator()->Firmware(id);
            return flashed == m_firmware
                       ? QString()
                       : QStringLiteral("servo %1 holds %2 other bytes").arg(m_szServoId).arg(flashed.size());
        },
        QStringLiteral("11-upgrade-write.png"),
        30000};
    m_steps.push_back(write);
}

void CDemoTour::StartStep(std::size_t index) {
    m_nStep = index;
    m_bActed = false;
    m_stepClock.restart();
    // Queued, so that a modal dialog the action opens runs its loop with this tour's timer still going.
    QMetaObject::invokeMethod(
        this,
        [this, index] {
            if (m_bFinished || index != m_nStep) return;
            m_steps[index].act();
            if (index == m_nStep) m_bActed = true;
        },
        Qt::QueuedConnection);
}

void CDemoTour::Poll() {
    if (m_bFinished) return;
    if (!m_messages.isEmpty()) return Fail(QStringLiteral("message \"%1\"").arg(m_messages.constFirst()));
    if (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) return AnswerFileDialog(dialog);
        return Fail(QStringLiteral("unexpected window \"%1\"").arg(modal->windowTitle()));
    }
    const CStep& step = m_steps[m_nStep];
    if (m_bActed && step.done()) {
        if (step.check) {
            const QString problem = step.check();
            if (!problem.isEmpty()) return Fail(problem);
        }
        QWidget* window =
            m_nStep == 0 ? static_cast<QWidget*>(m_app.m_pStartDlg.get()) : m_app.m_pMainWnd.get();
        if (!step.picture.isEmpty() && !SavePicture(step.picture, window)) return;
        if (m_nStep + 1 < m_steps.size()) StartStep(m_nStep + 1);
    } else if (StepElapsed() > step.timeoutMs) {
        Fail(QStringLiteral("nothing happened within %1 s").arg(step.timeoutMs / 1000.0));
    }
}

void CDemoTour::AnswerFileDialog(QFileDialog* dialog) {
    if (dialog == m_pAnsweredDialog)
        return Fail(QStringLiteral("the file dialog did not take %1").arg(m_szAnswered));
    if (m_szDialogAnswer.isEmpty()) return Fail(QStringLiteral("a file dialog opened unasked"));
    m_pAnsweredDialog = dialog;
    m_szAnswered = m_szDialogAnswer;
    const QFileInfo answer(m_szDialogAnswer);
    dialog->selectFile(answer.absoluteFilePath());
    // The dialog leaves a focused name field as it is: type the name there, as the operator does.
    if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        name->setText(answer.fileName());
    if (m_bGrabDialog) m_dialogPicture = dialog->grab();
    m_bGrabDialog = false;
    m_szDialogAnswer.clear();
    // As the dialog's own Save or Open button: through QDialog, where accept() is public.
    static_cast<QDialog*>(dialog)->accept();
}

bool CDemoTour::SavePicture(const QString& name, QWidget* window) {
    const QPixmap picture = m_dialogPicture.isNull() ? window->grab() : m_dialogPicture;
    m_dialogPicture = QPixmap();
    const QString path = m_dir.filePath(name);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (picture.isNull() || !picture.save(&buffer, "PNG") ||
        !WriteFileAtomically(QFile::encodeName(path).toStdString(), png.toStdString()).ok) {
        Fail(QStringLiteral("cannot write %1").arg(path));
        return false;
    }
    m_pictures << path;
    if (m_out) {
        std::fprintf(m_out, "%s\n", QFile::encodeName(path).constData());
        std::fflush(m_out);
    }
    return true;
}

void CDemoTour::Fail(const QString& reason) {
    if (m_bFinished) return;
    const QString name = m_nStep < m_steps.size() ? m_steps[m_nStep].name : QString();
    m_szError = QStringLiteral("tour step \"%1\" failed: %2").arg(name, reason);
    std::fprintf(stderr, "brennix-debug: %s\n", qPrintable(m_szError));
    Finish(1);
}

void CDemoTour::Finish(int exitCode) {
    if (m_bFinished) return;
    m_bFinished = true;
    m_timer.stop();
    // A dialog still open would keep its own loop running under the one that is to end.
    for (int i = 0; i < 10; ++i) {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog) break;
        dialog->reject();
    }
    m_app.m_pMainWnd->ShutDown();
    emit finished(exitCode);
}
