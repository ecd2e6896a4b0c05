// The status monitor's costs: poll ticks per second at a 10 ms cycle against the simulator (and their drift
// over 10 s) next to the bare timer's floor, one plot tick with three full traces next to the floor of a
// paint that only shrinks a kept frame of the same size and next to the empty plot, with its two parts alone,
// and the GUI thread's CPU share (and that of Qt's pooled threads, which shrink the frame) while polling next
// to the same page left idle; and the poll again with every frame recorded, with the bus monitor window
// closed and open. The plot's figures are wall time with the whole process's CPU time beside them.
#include <benchmark/benchmark.h>
#include <time.h>

#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <vector>

#include "BrennixUsb.h"
#include "BusMonitorWindow.h"
#include "BusRecorder.h"
#include "BusSimulator.h"
#include "ControlTable.h"
#include "PIC.h"
#include "PeriodicTimer.h"
#include "RatioReporter.h"
#include "RobotDlg.h"
#include "ServoUsb.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kPollRun = 10s;
constexpr auto kCycle = 10ms;

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// CPU seconds of Qt's pooled threads so far: the smooth shrink of the plot's frame is split across them,
// so the GUI thread's own clock misses that part of a paint. Read from /proc, in clock ticks.
double PooledThreadsCpuSeconds() {
    double seconds = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        if (!comm.open(QIODevice::ReadOnly) || !comm.readAll().startsWith("Thread (pooled)")) continue;
        QFile stat(tasks.filePath(tid + QStringLiteral("/stat")));
        if (!stat.open(QIODevice::ReadOnly)) continue;
        // Fields after the parenthesised name: state is the 3rd, utime the 14th and stime the 15th.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12)
            seconds += static_cast<double>(fields[11].toLongLong() + fields[12].toLongLong());
    }
    return seconds / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void RunEventLoopFor(std::chrono::milliseconds time) {
    QEventLoop loop;
    QTimer::singleShot(time, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Drift of a run of ticks: how much further from its own deadline the last tick lies than the first.
double DriftMs(const std::vector<Clock::time_point>& ticks, Clock::time_point start, Clock::duration period) {
    if (ticks.size() < 2) return NAN;
    const auto offset = [&](Clock::time_point t) {
        const auto k = (t - start + period / 2) / period;  // the deadline this tick served
        return std::chrono::duration<double, std::milli>(t - (start + k * period)).count();
    };
    return offset(ticks.back()) - offset(ticks.front());
}

void ReportTicks(benchmark::State& state, const std::vector<Clock::time_point>& ticks,
                 Clock::time_point start, Clock::duration run, uint64_t skipped) {
    const double seconds = std::chrono::duration<double>(run).count();
    const double perSecond = static_cast<double>(ticks.size()) / seconds;
    state.SetIterationTime(perSecond > 0 ? 1.0 / perSecond : seconds);
    state.counters["ticks_per_s"] = perSecond;
    state.counters["drift_ms"] = DriftMs(ticks, start, kCycle);
    state.counters["skipped"] = static_cast<double>(skipped);
}

// The schedule alone: an empty tick on the same timer.
void BM_TimerFloor(benchmark::State& state) {
    for (auto _ : state) {
        std::mutex mx;
        std::vector<Clock::time_point> ticks;
        CPeriodicTimer timer;
        const Clock::time_point start = Clock::now();
        timer.Start(kCycle, [&] {
            const std::lock_guard<std::mutex> lock(mx);
            ticks.push_back(Clock::now());
        });
        std::this_thread::sleep_for(kPollRun);
        timer.Stop();
        ReportTicks(state, ticks, start, Clock::now() - start, timer.Skipped());
    }
}

// A page that is seen polling servo 1 with all three traces on, as the operator runs it.
struct CPollRig {
    CPollRig() {
        sim.Start();
        transport.SetPortPath(sim.SlavePath());
        transport.FindDevice();
        transport.Open();
        transport.Configure(1000000);
        usb.m_pImage[Reg::HIGH_BYTE_FIRST] = 1;
        usb.m_pImage[Reg::ID] = 1;
        page.Create(nullptr);
        page.Plot().SetTraceMask(kTracePosition | kTraceSpeed | kTraceLoad);
        page.show();
        RunEventLoopFor(200ms);  // first paint
    }
    ~CPollRig() { transport.Close(); }

    sim::CBusSimulator sim{{1}};
    CBrennixUsb transport;
    CServoUsb usb{&transport};
    CRobotDlg page{nullptr, usb};
};

enum class EBusView { Off, Recorded, Window };

void PollAt10ms(benchmark::State& state, EBusView view) {
    for (auto _ : state) {
        CPollRig rig;
        CBusRecorder recorder;
        std::unique_ptr<CBusMonitorWindow> window;
        if (view != EBusView::Off) rig.usb.SetRecorder(&recorder);
        if (view == EBusView::Window) {
            window = std::make_unique<CBusMonitorWindow>(recorder, [] { return true; });
            window->show();
            RunEventLoopFor(200ms);
        }
        rig.sim.ClearFrames();
        const double cpu0 = ThreadCpuSeconds();
        const double pool0 = PooledThreadsCpuSeconds();
        const Clock::time_point start = Clock::now();
        rig.page.findChild<QLineEdit*>(QStringLiteral("cycle"))->setText(QStringLiteral("10"));
        rig.page.findChild<QPushButton*>(QStringLiteral("draw"))->click();
        RunEventLoopFor(std::chrono::duration_cast<std::chrono::milliseconds>(kPollRun));
        const uint64_t skipped = rig.page.PollTimer().Skipped();
        const uint64_t run = rig.page.PollTimer().Ticks();
        rig.page.StopDrawing();
        const Clock::duration elapsed = Clock::now() - start;
        const double cpu = ThreadCpuSeconds() - cpu0;
        const double pool = PooledThreadsCpuSeconds() - pool0;
        std::vector<Clock::time_point> ticks;
        for (const sim::CSimFrame& frame : rig.sim.Frames()) ticks.push_back(frame.time);
        ReportTicks(state, ticks, start, elapsed, skipped);
        state.counters["gui_cpu_pct"] = 100.0 * cpu / std::chrono::duration<double>(elapsed).count();
        state.counters["gui_pool_cpu_pct"] = 100.0 * pool / std::chrono::duration<double>(elapsed).count();
        state.counters["samples"] = static_cast<double>(rig.page.PlotSamples());
        state.counters["ticks_run"] = static_cast<double>(run);
        if (window) state.counters["rows"] = window->RowCount();
        rig.usb.SetRecorder(nullptr);
    }
}

void BM_PollAt10ms(benchmark::State& state) {
    PollAt10ms(state, EBusView::Off);
}

void BM_PollAt10msRecorded(benchmark::State& state) {
    PollAt10ms(state, EBusView::Recorded);
}

void BM_PollAt10msBusMonitor(benchmark::State& state) {
    PollAt10ms(state, EBusView::Window);
}

void BM_GuiIdleFloor(benchmark::State& state) {
    for (auto _ : state) {
        CPollRig rig;
        const double cpu0 = ThreadCpuSeconds();
        RunEventLoopFor(3s);
        const double cpu = ThreadCpuSeconds() - cpu0;
        state.SetIterationTime(cpu);
        state.counters["gui_cpu_pct"] = 100.0 * cpu / 3.0;
    }
}

// 567 x 246 pixels at 96 dpi are 1500 x 651 plot units.
constexpr QSize kPlotPixels(567, 246);

// The three traces' samples at step i of the run: slow waves of different heights, as a moving servo gives.
void AddSamples(CPIC& plot, int i) {
    plot.AddPosition(512 + static_cast<int>(400 * std::sin(i / 10.0)));
    plot.AddSpeed(500 + static_cast<int>(100 * std::cos(i / 10.0)));
    plot.AddLoad(500 - static_cast<int>(60 * std::sin(i / 7.0)));
}

void FillTraces(CPIC& plot) {
    plot.SetWidth(1500);
    plot.SetZoom(10);
    for (int i = 0; i < 150; ++i) AddSamples(plot, i);
}

// A shown plot of kPlotPixels with all three traces switched on, painted once so it knows its size.
void ShowPlot(CPIC& plot) {
    plot.resize(kPlotPixels);
    plot.SetTraceMask(kTracePosition | kTraceSpeed | kTraceLoad);
    plot.show();
    RunEventLoopFor(200ms);  // exposed and painted once
}

void ReportPlotSize(benchmark::State& state, const CPIC& plot) {
    if (plot.Height() == 0) state.SkipWithError("never painted");
    state.counters["width_units"] = plot.Width();
    state.counters["height_units"] = plot.Height();
}

// One poll tick of the plot with three full traces: a new sample on each, which scrolls them all one step
// to the left, then the paint.
void BM_PlotRepaint(benchmark::State& state) {
    CPIC plot;
    ShowPlot(plot);
    FillTraces(plot);
    if (plot.Capacity() != 150 || plot.Loads().size() != 150) state.SkipWithError("traces not full");
    int i = 150;
    for (auto _ : state) {
        AddSamples(plot, i++);
        plot.repaint();
    }
    ReportPlotSize(state, plot);
}

// The plot with its grid and labels but no samples yet.
void BM_PlotRepaintEmpty(benchmark::State& state) {
    CPIC plot;
    ShowPlot(plot);
    for (auto _ : state) plot.repaint();
    ReportPlotSize(state, plot);
}

// What any paint of the plot must do, whatever it draws: shrink a kept frame of the plot's size by area
// averaging and copy it onto the control.
class CBlankPlot : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawImage(QPoint(0, 0),
                          m_frame.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }

private:
    QImage m_frame = [] {
        QImage frame(1500, 651, QImage::Format_RGB32);
        frame.fill(Qt::white);
        return frame;
    }();
};

void BM_PlotRepaintFloor(benchmark::State& state) {
    CBlankPlot plot;
    plot.setAttribute(Qt::WA_OpaquePaintEvent);
    plot.resize(kPlotPixels);
    plot.show();
    RunEventLoopFor(200ms);
    for (auto _ : state) plot.repaint();
}

// The two parts of a tick's paint, each alone: composing the frame (the kept grid back under the last
// traces, then the new traces) and shrinking it to the control's pixels.
void BM_PlotCompose(benchmark::State& state) {
    CPIC plot;
    plot.SetTraceMask(kTracePosition | kTraceSpeed | kTraceLoad);
    FillTraces(plot);
    int i = 150;
    for (auto _ : state) {
        AddSamples(plot, i++);
        benchmark::DoNotOptimize(plot.ComposeFrame(1500, 651, 96).constBits());
    }
}

void BM_PlotShrink(benchmark::State& state) {
    CPIC plot;
    plot.SetTraceMask(kTracePosition | kTraceSpeed | kTraceLoad);
    FillTraces(plot);
    const QImage frame = plot.ComposeImage(1500, 651, 96);
    for (auto _ : state)
        benchmark::DoNotOptimize(frame.scaled(kPlotPixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

}  // namespace

BENCHMARK(BM_TimerFloor)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollAt10ms)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollAt10msRecorded)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollAt10msBusMonitor)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GuiIdleFloor)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlotRepaintFloor)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_PlotRepaintEmpty)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_PlotCompose)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_PlotShrink)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_PlotRepaint)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    CRatioReporter reporter({{"BM_PollAt10ms", "BM_TimerFloor"},
                             {"BM_PlotRepaint/", "BM_PlotRepaintFloor"},
                             {"BM_PlotRepaint/", "BM_PlotRepaintEmpty"}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
