// Parsing of the client's options; every malformed number is refused rather than read as 0.
#include "cli/CliOptions.h"

#include "link/ControlTable.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "link/PortDiscovery.h"

const char* const CLI_USAGE =
    "usage: brennix [--port PATH] [--usb-id VID:PID] [--simulate[=N]] [--baud RATE] [--timeout MS] "
    "[--trace]\n"
    "               COMMAND\n"
    "  without --port the adapter is found by its USB ID (default 16C0:05E1; e.g. --usb-id 0403:6001);\n"
    "  a simulated bus takes the place of both; --port rfc2217://HOST:PORT reaches a serial port that\n"
    "  another computer serves over the network (ser2net; an IPv6 address in brackets)\n"
    "numbers are decimal, or hexadecimal with 0x; data bytes of write are hexadecimal\n"
    "commands:\n"
    "  ping ID                 print the ID that answers\n"
    "  scan [FROM [TO]]        ping IDs FROM..TO (default 0..253), one found ID per line; 1 if none\n"
    "  scan --all-rates [FROM [TO]]  the same at every servo rate, one \"ID RATE\" line per servo;\n"
    "       [--rates R1,R2...]  only these rates; --timeout MS sets the adapter margin (default: measured)\n"
    "  find [--rates R1,...]   ID and rate of the only servo on the bus (one broadcast ping per rate)\n"
    "  read ID ADDR COUNT      read COUNT bytes from ADDR, printed as hex\n"
    "  write ID ADDR BYTE...   write hex bytes from ADDR and await the status\n"
    "  reset ID                restore the servo's factory defaults\n"
    "  dump ID                 the servo's registers by name, 16-bit values in host order\n"
    "  firmware FILE [--frames]  length, blocks and kind of a .hex or .bin image; --frames lists them\n"
    "  flash ID FILE           load the image into the servo through its boot loader (Ctrl+C cancels)\n"
    "  monitor ID[,ID...] [--period MS] [--count N] [--csv]\n"
    "                          print the servos' status every MS (10) until N ticks or Ctrl+C; a tick\n"
    "                          reads each ID once, so K IDs give N x K lines (one per answer); the last\n"
    "                          column names the alarms\n"
    "  set-id ID NEW           give the servo a new ID (refused when NEW answers), then check it\n"
    "  set-rate ID RATE        give the servo a new baud rate, then check it answers there\n"
    "  save ID FILE            the servo's parameters into a 31-byte .dat file\n"
    "  load ID FILE [--with-id] [--with-rate] [--dry-run]\n"
    "                          write a .dat file's parameters (and its ID, and its rate) to the servo,\n"
    "                          then check; shows what changes first, --dry-run only that\n"
    "  assign FIRST [--from ID] [--rate RATE] [--count N]\n"
    "                          give each servo plugged in at ID (1) the next free ID from FIRST\n"
    "  record IDS [--period MS] [--seconds S] --out FILE\n"
    "                          torque off on IDS (1,2,3), then their positions every MS (20) as CSV rows\n"
    "                          until S seconds or Ctrl+C; torque stays off\n"
    "  play FILE [--speed X] [--loop N]  a recording's rows as sync writes, X times as fast (0.25 to 4),\n"
    "                          N times; Ctrl+C holds the servos where they are\n"
    "  torque IDS on|off       switch torque (on keeps each servo where it is), print each read-back;\n"
    "                          torque all off: one broadcast to every servo at the port's rate\n"
    "  step ID FROM TO [--period MS] [--seconds S] [--set NAME=VALUE,...] [--keep] [--csv]\n"
    "                          settle at FROM, step to TO and print rise time, overshoot, settling time,\n"
    "                          steady-state error and sample rate; --set writes V, P, D, I, PUNCH,\n"
    "                          CW_DEAD_BAND, CCW_DEAD_BAND for the run (restored unless --keep)\n"
    "  calibrate ID [--seconds S] [--margin N]\n"
    "                          torque off, move the joint by hand for S s (10, or Enter), then the range\n"
    "                          seen widened by N (5) becomes the position limits\n"
    "  doctor [--move] [--markdown]\n"
    "                          check the host, the bus and every servo; one line per check (ok, info,\n"
    "                          warn, fail, skip) with a hint for each problem; exit 1 when one fails\n"
    "changes are refused for an ID that several servos answer to\n"
    "--trace prints every frame on stderr: seconds, > sent or < received, the bytes, their meaning\n"
    "exit codes: 0 ok, 1 no reply, 2 bad arguments, 3 no adapter, 4 port busy, missing or gone,\n"
    "            5 upgrade error, 6 upgrade cancelled, 7 the servo holds other values than written,\n"
    "            8 the port's driver refuses the rate, 9 output (or a saved file) could not be written\n";

