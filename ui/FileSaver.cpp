// One background write at a time, its result back on the GUI thread.
#include "ui/FileSaver.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QWidget>

#include "link/AtomicFile.h"
#include "ui/OperatorHooks.h"

CFileSaver::CFileSaver(QWidget* owner) : QObject(owner), m_pOwner(owner) {}

CFileSaver::~CFileSaver() {
    m_writer.Join();
}

bool CFileSaver::Save(const QString& path, std::function<std::string()> produce) {
    if (m_bSaving) {
        ShowMessage(m_pOwner->window(), QStringLiteral("Still saving the previous file"));
        return false;
    }
    // The previous writer has handed back its result and is returning, if not gone.
    m_writer.Join();
    m_bSaving = true;
    const std::string file = QFile::encodeName(path).toStdString();
    m_writer.Start([this, path, file, produce = std::move(produce)](std::stop_token, unsigned) {
        const CFileWriteResult result = WriteFileAtomically(file, produce());
        // Never a blocking call: the GUI thread may be waiting for this thread to end.
        m_results.Post({result.ok, path, QString::fromStdString(result.error)});
    });
    return true;
}

void CFileSaver::TakeResults() {
    for (const CWriteDone& done : m_results.Take()) FinishWrite(done);
}

void CFileSaver::FinishWrite(const CWriteDone& done) {
    m_writer.Join();
    m_bSaving = false;
    const QString message =
        done.ok ? QString() : QStringLiteral("Cannot save %1: %2").arg(done.path, done.error);
    if (!done.ok) ShowMessage(m_pOwner->window(), message);
    emit saveFinished(done.ok, done.path, message);
}

void CFileSaver::WaitForSave() {
    while (m_bSaving) {
        m_writer.Join();
        // The result is queued on this thread; take it so the outcome is shown before returning.
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
}
