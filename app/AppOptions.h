// Command-line options of brennix-debug; without any the program behaves as the plain tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CAppOptions {
    // Servos of the embedded simulator (IDs 1..N), which then takes the adapter's place; 0 for none.
    int nSimulatedServos = 0;
    // Serial device to use instead of searching for the adapter's USB IDs; empty to search.
    std::string szPortPath;
    // USB IDs the search looks for when no port is named.
    uint16_t wUsbVendorId = 0x16C0;
    uint16_t wUsbProductId = 0x05E1;
    // Folder for the demo tour's pictures and files; empty for the ordinary interactive tool.
    std::string szTourDir;
    bool bHelp = false;
};

struct CAppOptionsResult {
    CAppOptions options;
    std::string szError;  // empty when the arguments were understood
};

inline constexpr int kDefaultSimulatedServos = 3;
inline constexpr int kMaxSimulatedServos = 253;

// The arguments after the program name. Only "--" options and -h are ours; anything else is the toolkit's.
// --help wins over any mistake beside it.
CAppOptionsResult ParseAppOptions(const std::vector<std::string>& args);
const char* AppUsage();
