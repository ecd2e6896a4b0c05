// The step response window: its fields and buttons, the run on a worker, and the plot of the last runs.
#include "debug/StepWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "debug/StepPlotScale.h"

namespace {

// Trace colours in the order of the runs; the newest is drawn bold whatever its colour.
const QColor kColours[] = {QColor(0, 90, 200), QColor(210, 40, 40), QColor(0, 150, 60), QColor(150, 60, 180),
                           QColor(220, 130, 0)};

QString Legend(const CCoefficients& c, const CStepMetrics& m) {
    const QString settling = m.settlingMs ? QStringLiteral("%1 ms").arg(std::lround(*m.settlingMs))
                                          : QStringLiteral("not settled");
    return QStringLiteral("V%1 P%2 D%3 I%4 PUNCH%5 DB%6/%7: %8 %, %9")
        .arg(c.Get("V"))
        .arg(c.Get("P"))
        .arg(c.Get("D"))
        .arg(c.Get("I"))
        .arg(c.Get("PUNCH"))
        .arg(c.Get("CW_DEAD_BAND"))
        .arg(c.Get("CCW_DEAD_BAND"))
        .arg(m.overshootPercent, 0, 'f', 1)
        .arg(settling);
}

QString Number(double value) {
    return QString::number(value, 'g', 6);
}

}  // namespace

CStepPlot::CStepPlot(QWidget* parent) : QWidget(parent) {
    setMinimumSize(480, 280);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CStepPlot::SetTraces(std::vector<CTrace> traces) {
    m_traces = std::move(traces);
    update();
}

// Where the plot draws and how it maps run time and position onto it.
struct CStepPlot::CFrame {
    QRectF area;
    CStepScale scale;
    double X(double ms) const { return scale.time.Map(ms, area.left(), area.right()); }
    double Y(double position) const { return scale.position.Map(position, area.bottom(), area.top()); }
};

void CStepPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics metrics = p.fontMetrics();
    const int left = metrics.horizontalAdvance(QStringLiteral("00000")) + 8;
    const int bottom = metrics.height() * 2 + 6;
    // Room on the right for half the last time label, which is centred on the frame's edge.
    const int right = metrics.horizontalAdvance(QStringLiteral("00000")) / 2 + 6;
    std::vector<CStepTraceSpan> spans;
    for (const CTrace& t : m_traces) spans.push_back({&t.samples, t.start, t.target});
    const CFrame frame{QRectF(left, 8, width() - left - right, height() - bottom - 8), ScaleFor(spans)};

    DrawGrid(p, frame, metrics);
    if (m_traces.empty()) return;
    DrawTarget(p, frame);
    DrawTraces(p, frame);
    DrawLegend(p, frame, metrics);
}

void CStepPlot::DrawGrid(QPainter& p, const CFrame& frame, const QFontMetrics& metrics) const {
    const QRectF& area = frame.area;
    const CStepScale& scale = frame.scale;
    p.setPen(QPen(QColor(215, 215, 215), 1, Qt::DashLine));
    p.setFont(font());
    for (double t = scale.time.low; t <= scale.time.high + 1e-9; t += scale.time.tick) {
        p.setPen(QPen(QColor(215, 215, 215), 1, Qt::DashLine));
        p.drawLine(QPointF(frame.X(t), area.top()), QPointF(frame.X(t), area.bottom()));
        p.setPen(Qt::black);
        const QString label = Number(t);
        p.drawText(QPointF(frame.X(t) - metrics.horizontalAdvance(label) / 2.0,
                           area.bottom() + metrics.ascent() + 3),
                   label);
    }
    for (double v = scale.position.low; v <= scale.position.high + 1e-9; v += scale.position.tick) {
        p.setPen(QPen(QColor(215, 215, 215), 1, Qt::DashLine));
        p.drawLine(QPointF(area.left(), frame.Y(v)), QPointF(area.right(), frame.Y(v)));
        p.setPen(Qt::black);
        const QString label = Number(v);
        p.drawText(QPointF(area.left() - metrics.horizontalAdvance(label) - 4,
                           frame.Y(v) + metrics.ascent() / 2.0 - 1),
                   label);
    }
    p.drawText(
        QPointF(area.center().x() - metrics.horizontalAdvance(tr("ms after the step")) / 2.0, height() - 4),
        tr("ms after the step"));
    p.setPen(QPen(Qt::black, 1));
    p.drawRect(area);
}

void CStepPlot::DrawTarget(QPainter& p, const CFrame& frame) const {
    // The newest run's target and its settling band.
    const CTrace& newest = m_traces.back();
    p.setPen(QPen(QColor(90, 90, 90), 1, Qt::DashLine));
    p.drawLine(QPointF(frame.area.left(), frame.Y(newest.target)),
               QPointF(frame.area.right(), frame.Y(newest.target)));
    p.setPen(QPen(QColor(160, 160, 160), 1, Qt::DotLine));
    for (const int side : {-1, 1}) {
        const double band = frame.Y(newest.target + side * newest.band);
        p.drawLine(QPointF(frame.area.left(), band), QPointF(frame.area.right(), band));
    }
}

