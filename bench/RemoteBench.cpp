// A ping's round trip through ser2net on loopback (RFC 2217) against the same ping through the local
// pseudo-terminal, at 1000000 and at 115200, and the all-rate scan both ways. ser2net runs as our own
// instance with our own configuration (the one the README gives a robot's computer) serving the simulator's
// pseudo-terminal; without ser2net installed the network benchmarks skip with that reason.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "bench/RatioReporter.h"
#include "link/BrennixUsb.h"
#include "link/BusScanner.h"
#include "link/ControlTable.h"
#include "link/Rfc2217Usb.h"
#include "link/SerialScanLine.h"
#include "link/ServoUsb.h"
#include "sim/BusSimulator.h"

namespace {

int FreeTcpPort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    return ntohs(address.sin_port);
}

// Our own ser2net, killed when it goes out of scope.
class CSer2net {
public:
    explicit CSer2net(const std::string& device) : m_port(FreeTcpPort()) {
        m_config = "/tmp/brennix-bench-ser2net-" + std::to_string(::getpid()) + ".yaml";
        std::ofstream(m_config) << "connection: &bus\n"
                                << "    accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1," << m_port << "\n"
                                << "    enable: on\n"
                                << "    options:\n"
                                << "      chardelay: false\n"
                                << "    connector: serialdev," << device << ",1000000n81,local\n";
        m_pid = ::fork();
        if (m_pid == 0) {
            std::freopen("/dev/null", "w", stderr);
            ::execlp("ser2net", "ser2net", "-n", "-u", "-c", m_config.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Up once it takes connections.
        for (int i = 0; i < 100 && !Listening(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ~CSer2net() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
        std::remove(m_config.c_str());
    }
    CSer2net(const CSer2net&) = delete;
    CSer2net& operator=(const CSer2net&) = delete;

    std::string PortName() const { return "rfc2217://127.0.0.1:" + std::to_string(m_port); }
    bool Listening() const {
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(m_port));
        const bool up = ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(probe);
        return up;
    }

private:
    int m_port;
    pid_t m_pid = -1;
    std::string m_config;
};

bool HaveSer2net() {
    return std::system("command -v ser2net >/dev/null 2>&1") == 0;
}

// The servo and the port at one rate: the local pseudo-terminal, or the network port ser2net serves it as.
struct CBench {
    explicit CBench(std::vector<sim::CSimServoSpec> servos) : bus(servos, sim::CSimLineOptions{}) {
        if (!bus.Start()) std::abort();
    }
    std::unique_ptr<CUsb> Open(bool remote, int baud) {
        std::unique_ptr<CUsb> usb;
        if (remote) {
            ser2net = std::make_unique<CSer2net>(bus.SlavePath());
            usb = std::make_unique<CRfc2217Usb>(ser2net->PortName());
        } else {
            auto local = std::make_unique<CBrennixUsb>();
            local->SetPortPath(bus.SlavePath());
            usb = std::move(local);
        }
        if (usb->FindDevice() != 1 || usb->Open() != 1) return nullptr;
        usb->Configure(baud);
        return usb;
    }
    sim::CBusSimulator bus;
    std::unique_ptr<CSer2net> ser2net;
};

void PingRoundTrip(benchmark::State& state, bool remote) {
    if (remote && !HaveSer2net())
        return state.SkipWithError("ser2net is not installed (make test-remote installs it)");
    const int baud = static_cast<int>(state.range(0));
    CBench bench({sim::DefaultServo(1, static_cast<uint8_t>(BaudCodeOf(static_cast<uint32_t>(baud))))});
    const auto usb = bench.Open(remote, baud);
    if (!usb) return state.SkipWithError("cannot open the port");
    CServoUsb servo(usb.get());
    for (int i = 0; i < 20; ++i) servo.Ping(1);  // warm up
    for (auto _ : state) {
        if (!servo.Ping(1)) state.SkipWithError("no status");
    }
    usb->Close();
}

void BM_PingLocal(benchmark::State& state) {
    PingRoundTrip(state, false);
}
void BM_PingThroughSer2net(benchmark::State& state) {
    PingRoundTrip(state, true);
}

// Servos at 1000000, 115200 and 38400: every rate answers its broadcast ping or is skipped, and the three
// that answered are swept from 0 to 253.
void AllRateScan(benchmark::State& state, bool remote) {
    if (remote && !HaveSer2net())
        return state.SkipWithError("ser2net is not installed (make test-remote installs it)");
    CBench bench({sim::DefaultServo(1, 0), sim::DefaultServo(7, 4), sim::DefaultServo(9, 7)});
    const auto usb = bench.Open(remote, 1000000);
    if (!usb) return state.SkipWithError("cannot open the port");
    CServoUsb servo(usb.get());
    CSerialScanLine line(*usb);
    CBusScanner scanner(servo, line);
    for (auto _ : state) {
        if (scanner.Scan({}, {}).servos.size() != 3) state.SkipWithError("a servo was missed");
    }
    usb->Close();
}

void BM_AllRateScanLocal(benchmark::State& state) {
    AllRateScan(state, false);
}
void BM_AllRateScanThroughSer2net(benchmark::State& state) {
    AllRateScan(state, true);
}

}  // namespace

BENCHMARK(BM_PingLocal)
    ->Arg(1000000)
    ->Arg(115200)
    ->Iterations(200)
    ->Repetitions(3)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PingThroughSer2net)
    ->Arg(1000000)
    ->Arg(115200)
    ->Iterations(200)
    ->Repetitions(3)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AllRateScanLocal)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AllRateScanThroughSer2net)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

BRENNIX_BENCHMARK_MAIN_WITH_RATIOS({"BM_PingThroughSer2net/1000000", "BM_PingLocal/1000000"},
                                   {"BM_PingThroughSer2net/115200", "BM_PingLocal/115200"},
                                   {"BM_AllRateScanThroughSer2net", "BM_AllRateScanLocal"})
