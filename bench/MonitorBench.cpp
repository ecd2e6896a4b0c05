// The status monitor's costs: poll ticks per second at a 10 ms cycle against the simulator (and their drift
// over 10 s) next to the bare timer's floor; the whole process's CPU share while the page polls one servo
// with three traces, with every frame recorded, and with the bus monitor window open, next to the same poll
// without a page and to the page left idle; and one plot tick with three full traces next to the floor of a
// paint that only copies a kept image of the control's size and next to the empty plot.
//
// The simulator serves the bus from a thread of this process; its CPU time is measured on its own and left
// out, so process_cpu_pct counts every other thread (the GUI thread, the poll, Qt's pool), in % of one core.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/BusMonitorWindow.h"
#include "bench/ProcessCpu.h"
#include "bench/RatioReporter.h"
#include "bench/SimulatedPort.h"
#include "debug/PIC.h"
#include "debug/PeriodicTimer.h"
#include "debug/RobotDlg.h"
#include "link/BrennixUsb.h"
#include "link/BusRecorder.h"
#include "link/ControlTable.h"
#include "link/ServoUsb.h"
#include "link/StatusSpan.h"
#include "sim/BusSimulator.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kPollRun = 10s;
constexpr auto kCycle = 10ms;

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

// The simulator with servo 1 at 1000000 baud, its port open, and the process's CPU clock without the
// simulator's thread.
struct CSimulatedBus {
    CSimulatedBus() {
        const std::vector<long> simThreads =
            CProcessCpu::ThreadsStartedBy([this] { OpenSimulatedPort(sim, transport); });
        if (simThreads.size() != 1) {
            std::fprintf(stderr, "expected the simulator to start one thread, saw %zu\n", simThreads.size());
            std::abort();
        }
        cpu = CProcessCpu(simThreads);
    }
    ~CSimulatedBus() { transport.Close(); }

    sim::CBusSimulator sim{{1}};
    CBrennixUsb transport;
    CProcessCpu cpu;
};

// The process's CPU time over a stretch of wall time, in % of one core.
class CCpuShare {
public:
    explicit CCpuShare(const CProcessCpu& cpu) : m_cpu(cpu), m_cpu0(cpu.Seconds()), m_start(Clock::now()) {}
    double Percent() const {
        const double wall = std::chrono::duration<double>(Clock::now() - m_start).count();
        return 100.0 * (m_cpu.Seconds() - m_cpu0) / wall;
    }

private:
    const CProcessCpu& m_cpu;
    double m_cpu0;
    Clock::time_point m_start;
};

// The poll without a page: the same read of servo 1's status span on the same timer, decoded and dropped.
void BM_LinkPollFloor(benchmark::State& state) {
    for (auto _ : state) {
        CSimulatedBus bus;
        CServoUsb usb{&bus.transport};
        uint8_t image[IMAGE_SIZE] = {};
        CPeriodicTimer timer;
        std::atomic<int> reads{0};
        const CCpuShare share(bus.cpu);
        timer.Start(kCycle, [&] {
            if (usb.ReadData(1, Reg::STATUS_SPAN_START, Reg::STATUS_SPAN_LENGTH,
                             image + Reg::STATUS_SPAN_START) < 0)
                return;
            benchmark::DoNotOptimize(DecodeStatusSpan(image, true));
            ++reads;
        });
        std::this_thread::sleep_for(kPollRun);
        timer.Stop();
        state.counters["process_cpu_pct"] = share.Percent();
        state.counters["reads"] = reads.load();
        state.SetIterationTime(std::chrono::duration<double>(kPollRun).count());
    }
}

// A page that is seen polling servo 1 with all three traces on, as the operator runs it.
struct CPollRig {
    CPollRig() {
        usb.Image()[Reg::HIGH_BYTE_FIRST] = 1;
        usb.Image()[Reg::ID] = 1;
        page.Create(nullptr);
        page.Plot().SetTraceMask(kTracePosition | kTraceSpeed | kTraceLoad);
        page.show();
        RunEventLoopFor(200ms);  // first paint
    }

    CSimulatedBus bus;
    sim::CBusSimulator& sim = bus.sim;
    CServoUsb usb{&bus.transport};
    CRobotDlg page{nullptr, usb};
};

enum class EBusView { Off, Recorded, Window };

// Swings the servo between two goals at a steady speed, turning back every 1.5 s, so that the position
// trace ramps up and down and the speed and load traces step with it.
class CSwingingServo {
public:
    explicit CSwingingServo(sim::CBusSimulator& sim) : m_sim(sim) {
        // Words go high byte first. 80: 800 position units a second.
        m_sim.SetRegister(1, Reg::GOAL_SPEED, 0);
        m_sim.SetRegister(1, Reg::GOAL_SPEED + 1, 80);
        m_sim.SetRegister(1, Reg::TORQUE_ENABLE, 1);
        Turn();
        m_timer.callOnTimeout([this] { Turn(); });
        m_timer.start(1500);
    }

private:
    void Turn() {
        m_bUp = !m_bUp;
        const int goal = m_bUp ? 900 : 100;
        m_sim.SetRegister(1, Reg::GOAL_POSITION, static_cast<uint8_t>(goal >> 8));
        m_sim.SetRegister(1, Reg::GOAL_POSITION + 1, static_cast<uint8_t>(goal & 0xFF));
    }

