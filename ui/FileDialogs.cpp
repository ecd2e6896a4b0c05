// The real file dialogs, one per kind of file, each as its window has always shown it.
#include "ui/FileDialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <utility>

namespace {

// The static dialogs of the plot, the Servos window and the Bus window: the name gets the suffix the filter
// shows when the operator left it out.
QString StaticSave(QWidget* pParent, const QString& caption, const QString& filter, const char* suffix) {
    QString path = QFileDialog::getSaveFileName(pParent, caption, QString(), filter);
    const QString wanted = QString::fromLatin1(suffix);
    if (!path.isEmpty() && !wanted.isEmpty() && !path.endsWith(wanted, Qt::CaseInsensitive)) path += wanted;
    return path;
}

// The PROGRAM and UPGRADE pages' dialogs: a dialog object of their own, which adds the default suffix.
QString DialogObject(QWidget* pParent, const QString& filter, const char* suffix, bool bSave) {
    QFileDialog dialog(pParent, QString(), QString(), filter);
    dialog.setDefaultSuffix(QString::fromLatin1(suffix));
    dialog.setAcceptMode(bSave ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(bSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles().value(0);
}

QString ServosText(const char* text) {
    return QCoreApplication::translate("CServosWindow", text);
}

}  // namespace

QString ShowFileDialog(QWidget* pParent, EFileKind kind) {
    switch (kind) {
        case EFileKind::PlotData:
            return StaticSave(pParent, QString(), QStringLiteral("CSV Files (*.csv)"), ".csv");
        case EFileKind::PlotPicture:
            return StaticSave(pParent, QString(), QStringLiteral("PNG Images (*.png)"), ".png");
        case EFileKind::ParameterSave:
        case EFileKind::ParameterOpen:
            return DialogObject(pParent, QStringLiteral("Tavrio Files (*.dat)"), "dat",
                                kind == EFileKind::ParameterSave);
        case EFileKind::Firmware:
            return DialogObject(
                pParent, QCoreApplication::translate("ServoTest", "Hex Files (*.hex);;Bin Files (*.bin)"),
                "hex", false);
        case EFileKind::ServosData:
        case EFileKind::RecordingSave:
            return StaticSave(pParent, QString(), ServosText("CSV files (*.csv)"), ".csv");
        case EFileKind::ServosPicture:
            return StaticSave(pParent, QString(), ServosText("PNG images (*.png)"), ".png");
        case EFileKind::RecordingOpen:
            return QFileDialog::getOpenFileName(pParent, QString(), QString(),
                                                ServosText("CSV files (*.csv)"));
        case EFileKind::BusFrames:
            return StaticSave(
                pParent, QCoreApplication::translate("CBusMonitorWindow", "Save the bus frames"),
                QCoreApplication::translate("CBusMonitorWindow", "Text files (*.txt);;All files (*)"), "");
    }
    return {};
}
