// Frames are taken in batches every 50 ms: at the 10 ms status poll that is a handful of rows per refresh,
// and a flash or a sweep never makes the GUI thread wait for the bus.
#include "app/BusMonitorWindow.h"

#include <QApplication>
#include <QCache>
#include <QCheckBox>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStaticText>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "app/BusFrameModel.h"
#include "link/AtomicFile.h"
#include "link/BusRecorder.h"
#include "ui/OperatorHooks.h"

namespace {

constexpr int kRefreshMs = 50;
// Frames copied per refresh: enough to catch up with a full ring in a few seconds without a long stall.
constexpr std::size_t kBatch = 20000;
// Laid-out cell texts kept: a few screens of rows.
constexpr int kKeptTexts = 4000;

// Draws each cell's text from a kept layout. Every refresh that adds rows repaints every row in view, and
// laying out and eliding the same texts anew was most of the window's cost at the 10 ms poll. The style
// still draws the background, the selection and the focus.
class CFrameCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        const QString text = cell.text;
        cell.text.clear();
        const QWidget* widget = cell.widget;
        const QStyle* style = widget ? widget->style() : QApplication::style();
        // A plain cell shows the view's own background, already painted.
        const bool plain = !(cell.state & (QStyle::State_Selected | QStyle::State_HasFocus)) &&
                           cell.backgroundBrush.style() == Qt::NoBrush &&
                           !(cell.features & QStyleOptionViewItem::Alternate);
        if (!plain) style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
        if (text.isEmpty()) return;
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QRect room = cell.rect.adjusted(margin, 0, -margin, 0);
        const QStaticText* laidOut = LaidOut(text, room.width(), cell.font);
        const QPalette::ColorGroup group = !(cell.state & QStyle::State_Enabled) ? QPalette::Disabled
                                           : (cell.state & QStyle::State_Active) ? QPalette::Active
                                                                                 : QPalette::Inactive;
        painter->save();
        painter->setPen(cell.palette.color(
            group, cell.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
        painter->setFont(cell.font);
        painter->setClipRect(room);
        const QSizeF size = laidOut->size();
        qreal left = room.left();
        if (cell.displayAlignment & Qt::AlignRight) left = room.right() + 1 - size.width();
        if (cell.displayAlignment & Qt::AlignHCenter) left = room.left() + (room.width() - size.width()) / 2;
        painter->drawStaticText(QPointF(left, room.top() + (room.height() - size.height()) / 2), *laidOut);
        painter->restore();
    }

private:
    // The text as shown in a cell `width` pixels wide: cut with an ellipsis when it does not fit.
    QStaticText* LaidOut(const QString& text, int width, const QFont& font) const {
        if (font != m_font) {
            m_laidOut.clear();
            m_font = font;
        }
        const QString key = QString::number(width) + QLatin1Char('\x1f') + text;
        if (QStaticText* kept = m_laidOut.object(key)) return kept;
        const QFontMetrics metrics(font);
        auto* laidOut = new QStaticText(metrics.elidedText(text, Qt::ElideRight, width));
        laidOut->setTextFormat(Qt::PlainText);
        m_laidOut.insert(key, laidOut);
        return laidOut;
    }

    mutable QCache<QString, QStaticText> m_laidOut{kKeptTexts};
    mutable QFont m_font;  // the layouts kept are for this font
};

}  // namespace

CBusMonitorWindow::CBusMonitorWindow(CBusRecorder& recorder, std::function<bool()> highByteFirst,
                                     QWidget* parent)
    : QWidget(parent, Qt::Window), m_recorder(recorder), m_fnHighByteFirst(std::move(highByteFirst)) {
    setWindowTitle(tr("Bus"));
    resize(900, 460);
    m_pModel = new CBusFrameModel(recorder.Capacity(), this);

    QHBoxLayout* bar = CreateBar();
    CreateView();

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

QHBoxLayout* CBusMonitorWindow::CreateBar() {
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
    return bar;
}

void CBusMonitorWindow::CreateView() {
    m_pView = new QTableView(this);
    m_pView->setModel(m_pModel);
    m_pView->setItemDelegate(new CFrameCellDelegate(m_pView));
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
    const QString path = ChooseFile(this, EFileKind::BusFrames);
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
