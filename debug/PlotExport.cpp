// Saving the plot's data and picture in the background, and the menu that offers it.
#include "debug/PlotExport.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QMenu>

#include "debug/CurveRecording.h"
#include "debug/PIC.h"
#include "link/AtomicFile.h"
#include "ui/OperatorHooks.h"

CPlotExport::CPlotExport(CPIC& plot, const CCurveRecording& recording)
    : m_plot(plot), m_recording(recording) {
    setObjectName(QStringLiteral("plotExport"));
    m_plot.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&m_plot, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        QMenu* menu = CreateMenu(&m_plot);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_plot.mapToGlobal(pos));
    });
}

CPlotExport::~CPlotExport() {
    m_writer.Join();
}

QMenu* CPlotExport::CreateMenu(QWidget* pParent) {
    auto* menu = new QMenu(pParent);
    QAction* data =
        menu->addAction(QStringLiteral("Save Data\u2026"), this, [this] { OnChoose(EKind::Data); });
    data->setObjectName(QStringLiteral("saveData"));
    QAction* picture =
        menu->addAction(QStringLiteral("Save Picture\u2026"), this, [this] { OnChoose(EKind::Picture); });
    picture->setObjectName(QStringLiteral("savePicture"));
    return menu;
}

void CPlotExport::OnChoose(EKind kind) {
    QString path;
    if (m_chooseFile) {
        path = m_chooseFile(kind);
    } else {
        const bool data = kind == EKind::Data;
        path = QFileDialog::getSaveFileName(
            &m_plot, QString(), QString(),
            data ? QStringLiteral("CSV Files (*.csv)") : QStringLiteral("PNG Images (*.png)"));
        const QString suffix = data ? QStringLiteral(".csv") : QStringLiteral(".png");
        if (!path.isEmpty() && !path.endsWith(suffix, Qt::CaseInsensitive)) path += suffix;
    }
    if (path.isEmpty()) return;
    if (kind == EKind::Data)
        SaveData(path);
    else
        SavePicture(path);
}

bool CPlotExport::SaveData(const QString& path) {
    // The snapshot is taken here, so the file holds what was recorded when the operator asked.
    auto samples = std::make_shared<std::vector<CTimedSample>>(m_recording.Snapshot());
    return StartWrite(path, [samples] { return CurveCsv(*samples); });
}

bool CPlotExport::SavePicture(const QString& path) {
    const QImage picture = PlotPicture();
    return StartWrite(path, [picture] {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "PNG");
        return png.toStdString();
    });
}

QImage CPlotExport::PlotPicture() const {
    return m_plot.grab().toImage();
}

bool CPlotExport::StartWrite(const QString& path, std::function<std::string()> produce) {
    if (m_bSaving) {
        ShowMessage(m_plot.window(), QStringLiteral("Still saving the previous file"));
        return false;
    }
    // The previous writer has handed back its result and is returning, if not gone.
    m_writer.Join();
    m_bSaving = true;
    const std::string file = QFile::encodeName(path).toStdString();
    m_writer.Start([this, path, file, produce = std::move(produce)](std::stop_token, unsigned) {
        const CFileWriteResult result = WriteFileAtomically(file, produce());
        // Never a blocking call: the GUI thread may be waiting for this thread to end.
        QMetaObject::invokeMethod(this, "FinishWrite", Qt::QueuedConnection, Q_ARG(bool, result.ok),
                                  Q_ARG(QString, path), Q_ARG(QString, QString::fromStdString(result.error)));
    });
    return true;
}

void CPlotExport::FinishWrite(bool ok, const QString& path, const QString& error) {
    m_writer.Join();
    m_bSaving = false;
    const QString message = ok ? QString() : QStringLiteral("Cannot save %1: %2").arg(path, error);
    if (!ok) ShowMessage(m_plot.window(), message);
    emit saveFinished(ok, path, message);
}

void CPlotExport::WaitForSave() {
    while (m_bSaving) {
        m_writer.Join();
        // The result is queued on this thread; take it so the outcome is shown before returning.
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
}