void CStepPlot::DrawTraces(QPainter& p, const CFrame& frame) const {
    p.setClipRect(frame.area);
    for (std::size_t i = 0; i < m_traces.size(); ++i) {
        const CTrace& t = m_traces[i];
        if (t.samples.empty()) continue;
        QPainterPath path(QPointF(frame.X(0), frame.Y(t.start)));
        for (const CStepSample& s : t.samples) path.lineTo(QPointF(frame.X(s.ms), frame.Y(s.position)));
        p.setPen(QPen(t.color, i + 1 == m_traces.size() ? 2.2 : 1.2));
        p.drawPath(path);
    }
    p.setClipping(false);
}

void CStepPlot::DrawLegend(QPainter& p, const CFrame& frame, const QFontMetrics& metrics) const {
    // In the corner the newest step leaves empty: below its end for a step up, above for one down.
    const CTrace& newest = m_traces.back();
    int legendWidth = 0;
    for (const CTrace& t : m_traces) legendWidth = std::max(legendWidth, metrics.horizontalAdvance(t.legend));
    const int row = metrics.height() + 2;
    const QSizeF size(legendWidth + 36, row * static_cast<int>(m_traces.size()) + 8);
    const bool up = newest.target >= newest.start;
    const QPointF corner(frame.area.right() - size.width() - 6,
                         up ? frame.area.bottom() - size.height() - 6 : frame.area.top() + 6);
    p.setPen(QColor(160, 160, 160));
    p.setBrush(QColor(255, 255, 255, 230));
    p.drawRect(QRectF(corner, size));
    for (std::size_t i = 0; i < m_traces.size(); ++i) {
        const double lineY = corner.y() + 4 + row * (i + 0.5);
        p.setPen(QPen(m_traces[i].color, i + 1 == m_traces.size() ? 2.2 : 1.2));
        p.drawLine(QPointF(corner.x() + 6, lineY), QPointF(corner.x() + 28, lineY));
        p.setPen(Qt::black);
        p.drawText(QPointF(corner.x() + 32, lineY + metrics.ascent() / 2.0 - 1), m_traces[i].legend);
    }
}

CStepWindow::CStepWindow(CServoUsb& usb, QWidget* parent) : QWidget(parent, Qt::Window), m_usb(usb) {
    setWindowTitle(tr("Step response"));
    auto* fields = new QFormLayout;
    const auto edit = [&](const char* name, const QString& text, const QString& label) {
        auto* e = new QLineEdit(text, this);
        e->setObjectName(QLatin1String(name));
        fields->addRow(label, e);
        return e;
    };
    m_editId = edit("id", QStringLiteral("1"), tr("ID:"));
    m_editFrom = edit("from", QStringLiteral("312"), tr("From:"));
    m_editTo = edit("to", QStringLiteral("712"), tr("To:"));
    m_editSeconds = edit("seconds", QStringLiteral("2"), tr("Seconds:"));
    m_editPeriod = edit("period", QStringLiteral("0"), tr("Period (ms, 0 = fastest):"));
    m_editSet = edit("set", QString(), tr("Set for the run:"));
    m_editSet->setPlaceholderText(QStringLiteral("P=30,D=80"));
    m_checkKeep = new QCheckBox(tr("Keep the set values"), this);
    m_checkKeep->setObjectName(QStringLiteral("keep"));
    fields->addRow(QString(), m_checkKeep);

    m_btnRun = new QPushButton(tr("Run"), this);
    m_btnRun->setObjectName(QStringLiteral("run"));
    m_btnClear = new QPushButton(tr("Clear"), this);
    m_btnClear->setObjectName(QStringLiteral("clear"));
    connect(m_btnRun, &QPushButton::clicked, this, [this] { IsRunning() ? Stop() : void(Run()); });
    connect(m_btnClear, &QPushButton::clicked, this, &CStepWindow::ClearRuns);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_btnRun);
    buttons->addWidget(m_btnClear);

    m_labelMetrics = new QLabel(this);
    m_labelMetrics->setObjectName(QStringLiteral("metrics"));
    m_labelMetrics->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_labelStatus = new QLabel(this);
    m_labelStatus->setObjectName(QStringLiteral("status"));
    m_labelStatus->setWordWrap(true);

    auto* side = new QVBoxLayout;
    side->addLayout(fields);
    side->addLayout(buttons);
    side->addWidget(m_labelMetrics);
    side->addStretch(1);

    m_plot = new CStepPlot(this);
    m_plot->setObjectName(QStringLiteral("plot"));
    auto* top = new QHBoxLayout;
    top->addLayout(side);
    top->addWidget(m_plot, 1);
    auto* whole = new QVBoxLayout(this);
    whole->addLayout(top, 1);
    whole->addWidget(m_labelStatus);
}

