// Our options through QCommandLineParser. Two forms it does not read as this tool always has are settled
// before it sees them: "--simulate" alone means the default count, and the toolkit's own single-dash options
// are left for QApplication, untouched.
#include "app/AppOptions.h"

#include <QCommandLineParser>
#include <QStringList>
#include <algorithm>
#include <charconv>

#include "link/PortDiscovery.h"

namespace {

const QString kSimulate = QStringLiteral("simulate");
const QString kPort = QStringLiteral("port");
const QString kUsbId = QStringLiteral("usb-id");
const QString kTour = QStringLiteral("tour");

bool ParseServoCount(const std::string& text, int& count) {
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, count);
    return error == std::errc() && at == end && count >= 1 && count <= kMaxSimulatedServos;
}

bool TakesSeparateValue(const std::string& arg) {
    return arg == "--port" || arg == "--usb-id" || arg == "--tour";
}

// What the parser gets: the program's name, then every argument of ours.
QStringList ParserArguments(const std::vector<std::string>& args) {
    QStringList list{QStringLiteral("brennix-debug")};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (TakesSeparateValue(arg) && i + 1 < args.size()) {
            list << QString::fromStdString(arg) << QString::fromStdString(args[++i]);
        } else if (arg == "--simulate") {
            list << QStringLiteral("--simulate=%1").arg(kDefaultSimulatedServos);
        } else if (arg == "-h") {
            list << QStringLiteral("--help");
        } else if (arg.rfind("--", 0) == 0) {
            list << QString::fromStdString(arg);
        }
    }
    return list;
}

void AddOptions(QCommandLineParser& parser) {
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    parser.addOption(QCommandLineOption(QStringLiteral("help")));
    parser.addOption(QCommandLineOption(kSimulate, QString(), QStringLiteral("N")));
    parser.addOption(QCommandLineOption(kPort, QString(), QStringLiteral("PATH")));
    parser.addOption(QCommandLineOption(kUsbId, QString(), QStringLiteral("VID:PID")));
    parser.addOption(QCommandLineOption(kTour, QString(), QStringLiteral("DIR")));
}

bool Contains(const std::vector<std::string>& args, const std::string& arg) {
    return std::find(args.begin(), args.end(), arg) != args.end();
}

// Why the parser refused the arguments, in this tool's words: an option it does not know, or one at the end
// without its value.
std::string ParserProblem(const QCommandLineParser& parser, const std::vector<std::string>& args) {
    for (const QString& unknown : parser.unknownOptionNames()) {
        const std::string name = "--" + unknown.toStdString();
        for (const std::string& arg : args)
            if (arg == name || arg.rfind(name + "=", 0) == 0) return "unknown option: " + arg;
    }
    if (args.back() == "--port") return "--port needs a device path";
    if (args.back() == "--usb-id") return "--usb-id needs VID:PID";
    return "--tour needs a directory";
}

// A path given as "--port=" has always been an unknown option; "--port ''" a missing path.
std::string PathValue(const QCommandLineParser& parser, const std::vector<std::string>& args,
                      const QString& name, const char* missing, std::string& error) {
    const std::string value = parser.value(name).toStdString();
    if (!value.empty() || !error.empty()) return value;
    const std::string joined = "--" + name.toStdString() + "=";
    error = Contains(args, joined) ? "unknown option: " + joined : missing;
    return value;
}

std::string ReadValues(const QCommandLineParser& parser, const std::vector<std::string>& args,
                       CAppOptions& options) {
    std::string error;
    if (parser.isSet(kSimulate) &&
        !ParseServoCount(parser.value(kSimulate).toStdString(), options.nSimulatedServos))
        error = "--simulate needs a servo count from 1 to 253";
    if (parser.isSet(kPort))
        options.szPortPath = PathValue(parser, args, kPort, "--port needs a device path", error);
    if (parser.isSet(kTour))
        options.szTourDir = PathValue(parser, args, kTour, "--tour needs a directory", error);
    if (parser.isSet(kUsbId) && error.empty()) {
        const std::string text = parser.value(kUsbId).toStdString();
        const auto id = ParseUsbId(text);
        if (!id) return "--usb-id needs VID:PID in hex, such as 16C0:05E1, not \"" + text + "\"";
        options.wUsbVendorId = id->vendorId;
        options.wUsbProductId = id->productId;
    }
    return error;
}

}  // namespace

CAppOptionsResult ParseAppOptions(const std::vector<std::string>& args) {
    CAppOptionsResult result;
    CAppOptions& options = result.options;
    // Forms the parser would take that this tool has always refused: "--" as the end of the options, and a
    // value given to --help.
    for (const std::string& arg : args) {
        if (arg == "--" || arg.rfind("--help=", 0) == 0) {
            result.szError = "unknown option: " + arg;
            return result;
        }
    }
    QCommandLineParser parser;
    AddOptions(parser);
    const bool understood = parser.parse(ParserArguments(args));
    options.bHelp = parser.isSet(QStringLiteral("help"));
    if (!understood) {
        result.szError = ParserProblem(parser, args);
        return result;
    }
    result.szError = ReadValues(parser, args, options);
    if (!result.szError.empty()) return result;
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
