// Ping round trip through the whole link against the simulator, next to the floor of a raw echo of the same
// six bytes over a pseudo-terminal; also counts heap allocations per exchange in the host.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <new>
#include <thread>

#include "BrennixUsb.h"
#include "BusSimulator.h"
#include "RatioReporter.h"
#include "ServoUsb.h"

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

// Echoes whatever arrives on a pty master back to it: the cost of the bytes' trip without any protocol.
class CEchoPty {
public:
    CEchoPty() {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(m_master);
        unlockpt(m_master);
        m_path = ptsname(m_master);
        if (pipe(m_wake) != 0) std::abort();
        m_thread = std::thread([this] { Run(); });
    }
    ~CEchoPty() {
        if (write(m_wake[1], "x", 1) < 0) std::perror("wake");
        m_thread.join();
        close(m_master);
        close(m_wake[0]);
        close(m_wake[1]);
    }
    const std::string& Path() const { return m_path; }

private:
    void Run() {
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        uint8_t buffer[256];
        while (poll(fds, 2, -1) > 0 && !(fds[1].revents & POLLIN)) {
            if (fds[0].revents & POLLIN) {
                const ssize_t n = read(m_master, buffer, sizeof buffer);
                if (n > 0 && write(m_master, buffer, static_cast<size_t>(n)) < 0) return;
            } else if (fds[0].revents) {
                usleep(1000);  // no slave open yet
            }
        }
    }
    int m_master = -1;
    int m_wake[2] = {-1, -1};
    std::string m_path;
    std::thread m_thread;
};

void BM_RawEchoFloor(benchmark::State& state) {
    CEchoPty echo;
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

void BM_PingRoundTrip(benchmark::State& state) {
    sim::CBusSimulator bus({1});
    bus.Start();
    CBrennixUsb usb;
    usb.SetPortPath(bus.SlavePath());
    usb.FindDevice();
    usb.Open();
    usb.Configure(1000000);
    CServoUsb servo(&usb);
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
    usb.Close();
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

BRENNIX_BENCHMARK_MAIN_WITH_RATIOS({"BM_PingRoundTrip", "BM_RawEchoFloor"})