CStepWindow::~CStepWindow() {
    StopAndJoin();
}

void CStepWindow::SetServoId(int id) {
    m_editId->setText(QString::number(id));
}

bool CStepWindow::Run() {
    if (IsRunning()) return false;
    const auto number = [](const QLineEdit* e, int low, int high) -> std::optional<int> {
        bool ok = false;
        const int value = e->text().trimmed().toInt(&ok);
        if (!ok || value < low || value > high) return std::nullopt;
        return value;
    };
    CStepRequest request;
    const auto id = number(m_editId, 0, 253);
    const auto from = number(m_editFrom, 0, 1023);
    const auto to = number(m_editTo, 0, 1023);
    const auto period = number(m_editPeriod, 0, 1000);
    bool secondsOk = false;
    const double seconds = m_editSeconds->text().trimmed().toDouble(&secondsOk);
    QString problem;
    if (!id)
        problem = tr("ID: a number from 0 to 253");
    else if (!from || !to)
        problem = tr("From and To: positions from 0 to 1023");
    else if (!secondsOk || seconds < 0.1 || seconds > 60)
        problem = tr("Seconds: 0.1 to 60");
    else if (!period)
        problem = tr("Period: 0 to 1000 ms");
    const QString set = m_editSet->text().trimmed();
    if (problem.isEmpty() && !set.isEmpty()) {
        std::string why;
        const auto settings = ParseCoefficientSettings(set.toStdString(), &why);
        if (!settings)
            problem = tr("Set for the run: %1").arg(QString::fromStdString(why));
        else
            request.set = *settings;
    }
    if (!problem.isEmpty()) {
        m_labelStatus->setText(problem);
        return false;
    }
    request.id = static_cast<uint8_t>(*id);
    request.from = *from;
    request.to = *to;
    request.periodMs = *period;
    request.seconds = seconds;
    request.keep = m_checkKeep->isChecked();
    m_request = request;
    SetRunning(true);
    m_labelStatus->setText(tr("Running: servo %1 from %2 to %3…").arg(*id).arg(*from).arg(*to));
    m_worker.Start([this, request](std::stop_token token, unsigned) {
        CStepResponse step(m_usb, [&token] { return token.stop_requested(); });
        m_outcomes.Post(step.Run(request));
    });
    return true;
}

void CStepWindow::Stop() {
    m_worker.RequestStop();
}

void CStepWindow::StopAndJoin() {
    m_worker.Stop();
    m_outcomes.Clear();
    if (m_btnRun) SetRunning(false);
}

void CStepWindow::closeEvent(QCloseEvent* event) {
    StopAndJoin();
    event->accept();
}

void CStepWindow::TakeOutcomes() {
    for (const CStepOutcome& outcome : m_outcomes.Take()) {
        m_worker.Join();
        SetRunning(false);
        Show(outcome, m_request);
    }
}

void CStepWindow::Show(const CStepOutcome& outcome, const CStepRequest& request) {
    QString status = outcome.Ok() ? tr("Done.") : QString::fromStdString(outcome.problem);
    if (outcome.restoreFailed)
        status += QStringLiteral(" ") + tr("The old coefficients could not be written back: %1")
                                            .arg(QString::fromStdString(outcome.restoreAdvice));
    m_labelStatus->setText(status);
    if (outcome.samples.empty()) return;
    m_labelMetrics->setText(
        QString::fromStdString(StepMetricsText(outcome.metrics, request.seconds * 1000.0)).trimmed());
    CStepPlot::CTrace trace;
    trace.samples = outcome.samples;
    trace.start = outcome.start;
    trace.target = request.to;
    trace.band = outcome.band;
    trace.legend = Legend(outcome.coefficients, outcome.metrics);
    trace.color = kColours[m_nRunsMade++ % std::size(kColours)];
    m_runs.push_back(std::move(trace));
    while (static_cast<int>(m_runs.size()) > kKeptRuns) m_runs.pop_front();
    UpdatePlot();
}

void CStepWindow::ClearRuns() {
    m_runs.clear();
    m_labelMetrics->clear();
    UpdatePlot();
}

void CStepWindow::UpdatePlot() {
    m_plot->SetTraces({m_runs.begin(), m_runs.end()});
}

void CStepWindow::SetRunning(bool running) {
    m_btnRun->setText(running ? tr("Stop") : tr("Run"));
    for (QWidget* w : std::initializer_list<QWidget*>{m_editId, m_editFrom, m_editTo, m_editSeconds,
                                                      m_editPeriod, m_editSet, m_checkKeep, m_btnClear})
        w->setEnabled(!running);
}

QString CStepWindow::StatusText() const {
    return m_labelStatus->text();
}

QString CStepWindow::MetricsText() const {
    return m_labelMetrics->text();
}
