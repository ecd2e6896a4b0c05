// Frames are taken in batches every 50 ms: at the 10 ms status poll that is a handful of rows per refresh,
// and a flash or a sweep never makes the GUI thread wait for the bus.
#include "BusMonitorWindow.h"

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "AtomicFile.h"
#include "BusFrameModel.h"
#include "BusRecorder.h"
#include "OperatorHooks.h"

namespace {

constexpr int kRefreshMs = 50;
// Frames copied per refresh: enough to catch up with a full ring in a few seconds without a long stall.
constexpr std::size_t kBatch = 20000;

}  // namespace

CBusMonitorWindow::CBusMonitorWindow(CBusRecorder& recorder, std::function<bool()> highByteFirst,
                                     QWidget* parent)
    : QWidget(parent, Qt::Window), m_recorder(recorder), m_fnHighByteFirst(std::move(highByteFirst)) {
    setWindowTitle(tr("Bus"));
    resize(900, 460);
    m_pModel = new CBusFrameModel(recorder.Capacity(), this);

    m_btnPause = new QPushButton(tr("Pause"), this);
    m_btnPause->setCheckable(true);
    m_btnClear = new QPushButton(tr("Clear"), this);
    m_editId = new QLineEdit(this);
    m_editId->setPlaceholderText(tr("all"));
    m_editId->setMaximumWidth(60);
    m_checkFollow = new QCheckBox(tr("Follow"), this);
    m_checkFollow->setChecked(true);
    m_btnSave = new QPushButton(tr("Save…"), this);

    auto* bar = new QHBoxLayout;
    bar->addWidget(m_btnPause);
    bar->addWidget(m_btnClear);
    bar->addWidget(new QLabel(tr("ID:"), this));
    bar->addWidget(m_editId);
    bar->addWidget(m_checkFollow);
    bar->addStretch(1);
    bar->addWidget(m_btnSave);

    m_pView = new QTableView(this);
    m_pView->setModel(m_pModel);
    m_pView->setShowGrid(false);
    m_pView->setWordWrap(false);
    m_pView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Fixed row heights keep a view of a hundred thousand rows from measuring each one.
    m_pView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_pView->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 2);
    m_pView->verticalHeader()->hide();
    m_pView->horizontalHeader()->setStretchLastSection(true);
    m_pView->setColumnWidth(CBusFrameModel::TimeColumn, 90);
    m_pView->setColumnWidth(CBusFrameModel::RateColumn, 70);
    m_pView->setColumnWidth(CBusFrameModel::DirectionColumn, 30);
    m_pView->setColumnWidth(CBusFrameModel::BytesColumn, 300);
    QFont mono(QStringLiteral("Monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    m_pView->setFont(mono);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_pView);

    connect(m_btnPause, &QPushButton::toggled, this, &CBusMonitorWindow::SetPaused);
    connect(m_btnClear, &QPushButton::clicked, this, &CBusMonitorWindow::ClearRows);
    connect(m_editId, &QLineEdit::textEdited, this, &CBusMonitorWindow::OnFilterEdited);
    connect(m_checkFollow, &QCheckBox::toggled, this, &CBusMonitorWindow::SetFollow);
    connect(m_btnSave, &QPushButton::clicked, this, &CBusMonitorWindow::OnSave);

    // What the ring holds already is shown at once.
    m_nNextSeq = 0;
    m_pTimer = new QTimer(this);
    connect(m_pTimer, &QTimer::timeout, this, &CBusMonitorWindow::Refresh);
    m_pTimer->start(kRefreshMs);
}

void CBusMonitorWindow::Refresh() {
    if (IsPaused() || !isVisible()) return;
    TakeFrames();
}

void CBusMonitorWindow::TakeFrames() {
    std::vector<CBusFrame> frames;
    m_nNextSeq = m_recorder.CopySince(m_nNextSeq, frames, kBatch);
    if (frames.empty()) return;
    m_pModel->SetHighByteFirst(m_fnHighByteFirst ? m_fnHighByteFirst() : true);
    m_pModel->Append(frames);
    if (m_checkFollow->isChecked()) m_pView->scrollToBottom();
}

void CBusMonitorWindow::SetPaused(bool paused) {
    if (m_btnPause->isChecked() != paused) m_btnPause->setChecked(paused);
    m_btnPause->setText(paused ? tr("Resume") : tr("Pause"));
}

bool CBusMonitorWindow::IsPaused() const {
    return m_btnPause->isChecked();
}

void CBusMonitorWindow::ClearRows() {
    m_nClearSeq = m_recorder.NextSeq();
    m_nNextSeq = m_nClearSeq;
    m_pModel->Clear();
}

void CBusMonitorWindow::SetIdFilter(const QString& text) {
    if (m_editId->text() != text) m_editId->setText(text);
    OnFilterEdited();
}

void CBusMonitorWindow::OnFilterEdited() {
    const QString text = m_editId->text().trimmed();
    bool ok = true;
    const int id = text.isEmpty() ? -1 : text.toInt(&ok, 0);
    const bool valid = ok && id >= -1 && id <= 254;
    m_editId->setStyleSheet(valid ? QString() : QStringLiteral("color: #b00000"));
    m_pModel->Clear();
    m_pModel->SetIdFilter(valid ? id : -1);
    // Rebuilt from the ring: the frames of the new ID that came before the filter changed show too.
    m_nNextSeq = m_nClearSeq;
    TakeFrames();
}

void CBusMonitorWindow::SetFollow(bool follow) {
    if (m_checkFollow->isChecked() != follow) m_checkFollow->setChecked(follow);
    if (follow) m_pView->scrollToBottom();
}

QString CBusMonitorWindow::SaveTo(const QString& path) const {
    std::string text;
    uint32_t rate = 0;
    for (int row = 0; row < m_pModel->rowCount(); ++row) {
        const uint32_t rowRate = m_pModel->RowRate(row);
        if (rate != 0 && rowRate != 0 && rowRate != rate)
            text += m_pModel->RateChangeText(row).toStdString() + '\n';
        if (rowRate != 0) rate = rowRate;
        text += m_pModel->RowText(row).toStdString() + '\n';
    }
    // The whole file at once, as the plot's data: a full disk leaves the old file, never a cut-off one.
    const CFileWriteResult result = WriteFileAtomically(QFile::encodeName(path).toStdString(), text);
    if (result.ok) return {};
    return QStringLiteral("Cannot save %1: %2").arg(path, QString::fromStdString(result.error));
}

void CBusMonitorWindow::OnSave() {
    const QString path = QFileDialog::getSaveFileName(this, tr("Save the bus frames"), QString(),
                                                      tr("Text files (*.txt);;All files (*)"));
    if (path.isEmpty()) return;
    const QString problem = SaveTo(path);
    if (!problem.isEmpty()) ShowMessage(this, problem);
}

int CBusMonitorWindow::RowCount() const {
    return m_pModel->rowCount();
}

QString CBusMonitorWindow::RowText(int row) const {
    return m_pModel->RowText(row);
}
