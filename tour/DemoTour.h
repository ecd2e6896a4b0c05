// The demo tour: works the tool's own widgets through a whole session on the simulated bus and keeps a
// picture of the window after each step.
#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

#include "ui/OperatorHooks.h"

class CVelmoraApp;
class QFileDialog;
class QWidget;

// The tour is an operator who never stops to think: each step is a click, a slider move or some typing,
// followed by a wait until the window shows the outcome. A step that shows an operator message, opens an
// unexpected window or takes longer than its time ends the tour as failed.
class CDemoTour : public QObject {
    Q_OBJECT
public:
    // Pictures' paths go to `out`, one a line, as they are written; nullptr keeps them quiet.
    CDemoTour(CVelmoraApp& app, const QString& dir, std::FILE* out = stdout);
    // Gives back the operator hooks it took.
    ~CDemoTour() override;
    CDemoTour(const CDemoTour&) = delete;
    CDemoTour& operator=(const CDemoTour&) = delete;

    // Makes the directory and the firmware file, takes the operator hooks and queues the first step. False,
    // with Error() saying why, when the directory cannot be used; nothing has happened then.
    bool Start();
    // Why Start refused, or which step failed and how; empty otherwise.
    QString Error() const { return m_szError; }
    // Paths of the pictures written so far, as printed.
    const QStringList& Pictures() const { return m_pictures; }
    // Where the tour saves the servo's parameters and where it finds its firmware file.
    QString ParameterPath() const;
    QString FirmwarePath() const;

signals:
    // The tour is over: 0 after its last step, 1 when a step failed. The main window has been shut down
    // (its workers stopped and joined, the port closed) by then.
    void finished(int exitCode);

private:
    struct CStep {
        CStep(QString stepName, std::function<void()> fnAct, std::function<bool()> fnDone,
              std::function<QString()> fnCheck = {}, QString pictureName = {}, int timeout = 5000)
            : name(std::move(stepName)),
              act(std::move(fnAct)),
              done(std::move(fnDone)),
              check(std::move(fnCheck)),
              picture(std::move(pictureName)),
              timeoutMs(timeout) {}

        QString name;
        std::function<void()> act;       // what the operator does; may open a modal dialog
        std::function<bool()> done;      // the window shows the outcome
        std::function<QString()> check;  // once done: why the outcome is wrong, or empty
        QString picture;                 // file name of the step's picture; empty for none
        int timeoutMs;
    };

    void BuildSteps();
    // The start-up dialog, Enter and Open; then the search, stopped once every servo answered, and a pick.
    void AddStartSteps();
    void AddSearchSteps();
    void AddRobotSteps();
    void AddProgramSteps();
    // SAVE of the parameters read back after WRITE.
    void AddSaveStep();
    void AddUpgradeSteps();

    void StartStep(std::size_t index);
    // Runs on a timer, in nested dialog loops too: answers file dialogs, notices failures, moves on.
    void Poll();
    void AnswerFileDialog(QFileDialog* dialog);
    bool SavePicture(const QString& name, QWidget* window);
    void Fail(const QString& reason);
    void Finish(int exitCode);
    qint64 StepElapsed() const { return m_stepClock.elapsed(); }

    CVelmoraApp& m_app;
    QString m_szDir;
    QDir m_dir;
    std::FILE* m_out;
    QString m_szError;
    QStringList m_pictures;
    std::vector<uint8_t> m_firmware;  // what the generated file holds from address 0x8000 on

    std::vector<CStep> m_steps;
    std::size_t m_nStep = 0;
    bool m_bActed = false;
    bool m_bFinished = false;
    QTimer m_timer;
    QElapsedTimer m_stepClock;

    // The path the next file dialog is answered with; the step that opens it sets it.
    QString m_szDialogAnswer;
    // The dialog last answered, and with what: should it stay open, it refused the answer.
    QPointer<QFileDialog> m_pAnsweredDialog;
    QString m_szAnswered;
    // A picture of the answered dialog, for a step whose outcome is the dialog itself.
    QPixmap m_dialogPicture;
    bool m_bGrabDialog = false;

    QStringList m_messages;  // operator messages not yet noticed
    bool m_bHooked = false;
    MessageHook m_previousMessageHook;
    QuitHook m_previousQuitHook;

    // Values the steps pass on: the servo picked, the P coefficient typed.
    QString m_szServoId;
    QString m_szNewP;
};
