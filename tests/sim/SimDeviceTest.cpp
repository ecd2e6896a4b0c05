// Serving an existing serial device instead of a new pseudo-terminal: a pty pair stands in for the device
// (the simulator serves the slave, the test is the host on the master).
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "sim/BusSimulator.h"
#include "sim/DevicePort.h"
#include "tests/sim/PtyClient.h"
#include "tests/support/LineRateProbe.h"

namespace {

using Bytes = std::vector<uint8_t>;
using simtest::Request;
using simtest::Status;

// A pty whose slave plays the served device; the master is the far end of the wire.
class CCrossWire {
public:
    CCrossWire() {
        m_nMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        std::array<char, 128> name{};
        if (m_nMaster >= 0 && grantpt(m_nMaster) == 0 && unlockpt(m_nMaster) == 0 &&
            ptsname_r(m_nMaster, name.data(), name.size()) == 0)
            m_szDevice = name.data();
    }
    ~CCrossWire() {
        if (m_nMaster >= 0) close(m_nMaster);
    }
    CCrossWire(const CCrossWire&) = delete;
    CCrossWire& operator=(const CCrossWire&) = delete;

    const std::string& Device() const { return m_szDevice; }
    bool Send(const Bytes& bytes) const {
        return write(m_nMaster, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    Bytes Receive(std::size_t count) const {
        Bytes got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd pfd{m_nMaster, POLLIN, 0};
            if (poll(&pfd, 1, 50) <= 0) continue;
            std::array<uint8_t, 64> buffer{};
            const ssize_t n = read(m_nMaster, buffer.data(), std::min(buffer.size(), count - got.size()));
            if (n <= 0) break;
            got.insert(got.end(), buffer.begin(), buffer.begin() + n);
        }
        return got;
    }

private:
    int m_nMaster = -1;
    std::string m_szDevice;
};

TEST(SimDevice, ServesTheDeviceAtItsServosRateAndGivesItBackOnStop) {
    SKIP_UNLESS_LINE_RATE(1000000);
    CCrossWire wire;
    ASSERT_FALSE(wire.Device().empty());
    sim::CBusSimulator bus({1, 2}, 4);  // 115200 baud
    bus.ServeDevice(wire.Device(), 115200);
    ASSERT_TRUE(bus.Start()) << bus.StartError();
    EXPECT_EQ(bus.SlavePath(), wire.Device());

    ASSERT_TRUE(wire.Send(Request(2, 0x01)));
    const Bytes status = Status(2, 0);
    EXPECT_EQ(wire.Receive(status.size()), status);

    std::string error;
    EXPECT_LT(sim::OpenServedDevice(wire.Device(), 115200, &error), 0)
        << "a served device is held exclusively";
    EXPECT_NE(error.find("in use"), std::string::npos) << error;

    bus.Stop();
    // Stopping must give the device up: its exclusive flag outlives the descriptor unless cleared.
    EXPECT_EQ(sim::ProbeServedDevice(wire.Device(), 76800, &error), 76800u) << error;
}

TEST(SimDevice, RefusesWhatIsNotASerialDeviceNamingTheCause) {
    const auto folder = std::filesystem::temp_directory_path() / ("sim-device-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string plain = folder / "plain", fifo = folder / "fifo";
    std::ofstream(plain) << "not a port";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string path;
        std::string cause;
    } cases[] = {
        {folder, "Is a directory"},
        {plain, "not a serial device"},
        {fifo, "not a serial device"},
        {(folder / "missing").string(), "No such file"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_LT(sim::OpenServedDevice(c.path, 115200, &error), 0) << c.path;
        EXPECT_NE(error.find(c.path), std::string::npos) << error;
        EXPECT_NE(error.find(c.cause), std::string::npos) << error;
    }
    sim::CBusSimulator bus;
    bus.ServeDevice(fifo, 115200);
    EXPECT_FALSE(bus.Start());
    EXPECT_NE(bus.StartError().find("not a serial device"), std::string::npos) << bus.StartError();
    std::filesystem::remove_all(folder);
}

}  // namespace
