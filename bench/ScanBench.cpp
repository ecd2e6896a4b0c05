// The all-rate scan of IDs 0..253 against the simulated bus, next to the floor computed for the same bus:
// per rate one broadcast answer window, per swept rate 254 x (wire time of ping and status + 508 µs + twice
// the adapter latency). Also the single-rate sweep at the normal timeout, as the node search runs it.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "bench/SimulatedPort.h"
#include "link/BrennixUsb.h"
#include "link/BusScanner.h"
#include "link/ControlTable.h"
#include "link/ScanTiming.h"
#include "link/SerialScanLine.h"
#include "link/ServoUsb.h"
#include "sim/BusSimulator.h"

namespace {

using std::chrono::microseconds;

// What a USB full-speed adapter adds each way.
constexpr microseconds kAdapterLatency{1000};

sim::CSimLineOptions Line() {
    sim::CSimLineOptions options;
    options.latency = kAdapterLatency;
    return options;
}

// The mean time of the laps, reported with the floor and their ratio.
class CSeconds {
public:
    class CLap {
    public:
        explicit CLap(CSeconds& total) : m_total(total), m_start(std::chrono::steady_clock::now()) {}
        ~CLap() {
            m_total.m_seconds +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
            ++m_total.m_laps;
        }
        CLap(const CLap&) = delete;
        CLap& operator=(const CLap&) = delete;

    private:
        CSeconds& m_total;
        std::chrono::steady_clock::time_point m_start;
    };

    void Report(benchmark::State& state, double floorSeconds) const {
        const double mean = m_laps > 0 ? m_seconds / m_laps : 0;
        state.counters["floor_s"] = floorSeconds;
        state.counters["x_floor"] = mean / floorSeconds;
    }

private:
    double m_seconds = 0;
    int m_laps = 0;
};

microseconds FloorOf(const std::vector<int>& sweptRates) {
    auto window = [](int baud) {
        return ScanTiming::WireTime(12, baud) + ScanTiming::LONGEST_RETURN_DELAY + 2 * kAdapterLatency;
    };
    microseconds floor{0};
    for (int baud : AllServoRates()) floor += window(baud);
    for (int baud : sweptRates) floor += 254 * window(baud);
    return floor;
}

// Servos with IDs 1, 2, ... at each of the rates.
std::vector<sim::CSimServoSpec> ServosAt(const std::vector<int>& rates) {
    std::vector<sim::CSimServoSpec> servos;
    uint8_t id = 1;
    for (int baud : rates) servos.push_back(sim::DefaultServo(id++, static_cast<uint8_t>(BaudCodeOf(baud))));
    return servos;
}

void RunAllRateScan(benchmark::State& state, const std::vector<int>& rates) {
    sim::CBusSimulator bus(ServosAt(rates), Line());
    CBrennixUsb usb;
    OpenSimulatedPort(bus, usb);
    CServoUsb servo(&usb);
    CSerialScanLine line(usb);
    CBusScanner scanner(servo, line);
    CScanOutcome outcome;
    CSeconds took;
    for (auto _ : state) {
        const CSeconds::CLap lap(took);
        outcome = scanner.Scan({}, {});
        if (outcome.servos.size() != rates.size()) state.SkipWithError("a servo was missed");
    }
    took.Report(state, static_cast<double>(FloorOf(rates).count()) / 1e6);
    for (const CRateOutcome& rate : outcome.rates)
        state.counters["window_us_" + std::to_string(rate.baud)] = static_cast<double>(rate.window.count());
    usb.Close();
}

void BM_AllRateScanOneRate(benchmark::State& state) {
    RunAllRateScan(state, {1000000});
}

void BM_AllRateScanTwoRates(benchmark::State& state) {
    RunAllRateScan(state, {1000000, 500000});
}

void BM_AllRateScanFourRates(benchmark::State& state) {
    RunAllRateScan(state, {1000000, 500000, 115200, 38400});
}

void BM_AllRateScanEveryRate(benchmark::State& state) {
    RunAllRateScan(state, AllServoRates());
}

// Servos at the slowest rate only: the seven probes before it find nothing to time the adapter by, so each
// waits as long as a plain ping (a slow adapter's answer must not be missed there).
void BM_AllRateScanSlowestRateOnly(benchmark::State& state) {
    RunAllRateScan(state, {38400});
}

// The sweep of the node search: 254 pings at the normal 50 ms timeout, three servos answering; its floor is
// 251 silent timeouts, 12.55 s.
void BM_SingleRateSweep(benchmark::State& state) {
    sim::CBusSimulator bus(ServosAt({1000000, 1000000, 1000000}), Line());
    CBrennixUsb usb;
    OpenSimulatedPort(bus, usb);
    CServoUsb servo(&usb);
    CSeconds took;
    for (auto _ : state) {
        const CSeconds::CLap lap(took);
        int found = 0;
        for (int id = 0; id <= 253; ++id) found += servo.Ping(static_cast<uint8_t>(id));
        if (found != 3) state.SkipWithError("a servo was missed");
    }
    took.Report(state, 12.55);
    usb.Close();
}

}  // namespace

BENCHMARK(BM_AllRateScanOneRate)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_AllRateScanTwoRates)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_AllRateScanFourRates)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_AllRateScanEveryRate)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_AllRateScanSlowestRateOnly)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_SingleRateSweep)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

BENCHMARK_MAIN();
