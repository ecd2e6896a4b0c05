// The doctor's pure parts: its report as text and Markdown, alarm names, and the host's checks read from a
// made-up system tree (processes, sysfs, the udev database) around a real character device.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "link/Doctor.h"
#include "link/DoctorHost.h"
#include "link/DoctorReport.h"
#include "tests/program/TempDir.h"

namespace {

namespace fs = std::filesystem;

TEST(DoctorReport, PrintsOneLinePerCheckWithItsHintAndASummary) {
    CDoctorReport report;
    report.Add("host", "port", ECheckLevel::Ok, "/dev/ttyUSB0 exists");
    report.Add("servo 3 @ 1000000", "temperature", ECheckLevel::Fail, "85 °C, above its limit (limit 80 °C)",
               "let it cool");
    report.Add("host", "latency timer", ECheckLevel::Skip, "not an FTDI adapter");
    EXPECT_TRUE(report.Failed());
    EXPECT_EQ(ReportText(report),
              "ok    host               port: /dev/ttyUSB0 exists\n"
              "fail  servo 3 @ 1000000  temperature: 85 °C, above its limit (limit 80 °C) — let it cool\n"
              "skip  host               latency timer: not an FTDI adapter\n"
              "1 ok, 1 fail, 1 skip\n");
    report.Add("bus", "odd | name", ECheckLevel::Warn, "a|b");
    EXPECT_EQ(
        ReportMarkdown(report),
        "| result | where | check | seen | what to do |\n|---|---|---|---|---|\n"
        "| ok | host | port | /dev/ttyUSB0 exists |  |\n"
        "| fail | servo 3 @ 1000000 | temperature | 85 °C, above its limit (limit 80 °C) | let it cool |\n"
        "| skip | host | latency timer | not an FTDI adapter |  |\n"
        "| warn | bus | odd \\| name | a\\|b |  |\n\n1 ok, 1 warn, 1 fail, 1 skip\n");
    EXPECT_FALSE(CDoctorReport{}.Failed());
}

TEST(DoctorAlarms, NamesVoltageByTheServosOwnLimits) {
    EXPECT_EQ(AlarmNames(0x00, 74, 50, 250), "");
    EXPECT_EQ(AlarmNames(0x01, 30, 50, 250), "under-voltage");
    EXPECT_EQ(AlarmNames(0x01, 251, 50, 250), "over-voltage");
    EXPECT_EQ(AlarmNames(0x25, 74, 50, 250), "voltage, over-heat, over-load")
        << "bit 0 set within the limits";
    EXPECT_EQ(AlarmNames(0x42, 74, 50, 250), "bit 1, instruction");
}

// A made-up system around /dev/null (a real character device the checks can stat): its tty entry in sysfs,
// its udev database entry, processes in proc/ with descriptors pointing at it.
class DoctorHost : public ::testing::Test {
protected:
    void SetUp() override {
        struct stat info {};
        ASSERT_EQ(::stat(kPort, &info), 0);
        m_udevEntry = "run/udev/data/c" + std::to_string(major(info.st_rdev)) + ":" +
                      std::to_string(minor(info.st_rdev));
    }
    fs::path At(const std::string& relative) const { return m_dir.Path() / relative; }
    void Write(const std::string& relative, const std::string& text) {
        fs::create_directories(At(relative).parent_path());
        std::ofstream(At(relative)) << text;
    }
    // An FTDI adapter on USB: the tty's device is the usb-serial port under the interface under the device.
    void UsbAdapter(const std::string& latency) {
        const std::string usb = "sys/devices/pci0/usb1/1-1";
        Write(usb + "/idVendor", "0403\n");
        Write(usb + "/idProduct", "6001\n");
        fs::create_directories(At(usb + "/1-1:1.0/ttyUSB0"));
        if (!latency.empty()) Write(usb + "/1-1:1.0/ttyUSB0/latency_timer", latency);
        fs::create_directories(At("sys/class/tty/null"));
        fs::create_directory_symlink(At(usb + "/1-1:1.0/ttyUSB0"), At("sys/class/tty/null/device"));
    }
    void Process(int pid, const std::string& name, bool holdsPort) {
        Write("proc/" + std::to_string(pid) + "/comm", name + "\n");
        fs::create_directories(At("proc/" + std::to_string(pid) + "/fd"));
        if (holdsPort) fs::create_symlink(kPort, At("proc/" + std::to_string(pid) + "/fd/7"));
    }
    std::map<std::string, CCheck> Checks(bool opened = true) {
        std::map<std::string, CCheck> byName;
        for (const CCheck& c : HostChecks(kPort, opened, {m_dir.Path().string()})) {
            EXPECT_EQ(c.section, "host");
            byName[c.name] = c;
        }
        return byName;
    }

