// The host's checks on Linux: proc/ for processes, sys/ for the adapter, run/udev/data/ for its tags.
#include "link/DoctorHost.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "link/NetworkPortName.h"
#include "link/PortCheck.h"

namespace {

namespace fs = std::filesystem;

const char* const kSection = "host";
const char* const kRuleName = "70-brennix-adapter.rules";

std::string FirstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

fs::path Under(const CHostPaths& paths, const std::string& systemPath) {
    return paths.root.empty() ? fs::path(systemPath) : fs::path(paths.root) / systemPath.substr(1);
}

// The port with its symlinks (/dev/brennix-adapter, /dev/serial/by-id/...) resolved.
std::string Resolved(const std::string& port) {
    std::error_code ec;
    const fs::path real = fs::canonical(port, ec);
    return ec ? port : real.string();
}

struct CProcess {
    int pid;
    std::string name;
};

std::vector<CProcess> Processes(const CHostPaths& paths) {
    std::vector<CProcess> all;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(Under(paths, "/proc"), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        all.push_back({std::stoi(name), FirstLine(entry.path() / "comm")});
    }
    std::sort(all.begin(), all.end(), [](const CProcess& a, const CProcess& b) { return a.pid < b.pid; });
    return all;
}

std::optional<CProcess> Running(const std::vector<CProcess>& processes, const std::string& name) {
    for (const CProcess& p : processes)
        if (p.name == name) return p;
    return std::nullopt;
}

// The processes holding a lock (flock or fcntl) on the file, from proc/locks; waiters ("->") are not holders.
std::vector<int> LockHolders(const std::string& port, const CHostPaths& paths) {
    struct stat info {};
    std::vector<int> pids;
    if (::stat(port.c_str(), &info) != 0) return pids;
    char device[48];
    std::snprintf(device, sizeof device, "%02x:%02x:%llu", major(info.st_dev), minor(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));
    std::ifstream in(Under(paths, "/proc/locks"));
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, where;
        fields >> number >> kind;
        if (kind == "->") continue;
        fields >> mode >> access >> pid >> where;
        if (where == device && !pid.empty() && pid.find_first_not_of("0123456789") == std::string::npos)
            pids.push_back(std::stoi(pid));
    }
    return pids;
}

std::string Holders(const std::vector<CPortHolder>& holders) {
    std::string text;
    for (const CPortHolder& h : holders)
        text += (text.empty() ? "" : ", ") + h.name + " (PID " + std::to_string(h.pid) + ")";
    return text;
}

bool Holds(const std::vector<CPortHolder>& holders, const std::string& name) {
    for (const CPortHolder& h : holders)
        if (h.name == name) return true;
    return false;
}

// What sysfs and the udev database say about the adapter behind a tty.
struct CAdapter {
    bool usb = false;
    std::string vendor, product;   // USB IDs as sysfs writes them, lower-case hex
    std::optional<int> latencyMs;  // FTDI only
    bool udevKnown = false;        // the udev database has an entry for the device
    bool uaccess = false;
    bool modemManagerIgnores = false;
};

CAdapter Adapter(const std::string& resolved, const CHostPaths& paths) {
    CAdapter adapter;
    const std::string tty = fs::path(resolved).filename().string();
    const fs::path device = Under(paths, "/sys/class/tty") / tty / "device";
    std::error_code ec;
    if (fs::exists(device, ec)) {
        const std::string latency = FirstLine(device / "latency_timer");
        if (!latency.empty() && latency.find_first_not_of("0123456789") == std::string::npos)
            adapter.latencyMs = std::stoi(latency);
        // The USB device with its IDs is a few levels up from the tty's device: port, interface, device.
        fs::path at = fs::canonical(device, ec);
        for (int up = 0; !ec && up < 5 && !at.empty(); ++up, at = at.parent_path()) {
            if (fs::exists(at / "idVendor")) {
                adapter.usb = true;
                adapter.vendor = FirstLine(at / "idVendor");
                adapter.product = FirstLine(at / "idProduct");
                break;
            }
        }
    }
    struct stat info {};
    if (::stat(resolved.c_str(), &info) == 0 && S_ISCHR(info.st_mode)) {
        const fs::path data = Under(paths, "/run/udev/data") / ("c" + std::to_string(major(info.st_rdev)) +
                                                                ":" + std::to_string(minor(info.st_rdev)));
        std::ifstream in(data);
        adapter.udevKnown = in.good();
        for (std::string line; std::getline(in, line);) {
            if (line == "G:uaccess" || line == "Q:uaccess") adapter.uaccess = true;
            if (line == "E:ID_MM_DEVICE_IGNORE=1") adapter.modemManagerIgnores = true;
        }
    }
    return adapter;
}

// Opens and locks the port the way the tool does, then lets go; empty when that worked.
std::string OpenProblem(const std::string& port) {
    const int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == EACCES ? "no permission to open " + port : PortProblem(port);
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    const int why = errno;
    ::close(fd);
    if (!locked) return why == EWOULDBLOCK ? port + " is held by another program" : "cannot lock " + port;
    return {};
}