std::optional<long> ParseNumber(const std::string& text, long low, long high) {
    // Base 0 would read a leading zero as octal (037 as 31): only 0x switches from decimal.
    const bool hex = text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || !std::isxdigit(static_cast<unsigned char>(digits[0]))) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(digits.c_str(), &end, hex ? 16 : 10);
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

namespace {

// The leading options one at a time; an option's value is the argument after it.
class COptionCursor {
public:
    COptionCursor(const std::vector<std::string>& args, std::string* error) : m_args(args), m_error(error) {}

    bool AtOption() const { return m_next < m_args.size() && m_args[m_next].rfind("--", 0) == 0; }
    const std::string& Take() { return m_args[m_next++]; }
    // The value after option `name`, or nullopt with the reason kept when the line ends first.
    std::optional<std::string> ValueOf(const std::string& name) {
        if (m_next >= m_args.size()) {
            *m_error = name + " needs a value";
            return std::nullopt;
        }
        return m_args[m_next++];
    }
    size_t Next() const { return m_next; }

private:
    const std::vector<std::string>& m_args;
    std::string* m_error;
    size_t m_next = 0;
};

bool TakeUsbId(const std::string& value, CCliOptions& options, std::string* error) {
    const auto id = ParseUsbId(value);
    if (!id) {
        *error = "bad USB ID (VID:PID in hex, such as 16C0:05E1): " + value;
        return false;
    }
    options.usbVendorId = id->vendorId;
    options.usbProductId = id->productId;
    return true;
}

bool TakeRateOrTimeout(const std::string& arg, const std::string& value, CCliOptions& options,
                       std::string* error) {
    const bool baud = arg == "--baud";
    auto number = ParseNumber(value, baud ? 50 : 1, baud ? 4000000 : 60000);
    if (!number) {
        *error = "bad value for " + arg + ": " + value;
        return false;
    }
    (baud ? options.baud : options.timeoutMs) = static_cast<int>(*number);
    options.timeoutGiven = options.timeoutGiven || !baud;
    return true;
}

bool TakeServoCount(const std::string& arg, CCliOptions& options, std::string* error) {
    auto number = ParseNumber(arg.substr(11), 1, 253);
    if (!number) {
        *error = "bad servo count: " + arg.substr(11);
        return false;
    }
    options.simulatedServos = static_cast<int>(*number);
    return true;
}

// One option into `options`; false ends the parse with the reason in *error (empty for --help).
bool TakeOption(COptionCursor& cursor, CCliOptions& options, std::string* error) {
    const std::string& arg = cursor.Take();
    if (arg == "--port" || arg == "--usb-id" || arg == "--baud" || arg == "--timeout") {
        auto value = cursor.ValueOf(arg);
        if (!value) return false;
        if (arg == "--port") {
            options.portPath = *value;
            return true;
        }
        if (arg == "--usb-id") return TakeUsbId(*value, options, error);
        return TakeRateOrTimeout(arg, *value, options, error);
    }
    if (arg == "--simulate") {
        options.simulatedServos = 3;
        return true;
    }
    if (arg.rfind("--simulate=", 0) == 0) return TakeServoCount(arg, options, error);
    if (arg == "--trace") {
        options.trace = true;
        return true;
    }
    *error = arg == "--help" ? "" : "unknown option " + arg;
    return false;
}

// Why the options cannot go together, or empty.
std::string ConflictOf(const CCliOptions& options) {
    if (options.simulatedServos > 0 && !options.portPath.empty())
        return "--simulate and --port exclude each other";
    // Simulated servos run at a rate their BAUD_RATE register can hold, as real ones do.
    if (options.simulatedServos > 0 && BaudCodeOf(static_cast<uint32_t>(options.baud)) < 0)
        return "a simulated bus runs at one of the servos' rates (1000000 down to 38400), not " +
               std::to_string(options.baud);
    return {};
}

}  // namespace

std::optional<CCliOptions> ParseCliOptions(const std::vector<std::string>& args, std::string* error) {
    CCliOptions options;
    COptionCursor cursor(args, error);
    while (cursor.AtOption())
        if (!TakeOption(cursor, options, error)) return std::nullopt;
    *error = ConflictOf(options);
    if (!error->empty()) return std::nullopt;
    const size_t i = cursor.Next();
    if (i == args.size()) {
        *error = "no command given";
        return std::nullopt;
    }
    options.command = args[i];
    options.arguments.assign(args.begin() + static_cast<long>(i) + 1, args.end());
    return options;
}
