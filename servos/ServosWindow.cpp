// The Servos window's layout, its list of servos, the poll's life and the table.
#include "servos/ServosWindow.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "link/AlarmWords.h"
#include "link/StatusCsv.h"
#include "link/StatusSpan.h"
#include "servos/ServoPlot.h"
#include "ui/FileSaver.h"
#include "ui/OperatorHooks.h"

namespace {

using Clock = std::chrono::steady_clock;

// The table, the labels and the plot follow the readings at this pace, not at every reading.
constexpr int kRefreshMs = 33;
const QColor kGrey(150, 150, 150);
const QColor kAlarm(255, 200, 200);

const char* const kHolderWords[] = {"a firmware transfer", "an all-rate search", "a PROGRAM page sequence"};

}  // namespace

CServosWindow::CServosWindow(CServoUsb& usb, QWidget* parent)
    : QWidget(parent, Qt::Window), m_usb(usb), m_poller(usb) {
    setWindowTitle(tr("Servos"));
    resize(920, 680);
    m_pSaver = new CFileSaver(this);
    CreateControls();
    ConnectControls();
    m_pRefresh = new QTimer(this);
    connect(m_pRefresh, &QTimer::timeout, this, &CServosWindow::Refresh);
    m_szState = tr("No servos: search the bus, or type IDs");
    UpdateButtons();
}

CServosWindow::~CServosWindow() {
    StopBusWork();
}

void CServosWindow::CreateControls() {
    QHBoxLayout* top = CreateIdBar();
    CreateTable();
    QHBoxLayout* commands = CreateCommandBar();

    m_pPlot = new CServoPlot(this);
    m_pPlot->SetRoster(&m_roster);
    m_pPlot->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_pTable);
    split->addWidget(m_pPlot);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 3);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(commands);
    layout->addWidget(split, 1);
    layout->addWidget(CreateTeachBar());
    NameControls();
}

QHBoxLayout* CServosWindow::CreateIdBar() {
    m_editIds = new QLineEdit(this);
    m_editIds->setPlaceholderText(tr("1,2,3"));
    m_editIds->setMaximumWidth(200);
    m_btnUseIds = new QPushButton(tr("Use IDs"), this);
    m_btnFound = new QPushButton(tr("Servos found"), this);
    m_labelRate = new QLabel(this);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(tr("IDs:"), this));
    top->addWidget(m_editIds);
    top->addWidget(m_btnUseIds);
    top->addWidget(m_btnFound);
    top->addStretch(1);
    top->addWidget(m_labelRate);
    return top;
}

void CServosWindow::CreateTable() {
    m_pTable = new QTableWidget(0, ColumnCount, this);
    m_pTable->setHorizontalHeaderLabels({tr("ID"), tr("Position"), tr("Speed"), tr("Load"), tr("Voltage"),
                                         tr("Temperature"), tr("Alarms"), tr("Torque"), tr("Chosen")});
    m_pTable->verticalHeader()->hide();
    m_pTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_pTable->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_pTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->setSelectionMode(QAbstractItemView::NoSelection);
}

QHBoxLayout* CServosWindow::CreateCommandBar() {
    m_btnHold = new QPushButton(tr("Hold all (Esc)"), this);
    m_btnHold->setToolTip(tr("Each servo's goal becomes where it is now"));
    m_btnTorqueOff = new QPushButton(tr("All torque off"), this);
    m_btnTorqueOff->setToolTip(tr("One broadcast at each rate listed: every servo goes limp"));
    m_btnTorqueOff->setStyleSheet(QStringLiteral(
        "QPushButton { background: #c62828; color: white; font-weight: bold; padding: 4px 14px; }"
        "QPushButton:disabled { background: #e0a0a0; }"));
    m_comboQuantity = new QComboBox(this);
    for (EQuantity q :
         {EQuantity::Position, EQuantity::Speed, EQuantity::Load, EQuantity::Voltage, EQuantity::Temperature})
        m_comboQuantity->addItem(CServoPlot::QuantityName(q), static_cast<int>(q));
    m_labelState = new QLabel(this);
    auto* commands = new QHBoxLayout;
    commands->addWidget(m_btnHold);
    commands->addWidget(m_btnTorqueOff);
    commands->addSpacing(24);
    commands->addWidget(new QLabel(tr("Plot:"), this));
    commands->addWidget(m_comboQuantity);
    commands->addStretch(1);
    commands->addWidget(m_labelState);
    return commands;
}

