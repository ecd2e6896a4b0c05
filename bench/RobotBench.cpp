// A whole robot on one bus: six simulated servos at 1000000 baud behind an adapter of 1 ms latency each way,
// read round robin as fast as the bus allows. Reports the rate each servo gets next to the floor computed
// for that bus (wire time, return delay and latency of every read: PollTiming), and the CPU time of the whole
// process (every thread; the simulator runs as a process of its own) with the Servos window and its plot
// open at that rate, offscreen, next to the same poll without a window.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "link/BrennixUsb.h"
#include "link/ControlTable.h"
#include "link/PollTiming.h"
#include "link/RoundRobinPoller.h"
#include "link/ServoUsb.h"
#include "servos/ServoPlot.h"
#include "servos/ServosWindow.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kServos = 6;
constexpr int kBaud = 1000000;
constexpr std::chrono::microseconds kLatency{1000};
constexpr auto kRun = 10s;

// brennix-sim in a process of its own, so its CPU time is not the tool's.
class CSimulatorProcess {
public:
    CSimulatorProcess() {
        int out[2];
        if (pipe(out) != 0) std::abort();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string latency = std::to_string(kLatency.count());
        const char* argv[] = {BRENNIX_SIM_EXE, "--ids", "1,2,3,4,5,6", "--latency", latency.c_str(), nullptr};
        if (posix_spawn(&m_pid, BRENNIX_SIM_EXE, &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            std::abort();
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        char line[256] = {};
        std::size_t got = 0;
        while (got < sizeof line - 1) {
            if (read(out[0], line + got, 1) != 1 || line[got] == '\n') break;
            ++got;
        }
        line[got] = '\0';
        m_path = line;
        m_pipe = out[0];
    }
    ~CSimulatorProcess() {
        kill(m_pid, SIGINT);
        waitpid(m_pid, nullptr, 0);
        close(m_pipe);
    }
    CSimulatorProcess(const CSimulatorProcess&) = delete;
    CSimulatorProcess& operator=(const CSimulatorProcess&) = delete;
    const std::string& Path() const { return m_path; }

private:
    pid_t m_pid = -1;
    int m_pipe = -1;
    std::string m_path;
};

// The port opened as the tool opens an adapter.
struct CBus {
    CBus() {
        transport.SetPortPath(simulator.Path());
        if (transport.FindDevice() != 1 || transport.Open() != 1) {
            std::fprintf(stderr, "cannot open %s\n", simulator.Path().c_str());
            std::abort();
        }
        transport.Configure(kBaud);
        usb.Image()[Reg::HIGH_BYTE_FIRST] = 1;
    }
    ~CBus() { transport.Close(); }

    CSimulatorProcess simulator;
    CBrennixUsb transport;
    CServoUsb usb{&transport};
};

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void RunEventLoopFor(std::chrono::milliseconds time) {
    QEventLoop loop;
    QTimer::singleShot(time, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

std::vector<uint8_t> Ids() {
    std::vector<uint8_t> ids;
    for (int id = 1; id <= kServos; ++id) ids.push_back(static_cast<uint8_t>(id));
    return ids;
}

// The rate each servo can get at most: every read back to back, nothing else on the bus.
double FloorHz() {
    return PollTiming::RatePerServo(std::vector<std::chrono::microseconds>(
        kServos, PollTiming::SpanReadTime(kBaud, std::chrono::microseconds{0}, kLatency)));
}

// Measures over kRun while `spin` runs the time away; reports the lowest servo's rate against the floor
// and the process's CPU share.
template <class Spin>
void Measure(benchmark::State& state, const CRoundRobinPoller& poller, Spin spin) {
    std::vector<uint64_t> before;
    for (uint8_t id : Ids()) before.push_back(poller.Answered(id));
    const double cpu0 = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    spin();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = ProcessCpuSeconds() - cpu0;
    double lowest = 1e9;
    for (std::size_t k = 0; k < before.size(); ++k)
        lowest = std::min(lowest, static_cast<double>(poller.Answered(Ids()[k]) - before[k]) / seconds);
    state.SetIterationTime(1.0 / lowest);
    state.counters["rate_hz"] = lowest;
    state.counters["floor_hz"] = FloorHz();
    state.counters["ratio"] = lowest / FloorHz();
    state.counters["bus_limit_hz"] = poller.BusLimitHz();
    state.counters["process_cpu_pct"] = 100.0 * cpu / seconds;
}

// The poll alone, on its own thread, the main thread asleep.
void BM_PollSixServos(benchmark::State& state) {
    for (auto _ : state) {
        CBus bus;
        CRoundRobinPoller poller(bus.usb);
        poller.Start(Ids(), {});
        std::this_thread::sleep_for(1s);  // every servo's first visit, with its settings read
        Measure(state, poller, [] { std::this_thread::sleep_for(kRun); });
        poller.Stop();
    }
}

// The Servos window shown, its table and plot following the same poll.
void BM_ServosWindowSixServos(benchmark::State& state) {
    for (auto _ : state) {
        CBus bus;
        CServosWindow window(bus.usb);
        window.resize(920, 680);
        window.SetPort(true, kBaud);
        std::vector<CServoAtRate> servos;
        for (uint8_t id : Ids()) servos.push_back({id, kBaud});
        window.SetFoundServos(servos);
        window.show();
        RunEventLoopFor(1000ms);
        if (!window.IsPolling()) state.SkipWithError("not polling");
        const int draws = window.Plot()->BackgroundDraws();
        Measure(state, window.Poller(),
                [] { RunEventLoopFor(std::chrono::duration_cast<std::chrono::milliseconds>(kRun)); });
        state.counters["grid_draws"] = window.Plot()->BackgroundDraws() - draws;
        std::printf("window: %s\n", window.RateText().toUtf8().constData());
        window.StopBusWork();
    }
}

}  // namespace

BENCHMARK(BM_PollSixServos)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ServosWindowSixServos)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::printf("floor: %d servos at %d baud, %lld us adapter latency each way: %.1f Hz each\n", kServos,
                kBaud, static_cast<long long>(kLatency.count()), FloorHz());
    benchmark::Shutdown();
    return 0;
}
