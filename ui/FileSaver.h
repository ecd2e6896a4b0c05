// Saving a window's files (plot data, plot picture, recordings) through the shared whole-file
// writer, on a worker of its own, so a slow or full disk holds up neither the window nor the poll.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <string>

#include "link/Worker.h"
#include "ui/GuiHandOff.h"

class QWidget;

// Thread rules: GUI thread, but for the worker, which only produces and writes its bytes and hands its
// result back through one queued call.
class CFileSaver : public QObject {
    Q_OBJECT
public:
    // owner: its parent; a failure ("Cannot save PATH: cause") is shown over the owner's window.
    explicit CFileSaver(QWidget* owner);
    // Waits for a write in progress: a file is never left behind half-written.
    ~CFileSaver() override;

    // Starts writing what produce() gives (called on the worker) to path; false, and a message, while an
    // earlier write is still going.
    bool Save(const QString& path, std::function<std::string()> produce);
    bool IsSaving() const { return m_bSaving.load(); }
    // Returns once no write runs; its outcome has been shown then.
    void WaitForSave();

signals:
    // After every write, once its outcome is known; message is empty on success.
    void saveFinished(bool ok, const QString& path, const QString& message);

private:
    struct CWriteDone {
        bool ok;
        QString path;
        QString error;
    };
    Q_INVOKABLE void TakeResults();
    void FinishWrite(const CWriteDone& done);

    QWidget* m_pOwner;
    CGuiHandOff<CWriteDone> m_results{this, HAND_OFF_METHOD(CFileSaver, TakeResults)};
    CWorker m_writer;
    std::atomic<bool> m_bSaving{false};
};
