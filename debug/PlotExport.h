// The plot's context menu: "Save Data…" writes the poll's recording as CSV, "Save Picture…" the plot as PNG.
#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <string>

#include "link/Worker.h"

class CCurveRecording;
class CPIC;
class QMenu;
class QWidget;

// Files are written on a worker of their own, so a slow or full disk holds up neither the GUI nor the poll,
// and a failed write leaves the recording as it was for another try.
//
// Thread rules: everything here is for the GUI thread. The worker only formats and writes its own copy of
// the data, then hands its result back through one queued call.
class CPlotExport : public QObject {
    Q_OBJECT
public:
    enum class EKind { Data, Picture };
    // Asks for the file to write; empty when cancelled. Tests replace the file dialog with their own.
    using ChooseFileFn = std::function<QString(EKind)>;

    CPlotExport(CPIC& plot, const CCurveRecording& recording);
    // Waits for a write in progress: a file is never left behind half-written.
    ~CPlotExport() override;

    // The menu the plot shows on a right click, with one action per kind (object names "saveData" and
    // "savePicture").
    QMenu* CreateMenu(QWidget* pParent);
    void SetFileChooser(ChooseFileFn choose) { m_chooseFile = std::move(choose); }

    // Start a write of everything recorded since "Draw", or of the plot as it is shown now. False, and a
    // message, while an earlier write is still going.
    bool SaveData(const QString& path);
    bool SavePicture(const QString& path);
    bool IsSaving() const { return m_bSaving.load(); }
    // Returns once no write runs; the outcome has been shown then.
    void WaitForSave();

    // The plot as "Save Picture…" writes it: the control's own pixels, at its size.
    QImage PlotPicture() const;

signals:
    // After every write, once its outcome is known; message is empty on success.
    void saveFinished(bool ok, const QString& path, const QString& message);

private:
    void OnChoose(EKind kind);
    bool StartWrite(const QString& path, std::function<std::string()> produce);
    Q_INVOKABLE void FinishWrite(bool ok, const QString& path, const QString& error);

    CPIC& m_plot;
    const CCurveRecording& m_recording;
    ChooseFileFn m_chooseFile;
    CWorker m_writer;
    std::atomic<bool> m_bSaving{false};
};
