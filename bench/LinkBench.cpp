// Ping round trip through the whole link against the simulator, next to the floor of a raw echo of the same
// six bytes over a pseudo-terminal, with and without the bus recorder; also counts heap allocations per
// exchange in the host.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <new>
#include <thread>

#include "bench/FloorPty.h"
#include "bench/RatioReporter.h"
#include "bench/SimulatedPort.h"
#include "link/BrennixUsb.h"
#include "link/BusRecorder.h"
#include "link/ServoUsb.h"
#include "sim/BusSimulator.h"
#include "sim/ReturnLine.h"

static std::atomic<long> g_allocations{0};
static std::atomic<bool> g_countAllocations{false};
static thread_local bool t_isHostThread = false;

void* operator new(std::size_t size) {
    if (g_countAllocations && t_isHostThread) ++g_allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

void BM_RawEchoFloor(benchmark::State& state) {
    // Echoes whatever arrives once it and its echo would have crossed the wire, as the simulator models:
    // the cost of the bytes' trip without any protocol.
    CFloorPty echo([](int master, const uint8_t* bytes, std::size_t count) {
        std::this_thread::sleep_for(sim::WireTime(2 * count, 1000000));
        if (write(master, bytes, count) < 0) std::perror("echo");
    });
    CBrennixUsb usb;
    usb.SetPortPath(echo.Path());
    usb.FindDevice();
    usb.Open();
    usb.Configure(1000000);
    const uint8_t ping[6] = {0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB};
    uint8_t reply[6];
    for (auto _ : state) {
        usb.Write(ping, 6);
        if (usb.Read(reply, 6) != 6) state.SkipWithError("echo lost");
    }
    usb.Close();
}

void PingRoundTrip(benchmark::State& state, bool recorded) {
    sim::CBusSimulator bus({1});
    CBrennixUsb usb;
    OpenSimulatedPort(bus, usb);
    CServoUsb servo(&usb);
    CBusRecorder recorder;
    if (recorded) servo.SetRecorder(&recorder);
    t_isHostThread = true;
    for (int i = 0; i < 100; ++i) servo.Ping(1);  // warm up
    g_allocations = 0;
    g_countAllocations = true;
    for (auto _ : state) {
        if (!servo.Ping(1)) state.SkipWithError("no status");
    }
    g_countAllocations = false;
    t_isHostThread = false;
    state.counters["allocs_per_exchange"] =
        benchmark::Counter(static_cast<double>(g_allocations) / static_cast<double>(state.iterations()));
    if (recorded) state.counters["frames_recorded"] = static_cast<double>(recorder.NextSeq());
    usb.Close();
}

void BM_PingRoundTrip(benchmark::State& state) {
    PingRoundTrip(state, false);
}

// The same with every frame going into the recorder's ring, as in the application.
void BM_PingRoundTripRecorded(benchmark::State& state) {
    PingRoundTrip(state, true);
}

}  // namespace

BENCHMARK(BM_RawEchoFloor)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(0.5)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_PingRoundTrip)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(0.5)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

BENCHMARK(BM_PingRoundTripRecorded)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(0.5)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

BRENNIX_BENCHMARK_MAIN_WITH_RATIOS({"BM_PingRoundTrip/", "BM_RawEchoFloor/"},
                                   {"BM_PingRoundTripRecorded/", "BM_RawEchoFloor/"},
                                   {"BM_PingRoundTripRecorded/", "BM_PingRoundTrip/"})