void CServosWindow::NameControls() {
    const std::pair<QObject*, const char*> names[] = {
        {m_editIds, "ids"},           {m_btnUseIds, "useIds"},          {m_btnFound, "foundServos"},
        {m_labelRate, "rate"},        {m_labelState, "state"},          {m_pTable, "servoTable"},
        {m_btnHold, "holdAll"},       {m_btnTorqueOff, "allTorqueOff"}, {m_comboQuantity, "quantity"},
        {m_pPlot, "servoPlot"},       {m_spinPeriod, "period"},         {m_btnRecord, "record"},
        {m_comboSpeed, "speed"},      {m_spinLoops, "loops"},           {m_btnPlay, "play"},
        {m_btnOpen, "openRecording"}, {m_btnSave, "saveRecording"},     {m_labelTeach, "teach"}};
    for (const auto& [control, name] : names) control->setObjectName(QLatin1String(name));
}

QWidget* CServosWindow::CreateTeachBar() {
    auto* bar = new QWidget(this);
    m_spinPeriod = new QSpinBox(bar);
    m_spinPeriod->setRange(kShortestTeachPeriodMs, kLongestTeachPeriodMs);
    m_spinPeriod->setValue(kDefaultTeachPeriodMs);
    m_spinPeriod->setSuffix(tr(" ms"));
    m_btnRecord = new QPushButton(tr("Record"), bar);
    m_btnRecord->setToolTip(tr("Torque off on the chosen servos, then their positions until Stop"));
    m_comboSpeed = new QComboBox(bar);
    for (double factor : {0.25, 0.5, 0.75, 1.0, 1.5, 2.0, 3.0, 4.0})
        m_comboSpeed->addItem(QStringLiteral("%1\u00D7").arg(factor), factor);
    m_comboSpeed->setCurrentIndex(3);
    m_spinLoops = new QSpinBox(bar);
    m_spinLoops->setRange(1, kMostLoops);
    m_btnPlay = new QPushButton(tr("Play"), bar);
    m_btnOpen = new QPushButton(tr("Open\u2026"), bar);
    m_btnSave = new QPushButton(tr("Save\u2026"), bar);
    m_labelTeach = new QLabel(bar);
    m_labelTeach->setWordWrap(true);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new QLabel(tr("Teach: every"), bar));
    row->addWidget(m_spinPeriod);
    row->addWidget(m_btnRecord);
    row->addSpacing(16);
    row->addWidget(new QLabel(tr("Speed"), bar));
    row->addWidget(m_comboSpeed);
    row->addWidget(new QLabel(tr("Loops"), bar));
    row->addWidget(m_spinLoops);
    row->addWidget(m_btnPlay);
    row->addSpacing(16);
    row->addWidget(m_btnOpen);
    row->addWidget(m_btnSave);
    row->addWidget(m_labelTeach, 1);
    return bar;
}

void CServosWindow::ConnectControls() {
    connect(m_btnUseIds, &QPushButton::clicked, this, [this] { UseIds(m_editIds->text()); });
    connect(m_editIds, &QLineEdit::returnPressed, this, [this] { UseIds(m_editIds->text()); });
    connect(m_btnFound, &QPushButton::clicked, this, &CServosWindow::UseFoundServos);
    connect(m_btnHold, &QPushButton::clicked, this, &CServosWindow::HoldAll);
    connect(m_btnTorqueOff, &QPushButton::clicked, this, &CServosWindow::AllTorqueOff);
    connect(m_comboQuantity, &QComboBox::currentIndexChanged, this,
            [this] { SetQuantity(static_cast<EQuantity>(m_comboQuantity->currentData().toInt())); });
    connect(m_pTable, &QTableWidget::itemChanged, this, &CServosWindow::OnItemChanged);
    connect(m_pPlot, &QWidget::customContextMenuRequested, this, &CServosWindow::OnPlotMenu);
    connect(m_btnRecord, &QPushButton::clicked, this,
            [this] { IsRecording() ? StopRecording() : (void)StartRecording(); });
    connect(m_btnPlay, &QPushButton::clicked, this,
            [this] { IsPlaying() ? StopPlaying() : (void)StartPlaying(); });
    connect(m_btnOpen, &QPushButton::clicked, this, [this] { Choose(EFileKind::RecordingOpen); });
    connect(m_btnSave, &QPushButton::clicked, this, [this] { Choose(EFileKind::RecordingSave); });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &CServosWindow::OnEscape);
}

