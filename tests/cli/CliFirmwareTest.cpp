// The client's firmware commands: reading an image file, and flashing a servo on the simulated bus.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "sim/BusSimulator.h"
#include "tests/support/CliRun.h"
#include "tests/support/LineRateProbe.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class CliFirmware : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_UNLESS_LINE_RATE(1000000);
        m_dir = fs::temp_directory_path() / ("brennix-cli-fw-" + std::to_string(getpid()));
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string Write(const std::string& name, const std::string& bytes) {
        const fs::path path = m_dir / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    // A whole image of distinct-looking bytes.
    std::string FullImage() {
        std::string bytes(12288, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13 + i / 256);
        return bytes;
    }

    // Flashes over the given simulator's port.
    CCliRun Flash(sim::CBusSimulator& bus, const std::string& id, const std::string& path) {
        return RunClient({"--port", bus.SlavePath(), "flash", id, path});
    }

    fs::path m_dir;
};

}  // namespace

TEST_F(CliFirmware, FirmwarePrintsTheImageAndItsBlockFrames) {
    // 16 bytes of 0xFF at 0x8000 and one byte at 0x8040: two blocks, the first the documented frame.
    const std::string hex = Write("fw.hex",
                                  ":10800000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF80\r\n"
                                  ":01804000122D\r\n"
                                  ":00000001FF\r\n");
    CCliRun run = RunClient({"firmware", hex});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "length 65\nblocks 2\nkind hex\n");

    run = RunClient({"firmware", "--frames", hex});
    ASSERT_EQ(run.code, EXIT_OK) << run.err;
    std::string first = "01 FE 00";
    for (int i = 0; i < 64; ++i) first += " FF";
    first += " AF 9F 06\n";
    std::string second = "02 FD 00 12";
    for (int i = 0; i < 63; ++i) second += " FF";
    EXPECT_EQ(run.out, "length 65\nblocks 2\nkind hex\n" + first + second + " 8F AD 04\n");

    run = RunClient({"firmware", Write("fw.bin", std::string(130, '\x01'))});
    EXPECT_EQ(run.out, "length 130\nblocks 3\nkind bin\n");
}

TEST_F(CliFirmware, FirmwareRefusesWhatCannotBeFlashed) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"firmware"}, "needs one FILE"},
        {{"firmware", "a.hex", "b.hex"}, "needs one FILE"},
        {{"firmware", Write("bad.hex", ":0100000001FF\n")}, "hex file fromat error"},
        {{"firmware", Write("big.bin", std::string(12289, 'x'))}, "bin file fromat error"},
        {{"firmware", Write("empty.bin", "")}, "holds no data"},
        {{"firmware", Write("fw.txt", "x")}, ".hex or .bin"},
        {{"firmware", (m_dir / "missing.bin").string()}, "Cannot open file"},
    };
    for (const auto& c : cases) {
        const CCliRun run = RunClient(c.args);
        EXPECT_EQ(run.code, EXIT_BAD_ARGUMENTS) << c.message;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty());
    }
}

TEST_F(CliFirmware, FlashLoadsTheImageIntoTheServo) {
    sim::CBusSimulator bus({1, 2});
    ASSERT_TRUE(bus.Start());
    const std::string image = FullImage();
    const CCliRun run = Flash(bus, "2", Write("fw.bin", image));
    ASSERT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "flashed 192 blocks to ID 2\n");
    EXPECT_NE(run.err.find("block 192/192 (100%)"), std::string::npos) << run.err;
    EXPECT_EQ(bus.Firmware(2), std::vector<uint8_t>(image.begin(), image.end()));
    EXPECT_TRUE(bus.Firmware(1).empty());
}

TEST_F(CliFirmware, FlashFailuresHaveTheirOwnCodes) {
    sim::CBusSimulator bus({1});
    ASSERT_TRUE(bus.Start());
    const std::string path = Write("fw.bin", FullImage());
    bus.SetBootFaults(1, {.nakAtBlock = 3});
    CCliRun run = Flash(bus, "1", path);
    EXPECT_EQ(run.code, EXIT_UPGRADE_ERROR);
    EXPECT_NE(run.err.find("upgrade error"), std::string::npos);
    run = Flash(bus, "9", path);
    EXPECT_EQ(run.code, EXIT_UPGRADE_ERROR) << "nobody answers the entry code";
    EXPECT_EQ(Flash(bus, "254", path).code, EXIT_BAD_ARGUMENTS) << "no broadcast flash";
    EXPECT_EQ(Flash(bus, "1", (m_dir / "missing.hex").string()).code, EXIT_BAD_ARGUMENTS);
    EXPECT_EQ(RunClient({"--port", bus.SlavePath(), "flash", "1"}).code, EXIT_BAD_ARGUMENTS);
}

TEST_F(CliFirmware, AnInterruptCancelsBeforeTheNextBlock) {
    sim::CBusSimulator bus({1});
    ASSERT_TRUE(bus.Start());
    const std::string path = Write("fw.bin", FullImage());
    bus.SetBootFaults(1, {.slowAtBlock = 5, .slowBy = 300ms});
    // Should the interrupt come after the flash (a very slow machine), it must not end the test run.
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = [](int) {};
    sigaction(SIGINT, &ignore, &previous);

    CCliRun run{};
    std::thread client([&] { run = Flash(bus, "1", path); });
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (bus.BootStatus(1).blocksAccepted < 4 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    // Block 5 is on its way once the client has seen the ACK of block 4; its answer takes 300 ms.
    std::this_thread::sleep_for(100ms);
    raise(SIGINT);
    client.join();
    sigaction(SIGINT, &previous, nullptr);

    EXPECT_EQ(run.code, EXIT_UPGRADE_CANCELLED) << run.err;
    EXPECT_NE(run.err.find("upgrade cancel"), std::string::npos);
    EXPECT_EQ(bus.BootStatus(1).blocksAccepted, 5) << "the block under way was finished";
    EXPECT_TRUE(bus.Firmware(1).empty());
}
