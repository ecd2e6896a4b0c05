// The doctor's checks of the host around the adapter: the port itself, who holds it, udev, ModemManager and
// brltty, the FTDI latency timer and the user's groups. A check that does not apply says skip.
//
// Thread rules: any thread; nothing is kept open.
#pragma once

#include <string>
#include <vector>

#include "link/DoctorReport.h"

// Where the system's own files are: an empty root is the real system; tests hand in a made-up tree holding
// proc/, sys/, run/udev/data/, etc/ and usr/lib/ below it. The port itself is always the path given.
struct CHostPaths {
    std::string root;
};

struct CPortHolder {
    int pid = 0;
    std::string name;  // the process's command name
    bool operator==(const CPortHolder&) const = default;
};

// A port reached over the network (rfc2217://host:port): none of the host's checks apply to it.
bool IsRemotePort(const std::string& port);

// The processes other than ownPid that have the port open, found through their file descriptors in proc/.
std::vector<CPortHolder> PortHolders(const std::string& port, const CHostPaths& paths, int ownPid);

// The host's checks for the port, section "host". `opened`: the doctor holds the port already (it opened
// fine), so it is not opened again and the doctor itself is no holder. DoctorHost.cpp on Linux; on Windows
// (DoctorHostWin32.cpp) every check says skip.
std::vector<CCheck> HostChecks(const std::string& port, bool opened, const CHostPaths& paths = {});