std::string GroupName(gid_t gid) {
    const group* g = ::getgrgid(gid);
    return g ? g->gr_name : std::to_string(gid);
}

std::string UserGroups() {
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)) + 1);
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    std::string text = GroupName(::getgid());
    for (int i = 0; i < count; ++i)
        if (groups[i] != ::getgid()) text += " " + GroupName(groups[i]);
    return text;
}

}  // namespace

bool IsRemotePort(const std::string& port) {
    return IsNetworkPortName(port);
}

std::vector<CPortHolder> PortHolders(const std::string& port, const CHostPaths& paths, int ownPid) {
    const std::string target = Resolved(port);
    std::vector<CPortHolder> holders;
    for (const CProcess& process : Processes(paths)) {
        if (process.pid == ownPid) continue;
        std::error_code ec;
        const fs::path fds = Under(paths, "/proc") / std::to_string(process.pid) / "fd";
        for (const auto& fd : fs::directory_iterator(fds, ec)) {
            std::error_code linkError;
            const fs::path points = fs::read_symlink(fd.path(), linkError);
            if (!linkError && (points == target || points == port)) {
                holders.push_back({process.pid, process.name});
                break;
            }
        }
    }
    return holders;
}

namespace {

// Adds the host's checks.
class CHostSection {
public:
    explicit CHostSection(std::vector<CCheck>& checks) : m_checks(checks) {}
    void Add(const char* name, ECheckLevel level, std::string detail, std::string hint = {}) {
        m_checks.push_back({kSection, name, level, std::move(detail), std::move(hint)});
    }
    ECheckLevel LastLevel() const { return m_checks.back().level; }

private:
    std::vector<CCheck>& m_checks;
};

// Who keeps others out: the lock holders when proc/locks names them, else whoever has it open.
std::vector<CPortHolder> Lockers(const std::string& resolved, const std::vector<CPortHolder>& holders,
                                 const CHostPaths& paths) {
    std::vector<CPortHolder> lockers;
    for (const int pid : LockHolders(resolved, paths))
        for (const CPortHolder& h : holders)
            if (h.pid == pid) lockers.push_back(h);
    return lockers.empty() ? holders : lockers;
}

void CheckPortOpens(CHostSection& host, const std::string& port, bool opened,
                    const std::vector<CPortHolder>& lockers) {
    if (opened) {
        host.Add("port opens", ECheckLevel::Ok, port + " opens (the doctor has it open)");
    } else if (const std::string problem = OpenProblem(port); problem.empty()) {
        host.Add("port opens", ECheckLevel::Ok, port + " opens");
    } else if (!lockers.empty()) {
        host.Add("port opens", ECheckLevel::Fail, port + " is held by " + Holders(lockers),
                 "close that program" + std::string(lockers.size() > 1 ? "s" : "") + " (kill " +
                     std::to_string(lockers.front().pid) + ")");
    } else {
        host.Add("port opens", ECheckLevel::Fail, problem,
                 problem.find("permission") != std::string::npos
                     ? "join the group that owns the port (see groups) or install the udev rule"
                     : "close the program that holds it");
    }
}

void CheckOtherHolders(CHostSection& host, const std::string& port, const std::string& resolved,
                       const std::vector<CPortHolder>& holders) {
    if (holders.empty())
        host.Add("port holders", ECheckLevel::Ok, "no other program has " + port + " open");
    else if (resolved.rfind("/dev/pts/", 0) == 0)
        host.Add("port holders", ECheckLevel::Info,
                 "also open in " + Holders(holders) + ": the far end of a pseudo-terminal keeps it open");
    else
        host.Add("port holders", ECheckLevel::Warn, "also open in " + Holders(holders),
                 "two programs on one bus garble each other's exchanges: close the other one");
}

void CheckUdev(CHostSection& host, const std::string& resolved, const CAdapter& adapter,
               const CHostPaths& paths) {
    if (!adapter.usb) {
        host.Add("udev rule", ECheckLevel::Skip, resolved + " is not a USB adapter");
        host.Add("uaccess tag", ECheckLevel::Skip, resolved + " is not a USB adapter");
        return;
    }
    std::error_code ec;
    bool installed = false;
    for (const char* dir : {"/etc/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"})
        installed = installed || fs::exists(Under(paths, dir) / kRuleName, ec);
    if (installed)
        host.Add("udev rule", ECheckLevel::Ok, std::string(kRuleName) + " is installed");
    else
        host.Add("udev rule", ECheckLevel::Warn, std::string(kRuleName) + " is not installed",
                 "sudo cp packaging/" + std::string(kRuleName) +
                     " /etc/udev/rules.d/ && sudo udevadm control --reload && sudo udevadm trigger");
    if (adapter.uaccess)
        host.Add("uaccess tag", ECheckLevel::Ok,
                 resolved + " carries the uaccess tag: the user at the seat may open it");
    else
        host.Add("uaccess tag", ECheckLevel::Warn,
                 resolved + " (USB " + adapter.vendor + ":" + adapter.product + ") carries no uaccess tag",
                 "the rule tags USB 16c0:05e1 only; for another adapter join the group that owns the port");
}

// A program that takes USB-serial adapters for its own: what to say when it holds the port, and when it
// only runs.
struct CClaimer {
    const char* name;
    const char* holdsHint;
    ECheckLevel runsLevel;
    const char* runs;
    const char* runsHint;
};

void CheckClaimers(CHostSection& host, const std::string& port, const std::string& resolved,
                   const CAdapter& adapter, const std::vector<CPortHolder>& holders,
                   const CHostPaths& paths) {
    const CClaimer claimers[] = {
        {"ModemManager",
         "its modem probe garbles the bus: install the udev rule, or sudo systemctl disable --now "
         "ModemManager",
         adapter.modemManagerIgnores ? ECheckLevel::Ok : ECheckLevel::Warn,
         adapter.modemManagerIgnores ? "running, told to leave the adapter alone (ID_MM_DEVICE_IGNORE)"
                                     : "running, and may probe the adapter when it is plugged in",
         adapter.modemManagerIgnores ? ""
                                     : "install the udev rule, or sudo systemctl disable --now ModemManager"},
        {"brltty",
         "it took the adapter for a braille display: sudo apt remove brltty (or disable its udev rules)",
         ECheckLevel::Warn, "running: it takes some USB-serial adapters for braille displays",
         "if the port vanishes when plugged in, sudo apt remove brltty"},
    };
    const std::vector<CProcess> processes = Processes(paths);
    for (const CClaimer& claimer : claimers) {
        const auto running = Running(processes, claimer.name);
        if (!adapter.usb)
            host.Add(claimer.name, ECheckLevel::Skip, resolved + " is not a USB adapter");
        else if (!running)
            host.Add(claimer.name, ECheckLevel::Ok, "not running");
        else if (Holds(holders, claimer.name))
            host.Add(claimer.name, ECheckLevel::Fail,
                     std::string(claimer.name) + " (PID " + std::to_string(running->pid) + ") has " + port +
                         " open",
                     claimer.holdsHint);
        else
            host.Add(claimer.name, claimer.runsLevel, claimer.runs, claimer.runsHint);
    }
}

void CheckLatency(CHostSection& host, const std::string& resolved, const CAdapter& adapter) {
    if (!adapter.latencyMs) {
        host.Add("latency timer", ECheckLevel::Skip,
                 adapter.usb ? "not an FTDI adapter" : resolved + " is not a USB adapter");
    } else if (*adapter.latencyMs <= 1) {
        host.Add("latency timer", ECheckLevel::Ok, std::to_string(*adapter.latencyMs) + " ms");
    } else {
        const std::string tty = fs::path(resolved).filename().string();
        host.Add("latency timer", ECheckLevel::Warn,
                 std::to_string(*adapter.latencyMs) + " ms: every answer may wait that long in the adapter",
                 "echo 1 | sudo tee /sys/class/tty/" + tty + "/device/latency_timer");
    }
}

void CheckGroups(CHostSection& host, const std::string& port, gid_t portGroup) {
    const std::string groups = UserGroups();
    if (::getuid() == 0) {
        host.Add("groups", ECheckLevel::Ok, "root: every port is open to you (groups: " + groups + ")");
    } else if (::access(port.c_str(), R_OK | W_OK) == 0) {
        host.Add("groups", ECheckLevel::Ok, port + " is open to you (groups: " + groups + ")");
    } else {
        const std::string owner = GroupName(portGroup);
        host.Add("groups", ECheckLevel::Warn,
                 "you are not in " + owner + ", which owns " + port + " (groups: " + groups + ")",
                 "sudo usermod -aG " + owner + " $USER, then log in again");
    }
}

}  // namespace

