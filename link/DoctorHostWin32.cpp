// On Windows the host's checks (udev, proc, sysfs) have nothing to look at: each says so.
#include "link/DoctorHost.h"

#include "link/NetworkPortName.h"

bool IsRemotePort(const std::string& port) {
    return IsNetworkPortName(port);
}

std::vector<CPortHolder> PortHolders(const std::string&, const CHostPaths&, int) {
    return {};
}

std::vector<CCheck> HostChecks(const std::string&, bool, const CHostPaths&) {
    std::vector<CCheck> checks;
    for (const char* name :
         {"port holders", "udev rule", "uaccess tag", "ModemManager", "brltty", "latency timer", "groups"})
        checks.push_back({"host", name, ECheckLevel::Skip, "a Linux check; this is Windows", {}});
    return checks;
}