void CServosWindow::SetFoundServos(const std::vector<CServoAtRate>& servos) {
    m_found = servos;
    if (!m_bTyped) SetServos(m_found);
}

void CServosWindow::UseFoundServos() {
    m_bTyped = false;
    SetServos(m_found);
}

QString CServosWindow::UseIds(const QString& text) {
    std::string problem;
    const auto ids = ParseIdList(text.trimmed().toStdString(), &problem);
    if (!ids) {
        const QString why = tr("Bad ID list %1: %2").arg(text, QString::fromStdString(problem));
        ShowMessage(this, why);
        return why;
    }
    std::vector<CServoAtRate> servos;
    for (uint8_t id : *ids) servos.push_back({id, m_nBaud});
    m_bTyped = true;
    SetServos(servos);
    return {};
}

void CServosWindow::SetServos(const std::vector<CServoAtRate>& servos) {
    // A recording or a playback goes on with the servos it began with.
    m_roster.SetServos(servos, m_nBaud);
    RebuildTable();
    UpdateTraces();
    RestartPolling();
}

void CServosWindow::SetPort(bool open, int baud) {
    const bool rateChanged = baud != m_nBaud;
    m_bPortOpen = open;
    m_nBaud = baud;
    if (open) m_bPortLost = false;
    if (!open) StopBusWork();
    if (rateChanged) {
        // Typed IDs are looked for at the port's rate.
        if (m_bTyped) {
            std::vector<CServoAtRate> servos = m_roster.Servos();
            for (CServoAtRate& servo : servos) servo.baud = baud;
            m_roster.SetServos(servos, baud);
        } else {
            m_roster.SetServos(m_found, baud);
        }
        RebuildTable();
        UpdateTraces();
    }
    RestartPolling();
}

void CServosWindow::OnPortLost() {
    m_bPortLost = true;
    m_bPortOpen = false;
    StopBusWork();
    m_szState = tr("Port lost: polling stopped");
    Refresh();
}

void CServosWindow::SetBusHeld(EBusHolder holder, bool held) {
    const int bit = static_cast<int>(holder);
    m_nHolders = held ? m_nHolders | bit : m_nHolders & ~bit;
    if (held) {
        // The holder may keep the bus for minutes: a recording or a playback would only stall behind it.
        StopRecording();
        StopPlaying();
    }
    UpdatePolling();
}

QString CServosWindow::BusBlocker() const {
    if (IsRecording()) return tr("Stop the recording in the Servos window first");
    if (IsPlaying()) return tr("Stop the playback in the Servos window first");
    return {};
}

void CServosWindow::StopBusWork() {
    StopRecording();
    StopPlaying();
    m_poller.Stop();
    ++m_nGeneration;  // readings still queued belong to the poll that ended
    UpdateButtons();
}

void CServosWindow::RestartPolling() {
    m_poller.Stop();
    ++m_nGeneration;
    UpdatePolling();
}

void CServosWindow::UpdatePolling() {
    const std::vector<uint8_t> ids = m_roster.PolledIds();
    const bool wanted = isVisible() && m_bPortOpen && !m_bPortLost && !ids.empty();
    if (!wanted) {
        m_poller.Stop();
        m_pRefresh->stop();
    } else if (m_nHolders != 0) {
        m_poller.Pause();
    } else if (m_poller.IsRunning()) {
        m_poller.Resume();
    } else {
        const uint64_t generation = m_nGeneration;
        CRoundRobinPoller::CEvents events;
        events.reading = [this, generation](const CPollReading& reading) {
            CReport report;
            report.generation = generation;
            report.reading = reading;
            Post(std::move(report));
        };
        events.ended = [this, generation](EPollEnd end) {
            CReport report;
            report.kind = CReport::EKind::PollEnded;
            report.generation = generation;
            report.pollEnd = end;
            Post(std::move(report));
        };
        m_poller.Start(ids, std::move(events));
    }
    if (wanted) m_pRefresh->start(kRefreshMs);
    if (m_bPortLost)
        m_szState = tr("Port lost: polling stopped");
    else if (!m_bPortOpen)
        m_szState = tr("Port closed");
    else if (m_roster.Rows().empty())
        m_szState = tr("No servos: search the bus, or type IDs");
    else if (ids.empty())
        m_szState = tr("No servo at the port's rate");
    else if (m_nHolders != 0) {
        QStringList holders;
        for (int i = 0; i < 3; ++i)
            if (m_nHolders & (1 << i)) holders << QLatin1String(kHolderWords[i]);
        m_szState = tr("Paused: %1 holds the bus").arg(holders.join(tr(" and ")));
    } else
        m_szState = tr("Polling");
    UpdateButtons();
    Refresh();
}