    static constexpr const char* kPort = "/dev/null";
    CTempDir m_dir;
    std::string m_udevEntry;
};

TEST_F(DoctorHost, NamesEachProblemOfAnUntunedAdapterWithAHint) {
    UsbAdapter("16\n");
    Write(m_udevEntry, "E:ID_VENDOR_ID=0403\n");
    Process(800, "ModemManager", true);
    Process(801, "brltty", false);
    Process(802, "minicom", true);
    auto checks = Checks();
    EXPECT_EQ(checks["port"].level, ECheckLevel::Ok);
    EXPECT_EQ(checks["port holders"].level, ECheckLevel::Warn);
    EXPECT_EQ(checks["port holders"].detail, "also open in ModemManager (PID 800), minicom (PID 802)");
    EXPECT_EQ(checks["udev rule"].level, ECheckLevel::Warn);
    EXPECT_NE(checks["udev rule"].hint.find("/etc/udev/rules.d/"), std::string::npos);
    EXPECT_EQ(checks["uaccess tag"].level, ECheckLevel::Warn);
    EXPECT_NE(checks["uaccess tag"].detail.find("USB 0403:6001"), std::string::npos)
        << checks["uaccess tag"].detail;
    EXPECT_EQ(checks["ModemManager"].level, ECheckLevel::Fail) << "it holds the port";
    EXPECT_EQ(checks["brltty"].level, ECheckLevel::Warn) << "running, not holding it";
    EXPECT_EQ(checks["latency timer"].level, ECheckLevel::Warn);
    EXPECT_EQ(checks["latency timer"].detail, "16 ms: every answer may wait that long in the adapter");
    EXPECT_EQ(checks["latency timer"].hint, "echo 1 | sudo tee /sys/class/tty/null/device/latency_timer");
    for (const auto& [name, check] : checks) {
        if (check.level == ECheckLevel::Warn || check.level == ECheckLevel::Fail) {
            EXPECT_FALSE(check.hint.empty()) << name;
        }
    }
}

TEST_F(DoctorHost, PassesAWellSetUpAdapterAndSkipsWhatDoesNotApply) {
    UsbAdapter("1\n");
    Write(m_udevEntry, "E:ID_MM_DEVICE_IGNORE=1\nG:uaccess\nQ:uaccess\n");
    Write("usr/lib/udev/rules.d/70-brennix-adapter.rules", "# the rule\n");
    Process(800, "ModemManager", false);
    Process(static_cast<int>(::getpid()), "brennix", true);  // the doctor itself holds it
    auto checks = Checks();
    for (const char* name : {"port", "port opens", "port holders", "udev rule", "uaccess tag", "ModemManager",
                             "brltty", "latency timer", "groups"})
        EXPECT_EQ(checks[name].level, ECheckLevel::Ok) << name << ": " << checks[name].detail;
    EXPECT_EQ(checks["ModemManager"].detail,
              "running, told to leave the adapter alone (ID_MM_DEVICE_IGNORE)");

    // Without a USB adapter behind the tty (a pseudo-terminal, a built-in port) the adapter's checks skip.
    fs::remove(At("sys/class/tty/null/device"));
    checks = Checks();
    for (const char* name : {"udev rule", "uaccess tag", "ModemManager", "brltty", "latency timer"})
        EXPECT_EQ(checks[name].level, ECheckLevel::Skip) << name;
    // Another USB adapter: no latency timer to read.
    fs::remove(At("sys/devices/pci0/usb1/1-1/1-1:1.0/ttyUSB0/latency_timer"));
    fs::create_directory_symlink(At("sys/devices/pci0/usb1/1-1/1-1:1.0/ttyUSB0"),
                                 At("sys/class/tty/null/device"));
    EXPECT_EQ(Checks()["latency timer"].detail, "not an FTDI adapter");
}

TEST_F(DoctorHost, AMissingOrRemotePortFailsOrSkipsWithoutLookingFurther) {
    const auto missing = HostChecks("/dev/no-such-adapter", false, {m_dir.Path().string()});
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_EQ(missing[0].level, ECheckLevel::Fail);
    EXPECT_EQ(missing[0].detail, "no such port: /dev/no-such-adapter");
    const auto remote = HostChecks("rfc2217://robot.local:4001", false, {m_dir.Path().string()});
    ASSERT_FALSE(remote.empty());
    for (const CCheck& c : remote) EXPECT_EQ(c.level, ECheckLevel::Skip) << c.name;
    EXPECT_TRUE(IsRemotePort("rfc2217://10.0.0.2:2217"));
    EXPECT_FALSE(IsRemotePort("/dev/ttyUSB0"));
}

TEST_F(DoctorHost, FindsTheProcessesThatHoldThePortByNameAndPid) {
    Process(10, "minicom", true);
    Process(11, "bash", false);
    Process(static_cast<int>(::getpid()), "brennix", true);
    Write("proc/self/comm", "brennix\n");  // not a PID: ignored
    EXPECT_EQ(PortHolders(kPort, {m_dir.Path().string()}, static_cast<int>(::getpid())),
              (std::vector<CPortHolder>{{10, "minicom"}}));
}

}  // namespace