    sim::CBusSimulator& m_sim;
    QTimer m_timer;
    bool m_bUp = false;
};

void PollAt10ms(benchmark::State& state, EBusView view, bool moving = false) {
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
        std::unique_ptr<CSwingingServo> swing;
        if (moving) swing = std::make_unique<CSwingingServo>(rig.sim);
        rig.sim.ClearFrames();
        const CCpuShare share(rig.bus.cpu);
        const Clock::time_point start = Clock::now();
        rig.page.findChild<QLineEdit*>(QStringLiteral("cycle"))->setText(QStringLiteral("10"));
        rig.page.findChild<QPushButton*>(QStringLiteral("draw"))->click();
        RunEventLoopFor(std::chrono::duration_cast<std::chrono::milliseconds>(kPollRun));
        const uint64_t skipped = rig.page.PollTimer().Skipped();
        const uint64_t run = rig.page.PollTimer().Ticks();
        rig.page.StopDrawing();
        const Clock::duration elapsed = Clock::now() - start;
        state.counters["process_cpu_pct"] = share.Percent();
        std::vector<Clock::time_point> ticks;
        for (const sim::CSimFrame& frame : rig.sim.Frames()) ticks.push_back(frame.time);
        ReportTicks(state, ticks, start, elapsed, skipped);
        state.counters["samples"] = static_cast<double>(rig.page.PlotSamples());
        const auto& positions = rig.page.Plot().Positions();
        if (moving && !positions.empty())  // how far the servo swung across the plot
            state.counters["position_span"] = *std::max_element(positions.begin(), positions.end()) -
                                              *std::min_element(positions.begin(), positions.end());
        state.counters["ticks_run"] = static_cast<double>(run);
        if (window) state.counters["rows"] = window->RowCount();
        rig.usb.SetRecorder(nullptr);
    }
}

void BM_PollAt10ms(benchmark::State& state) {
    PollAt10ms(state, EBusView::Off);
}

void BM_PollAt10msMoving(benchmark::State& state) {
    PollAt10ms(state, EBusView::Off, true);
}

void BM_PollAt10msRecorded(benchmark::State& state) {
    PollAt10ms(state, EBusView::Recorded);
}

void BM_PollAt10msBusMonitor(benchmark::State& state) {
    PollAt10ms(state, EBusView::Window);
}

// The page shown and left alone: what the process costs before anything polls.
void BM_GuiIdleFloor(benchmark::State& state) {
    for (auto _ : state) {
        CPollRig rig;
        const CCpuShare share(rig.bus.cpu);
        RunEventLoopFor(3s);
        state.counters["process_cpu_pct"] = share.Percent();
        state.SetIterationTime(3.0);
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

// What any paint of the plot must do, whatever it draws: copy a kept image of the control's own pixels onto
// the control.
class CBlankPlot : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        const QSize pixels = size() * devicePixelRatio();
        if (m_frame.size() != pixels) {
            m_frame = QImage(pixels, QImage::Format_RGB32);
            m_frame.fill(Qt::white);
            m_frame.setDevicePixelRatio(devicePixelRatio());
        }
        QPainter painter(this);
        painter.drawImage(QPoint(0, 0), m_frame);
    }

private:
    QImage m_frame;
};

void BM_PlotRepaintFloor(benchmark::State& state) {
    CBlankPlot plot;
    plot.setAttribute(Qt::WA_OpaquePaintEvent);
    plot.resize(kPlotPixels);
    plot.show();
    RunEventLoopFor(200ms);
    for (auto _ : state) plot.repaint();
}

}  // namespace

BENCHMARK(BM_TimerFloor)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinkPollFloor)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollAt10ms)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollAt10msMoving)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
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
    CRatioReporter reporter({{"BM_PollAt10ms/", "BM_TimerFloor"},
                             {"BM_PlotRepaint/", "BM_PlotRepaintFloor"},
                             {"BM_PlotRepaint/", "BM_PlotRepaintEmpty"}},
                            {{"BM_PollAt10ms/", "BM_LinkPollFloor", "process_cpu_pct"},
                             {"BM_PollAt10msMoving", "BM_LinkPollFloor", "process_cpu_pct"},
                             {"BM_PollAt10msBusMonitor", "BM_LinkPollFloor", "process_cpu_pct"},
                             {"BM_GuiIdleFloor", "BM_LinkPollFloor", "process_cpu_pct"}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