void CServosWindow::TakeReports() {
    // A report's handling may stop a worker and take its last reports at once (a lost port ends a
    // recording): those join the same queue behind the ones already taken, so all are handled in order.
    for (CReport& report : m_reports.Take()) m_pendingReports.push_back(std::move(report));
    while (!m_pendingReports.empty()) {
        CReport report = std::move(m_pendingReports.front());
        m_pendingReports.pop_front();
        switch (report.kind) {
            case CReport::EKind::Reading:
                if (report.generation == m_nGeneration) m_roster.Add(report.reading);
                break;
            case CReport::EKind::PollEnded:
                if (report.generation != m_nGeneration) break;
                m_poller.Stop();
                if (report.pollEnd == EPollEnd::PortLost) {
                    OnPortLost();
                } else {
                    m_szState = tr("Port closed: polling stopped");
                    UpdateButtons();
                }
                break;
            case CReport::EKind::RecordRow:
                m_recording.rows.push_back(std::move(report.row));
                break;
            case CReport::EKind::RecordEnded:
                if (report.text.empty())
                    FinishRecording(report.tally);
                else
                    ShowTeach(QString::fromStdString(report.text));
                m_recorder.Join();
                UpdateButtons();
                break;
            case CReport::EKind::PlayNote:
                ShowTeach(QString::fromStdString(report.text));
                break;
            case CReport::EKind::PlayEnded:
                m_player.Join();
                FinishPlaying(report.play);
                UpdateButtons();
                break;
        }
    }
}

void CServosWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    UpdatePolling();
}

void CServosWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Nobody watches: the bus is left to the pages. A recording or a playback goes on.
    m_poller.Stop();
    ++m_nGeneration;
    m_pRefresh->stop();
}

void CServosWindow::RebuildTable() {
    m_bFilling = true;
    m_pTable->setRowCount(static_cast<int>(m_roster.Rows().size()));
    for (int row = 0; row < m_pTable->rowCount(); ++row) {
        for (int column = 0; column < ColumnCount; ++column) {
            auto* item = new QTableWidgetItem;
            item->setFlags(Qt::ItemIsEnabled);
            if (column == TorqueColumn || column == ChosenColumn)
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
            m_pTable->setItem(row, column, item);
        }
        FillRow(row);
    }
    m_bFilling = false;
}

void CServosWindow::FillRow(int index) {
    const CRosterRow& row = m_roster.Rows()[static_cast<std::size_t>(index)];
    const auto set = [&](int column, const QString& text) {
        QTableWidgetItem* item = m_pTable->item(index, column);
        if (item->text() != text) item->setText(text);
        const QColor foreground = !row.polled || row.silent ? kGrey : QColor(Qt::black);
        if (item->foreground().color() != foreground) item->setForeground(foreground);
    };
    set(IdColumn, row.polled ? QString::number(row.id) : tr("%1 (%2 baud)").arg(row.id).arg(row.baud));
    // The rate this servo's readings reach, where the top line gives the mean.
    const QString rate =
        row.polled && m_poller.IsRunning()
            ? tr("%1 readings a second")
                  .arg(std::lround(m_roster.RateHz(row.id, std::chrono::steady_clock::now())))
            : QString();
    QTableWidgetItem* idItem = m_pTable->item(index, IdColumn);
    if (idItem->toolTip() != rate) idItem->setToolTip(rate);
    const bool values = row.polled && row.answered;
    set(PositionColumn, values ? QString::number(row.sample.position) : QString());
    set(SpeedColumn, values ? QString::number(row.sample.speed) : QString());
    set(LoadColumn, values ? QString::number(row.sample.load) : QString());
    set(VoltageColumn, values ? QString::fromStdString(VoltageText(row.sample.voltage)) : QString());
    set(TemperatureColumn,
        values ? QString::fromStdString(TemperatureText(row.sample.temperature)) : QString());
    QString alarms;
    if (!row.polled)
        alarms = tr("other rate");
    else if (row.silent)
        alarms = tr("no answer");
    else if (values)
        alarms = QString::fromStdString(SampleAlarmNames(row.error, row.sample, row.limits));
    set(AlarmsColumn, alarms);
    QTableWidgetItem* alarmItem = m_pTable->item(index, AlarmsColumn);
    const QBrush alarmBrush = values && !row.silent && row.error != 0 ? QBrush(kAlarm) : QBrush();
    if (alarmItem->background() != alarmBrush) alarmItem->setBackground(alarmBrush);
    const Qt::CheckState torque = row.torque && *row.torque ? Qt::Checked : Qt::Unchecked;
    QTableWidgetItem* torqueItem = m_pTable->item(index, TorqueColumn);
    if (torqueItem->checkState() != torque) torqueItem->setCheckState(torque);
    set(TorqueColumn, !row.torque ? QStringLiteral("?") : *row.torque ? tr("on") : tr("off"));
    QTableWidgetItem* chosenItem = m_pTable->item(index, ChosenColumn);
    const Qt::CheckState chosen = row.chosen ? Qt::Checked : Qt::Unchecked;
    if (chosenItem->checkState() != chosen) chosenItem->setCheckState(chosen);
}