std::vector<CCheck> HostChecks(const std::string& port, bool opened, const CHostPaths& paths) {
    std::vector<CCheck> checks;
    CHostSection host(checks);
    if (IsRemotePort(port)) {
        for (const char* name : {"port", "port opens", "udev rule", "uaccess tag", "ModemManager", "brltty",
                                 "latency timer", "groups"})
            host.Add(name, ECheckLevel::Skip, "a remote port: its adapter is on another machine");
        return checks;
    }
    struct stat info {};
    if (::stat(port.c_str(), &info) != 0) {
        host.Add("port", ECheckLevel::Fail, "no such port: " + port,
                 "plug the adapter in; ls /dev/serial/by-id lists the adapters the system sees");
        return checks;
    }
    const std::string resolved = Resolved(port);
    host.Add("port", ECheckLevel::Ok, port + (resolved != port ? " (" + resolved + ")" : "") + " exists");

    const std::vector<CPortHolder> holders = PortHolders(port, paths, static_cast<int>(::getpid()));
    CheckPortOpens(host, port, opened, Lockers(resolved, holders, paths));
    if (opened || host.LastLevel() == ECheckLevel::Ok) CheckOtherHolders(host, port, resolved, holders);
    const CAdapter adapter = Adapter(resolved, paths);
    CheckUdev(host, resolved, adapter, paths);
    CheckClaimers(host, port, resolved, adapter, holders, paths);
    CheckLatency(host, resolved, adapter);
    CheckGroups(host, port, info.st_gid);
    return checks;
}
