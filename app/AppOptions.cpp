// Hand-written parsing: "--simulate" takes an optional "=N", which generic parsers do not offer, and the
// toolkit's own single-dash options must pass untouched before the toolkit has seen them.
#include "app/AppOptions.h"

#include <charconv>

#include "link/PortDiscovery.h"

namespace {

bool ParseServoCount(const std::string& text, int& count) {
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, count);
    return error == std::errc() && at == end && count >= 1 && count <= kMaxSimulatedServos;
}

}  // namespace

CAppOptionsResult ParseAppOptions(const std::vector<std::string>& args) {
    CAppOptionsResult result;
    CAppOptions& options = result.options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.bHelp = true;
        } else if (arg == "--simulate") {
            options.nSimulatedServos = kDefaultSimulatedServos;
        } else if (arg.rfind("--simulate=", 0) == 0) {
            if (!ParseServoCount(arg.substr(11), options.nSimulatedServos)) {
                result.szError = "--simulate needs a servo count from 1 to 253";
                return result;
            }
        } else if (arg == "--port") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                result.szError = "--port needs a device path";
                return result;
            }
            options.szPortPath = args[++i];
        } else if (arg.rfind("--port=", 0) == 0 && arg.size() > 7) {
            options.szPortPath = arg.substr(7);
        } else if (arg == "--usb-id" || (arg.rfind("--usb-id=", 0) == 0)) {
            const bool joined = arg.size() > 8;
            if (!joined && i + 1 >= args.size()) {
                result.szError = "--usb-id needs VID:PID";
                return result;
            }
            const std::string text = joined ? arg.substr(9) : args[++i];
            const auto id = ParseUsbId(text);
            if (!id) {
                result.szError = "--usb-id needs VID:PID in hex, such as 16C0:05E1, not \"" + text + "\"";
                return result;
            }
            options.wUsbVendorId = id->vendorId;
            options.wUsbProductId = id->productId;
        } else if (arg == "--tour") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                result.szError = "--tour needs a directory";
                return result;
            }
            options.szTourDir = args[++i];
        } else if (arg.rfind("--tour=", 0) == 0 && arg.size() > 7) {
            options.szTourDir = arg.substr(7);
        } else if (arg.rfind("--", 0) == 0) {
            result.szError = "unknown option: " + arg;
            return result;
        }
    }
    if (options.nSimulatedServos > 0 && !options.szPortPath.empty()) {
        result.szError = "--simulate and --port exclude each other";
    } else if (!options.szTourDir.empty() && options.nSimulatedServos == 0) {
        // The tour writes parameters and firmware into the servos it finds: never into real ones.
        result.szError = "--tour runs only on the simulated bus: add --simulate";
    }
    return result;
}

const char* AppUsage() {
    return "usage: brennix-debug [--simulate[=N]] [--port PATH | --usb-id VID:PID] [--tour DIR]\n"
           "  --simulate[=N]  run against N simulated servos (IDs 1..N, default 3) instead of the adapter\n"
           "  --port PATH     use this serial device instead of searching for the adapter's USB IDs;\n"
           "                  rfc2217://HOST:PORT reaches one another computer serves (ser2net)\n"
           "  --usb-id VID:PID  search for an adapter with this USB ID (default 16C0:05E1)\n"
           "  --tour DIR      with --simulate: walk through the whole tool by itself, save a picture of the\n"
           "                  window after each step into DIR, print their paths and quit\n";
}