void CServosWindow::Refresh() {
    m_bFilling = true;
    for (int row = 0; row < m_pTable->rowCount(); ++row) FillRow(row);
    m_bFilling = false;
    const QString rate = RateText();
    if (m_labelRate->text() != rate) m_labelRate->setText(rate);
    if (m_labelState->text() != m_szState) m_labelState->setText(m_szState);
    m_pPlot->update();
}

QString CServosWindow::RateText() const {
    const std::size_t polled = m_roster.PolledIds().size();
    if (polled == 0 || !m_poller.IsRunning()) return {};
    return tr("%1 servos \u00B7 %2 Hz each \u00B7 bus limit %3 Hz")
        .arg(polled)
        .arg(std::lround(m_roster.MeanRateHz(Clock::now())))
        .arg(std::lround(m_poller.BusLimitHz()));
}

QString CServosWindow::StateText() const {
    return m_szState;
}

void CServosWindow::OnItemChanged(QTableWidgetItem* item) {
    if (m_bFilling) return;
    const std::size_t index = static_cast<std::size_t>(item->row());
    if (index >= m_roster.Rows().size()) return;
    const uint8_t id = m_roster.Rows()[index].id;
    const bool checked = item->checkState() == Qt::Checked;
    if (item->column() == ChosenColumn) SetChosen(id, checked);
    if (item->column() == TorqueColumn) SetTorque(id, checked);
}

void CServosWindow::SetChosen(uint8_t id, bool chosen) {
    m_roster.SetChosen(id, chosen);
    UpdateTraces();
    Refresh();
}

void CServosWindow::UpdateTraces() {
    std::vector<CServoPlot::CTrace> traces;
    const auto& rows = m_roster.Rows();
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].polled && rows[i].chosen) traces.push_back({rows[i].id, CServoPlot::TraceColour(i)});
    m_pPlot->SetTraces(std::move(traces));
}

void CServosWindow::SetQuantity(EQuantity quantity) {
    const int index = m_comboQuantity->findData(static_cast<int>(quantity));
    if (m_comboQuantity->currentIndex() != index) m_comboQuantity->setCurrentIndex(index);
    m_pPlot->SetQuantity(quantity);
}

void CServosWindow::UpdateButtons() {
    const bool busFree = m_bPortOpen && !m_bPortLost && m_nHolders == 0;
    const bool teaching = IsRecording() || IsPlaying();
    m_btnHold->setEnabled(busFree && !IsRecording());
    m_btnTorqueOff->setEnabled(busFree);
    m_btnRecord->setEnabled(busFree && !IsPlaying());
    m_btnRecord->setText(IsRecording() ? tr("Stop") : tr("Record"));
    m_btnPlay->setEnabled(busFree && !IsRecording());
    m_btnPlay->setText(IsPlaying() ? tr("Stop") : tr("Play"));
    m_btnOpen->setEnabled(!teaching);
    m_btnUseIds->setEnabled(!teaching);
    m_btnFound->setEnabled(!teaching);
    m_spinPeriod->setEnabled(!teaching);
}

void CServosWindow::OnPlotMenu(const QPoint& at) {
    auto* menu = new QMenu(m_pPlot);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(tr("Save Data\u2026"), this, [this] { Choose(EFileKind::ServosData); })
        ->setObjectName(QStringLiteral("saveData"));
    menu->addAction(tr("Save Picture\u2026"), this, [this] { Choose(EFileKind::ServosPicture); })
        ->setObjectName(QStringLiteral("savePicture"));
    menu->popup(m_pPlot->mapToGlobal(at));
}
