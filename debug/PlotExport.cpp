// Saving the plot's data and picture in the background, and the menu that offers it.
#include "debug/PlotExport.h"

#include <QBuffer>
#include <QMenu>

#include "debug/CurveRecording.h"
#include "debug/PIC.h"
#include "ui/OperatorHooks.h"

CPlotExport::CPlotExport(CPIC& plot, const CCurveRecording& recording)
    : m_plot(plot), m_recording(recording), m_saver(&plot) {
    setObjectName(QStringLiteral("plotExport"));
    connect(&m_saver, &CFileSaver::saveFinished, this, &CPlotExport::saveFinished);
    m_plot.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&m_plot, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        QMenu* menu = CreateMenu(&m_plot);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_plot.mapToGlobal(pos));
    });
}

CPlotExport::~CPlotExport() = default;

QMenu* CPlotExport::CreateMenu(QWidget* pParent) {
    auto* menu = new QMenu(pParent);
    QAction* data = menu->addAction(QStringLiteral("Save Data\u2026"), this, [this] { OnChoose(true); });
    data->setObjectName(QStringLiteral("saveData"));
    QAction* picture =
        menu->addAction(QStringLiteral("Save Picture\u2026"), this, [this] { OnChoose(false); });
    picture->setObjectName(QStringLiteral("savePicture"));
    return menu;
}

void CPlotExport::OnChoose(bool bData) {
    const QString path = ChooseFile(&m_plot, bData ? EFileKind::PlotData : EFileKind::PlotPicture);
    if (path.isEmpty()) return;
    if (bData)
        SaveData(path);
    else
        SavePicture(path);
}

bool CPlotExport::SaveData(const QString& path) {
    // The snapshot is taken here, so the file holds what was recorded when the operator asked.
    auto samples = std::make_shared<std::vector<CTimedSample>>(m_recording.Snapshot());
    return m_saver.Save(path, [samples] { return CurveCsv(*samples); });
}

bool CPlotExport::SavePicture(const QString& path) {
    const QImage picture = PlotPicture();
    return m_saver.Save(path, [picture] {
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

void CPlotExport::WaitForSave() {
    m_saver.WaitForSave();
}
