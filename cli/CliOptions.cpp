// Parsing of the client's options; every malformed number is refused rather than read as 0.
#include "CliOptions.h"

#include <cerrno>
#include <cstdlib>

#include "PortDiscovery.h"

const char* const CLI_USAGE =
    "usage: brennix [--port PATH | --usb-id VID:PID] [--baud RATE] [--timeout MS] [--simulate[=N]] COMMAND\n"
    "  without --port the adapter is found by its USB ID (default 16C0:05E1; e.g. --usb-id 0403:6001)\n"
    "commands:\n"
    "  ping ID                 print the ID that answers\n"
    "  scan [FROM [TO]]        ping IDs FROM..TO (default 0..253), one found ID per line\n"
    "  read ID ADDR COUNT      read COUNT bytes from ADDR, printed as hex\n"
    "  write ID ADDR BYTE...   write hex bytes from ADDR and await the status\n"
    "  reset ID                restore the servo's factory defaults\n"
    "  dump ID                 the servo's registers by name, 16-bit values in host order\n"
    "  firmware FILE [--frames]  length, blocks and kind of a .hex or .bin image; --frames lists them\n"
    "  flash ID FILE           load the image into the servo through its boot loader (Ctrl+C cancels)\n"
    "exit codes: 0 ok, 1 no reply, 2 bad arguments, 3 no adapter, 4 port busy, missing or gone,\n"
    "            5 upgrade error, 6 upgrade cancelled\n";

std::optional<long> ParseNumber(const std::string& text, long low, long high) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value < low || value > high) return std::nullopt;
    return value;
}

std::optional<int> ParseHexByte(const std::string& text) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    if (digits.empty() || digits.size() > 2) return std::nullopt;
    int value = 0;
    for (char c : digits) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * 16 + digit;
    }
    return value;
}

std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args, std::string* error) {
    CliOptions options;
    size_t i = 0;
    auto valueOf = [&](const std::string& name) -> std::optional<std::string> {
        if (i + 1 >= args.size()) {
            *error = name + " needs a value";
            return std::nullopt;
        }
        return args[++i];
    };
    for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
        const std::string& arg = args[i];
        if (arg == "--port") {
            auto value = valueOf(arg);
            if (!value) return std::nullopt;
            options.portPath = *value;
        } else if (arg == "--usb-id") {
            auto value = valueOf(arg);
            if (!value) return std::nullopt;
            const auto id = ParseUsbId(*value);
            if (!id) {
                *error = "bad USB ID (VID:PID in hex, such as 16C0:05E1): " + *value;
                return std::nullopt;
            }
            options.usbVendorId = id->vendorId;
            options.usbProductId = id->productId;
        } else if (arg == "--baud" || arg == "--timeout") {
            auto value = valueOf(arg);
            if (!value) return std::nullopt;
            const bool baud = arg == "--baud";
            auto number = ParseNumber(*value, baud ? 50 : 1, baud ? 4000000 : 60000);
            if (!number) {
                *error = "bad value for " + arg + ": " + *value;
                return std::nullopt;
            }
            (baud ? options.baud : options.timeoutMs) = static_cast<int>(*number);
        } else if (arg == "--simulate") {
            options.simulatedServos = 3;
        } else if (arg.rfind("--simulate=", 0) == 0) {
            auto number = ParseNumber(arg.substr(11), 1, 253);
            if (!number) {
                *error = "bad servo count: " + arg.substr(11);
                return std::nullopt;
            }
            options.simulatedServos = static_cast<int>(*number);
        } else if (arg == "--help") {
            *error = "";
            return std::nullopt;
        } else {
            *error = "unknown option " + arg;
            return std::nullopt;
        }
    }
    if (i == args.size()) {
        *error = "no command given";
        return std::nullopt;
    }
    options.command = args[i];
    options.arguments.assign(args.begin() + static_cast<long>(i) + 1, args.end());
    return options;
}
