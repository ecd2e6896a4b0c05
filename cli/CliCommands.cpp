// Each command is one or a few exchanges; failures print one line on stderr and map to a distinct exit code.
#include "cli/CliCommands.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <ostream>

#include "cli/CliAssign.h"
#include "cli/CliDoctor.h"
#include "cli/CliFirmware.h"
#include "cli/CliMonitor.h"
#include "cli/CliOutput.h"
#include "cli/CliRobot.h"
#include "cli/CliScan.h"
#include "cli/CliServoSetup.h"
#include "cli/CliSharedId.h"
#include "cli/CliSimulatedBus.h"
#include "cli/CliTrace.h"
#include "cli/CliTuning.h"
#include "link/BrennixUsb.h"
#include "link/ControlTable.h"
#include "link/Encodings.h"
#include "link/NetworkPortName.h"
#include "link/PortCheck.h"
#include "link/Rfc2217Usb.h"
#include "link/ServoCheck.h"
#include "link/ServoUsb.h"

namespace {

// The wait and rate of the run in progress, for the words of a failure; the client runs one command at a
// time.
thread_local int t_timeoutMs = 50;
thread_local int t_baud = 1000000;

int Fail(std::ostream& err, const CExchangeOutcome& outcome) {
    return ReportFailure(err, outcome, t_timeoutMs);
}

std::string Hex(const uint8_t* bytes, int count) {
    std::string text;
    char digits[4];
    for (int i = 0; i < count; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
        if (i > 0) text += ' ';
        text += digits;
    }
    return text;
}

// An adapter that went away, or a network port whose server or connection did.
std::string LostPortText(const CUsb& transport) {
    const std::string problem = transport.OpenProblem();
    if (problem.empty()) return "the adapter went away (" + transport.PortName() + ")";
    return "lost " + transport.PortName() + ": " + problem;
}

std::string UsbIdText(uint16_t vendorId, uint16_t productId) {
    char text[16];
    std::snprintf(text, sizeof text, "%04X:%04X", vendorId, productId);
    return text;
}

// What a command gets: the bus, the port, its numbers (the leading arguments with limits) and all arguments.
struct CCommandCall {
    CServoUsb& servo;
    const CCliPort& port;
    const CCliOptions& options;
    const std::vector<long>& numbers;
};

struct CCommand {
    size_t minArgs;
    size_t maxArgs;  // SIZE_MAX: any number from minArgs on
    std::function<int(CServoUsb&, const std::vector<long>&, const std::vector<std::string>&, std::ostream&,
                      std::ostream&)>
        run;
    // Instead of run, for commands that need the port or the options too.
    std::function<int(const CCommandCall&, std::ostream&, std::ostream&)> runOnPort;
};

int Ping(CServoUsb& servo, const std::vector<long>& n, const std::vector<std::string>&, std::ostream& out,
         std::ostream& err) {
    uint8_t who = 0;
    CExchangeOutcome outcome;
    if (!servo.Ping(static_cast<uint8_t>(n[0]), &who, &outcome)) return Fail(err, outcome);
    out << static_cast<int>(who) << "\n";
    WarnAlarms(servo, err, outcome);
    return EXIT_OK;
}

int Read(CServoUsb& servo, const std::vector<long>& n, const std::vector<std::string>&, std::ostream& out,
         std::ostream& err) {
    uint8_t data[MAX_READ_COUNT] = {};
    CExchangeOutcome outcome;
    const int got = servo.ReadData(static_cast<uint8_t>(n[0]), static_cast<uint8_t>(n[1]),
                                   static_cast<uint8_t>(n[2]), data, &outcome);
    if (got < 0) return Fail(err, outcome);
    out << Hex(data, got) << "\n";
    WarnAlarms(servo, err, outcome);
    return EXIT_OK;
}

int Write(CServoUsb& servo, const std::vector<long>& n, const std::vector<std::string>& args, std::ostream&,
          std::ostream& err) {
    std::vector<uint8_t> data;
    for (size_t i = 2; i < args.size(); ++i) {
        auto byte = ParseHexByte(args[i]);
        if (!byte) {
            err << "brennix: not a hex byte: " << args[i] << "\n";
            return EXIT_BAD_ARGUMENTS;
        }
        data.push_back(static_cast<uint8_t>(*byte));
    }
    if (data.size() > MAX_WRITE_COUNT) {
        err << "brennix: at most " << MAX_WRITE_COUNT << " bytes in one write\n";
        return EXIT_BAD_ARGUMENTS;
    }
    const uint8_t id = static_cast<uint8_t>(n[0]);
    if (const int refused = RefuseSharedId(servo, id, t_baud, "the write", err)) return refused;
    CExchangeOutcome outcome;
    if (!servo.WriteData(id, static_cast<uint8_t>(n[1]), static_cast<uint8_t>(data.size()), data.data(), 2,
                         &outcome))
        return Fail(err, outcome);
    WarnAlarms(servo, err, outcome);
    return EXIT_OK;
}

int Reset(CServoUsb& servo, const std::vector<long>& n, const std::vector<std::string>&, std::ostream&,
          std::ostream& err) {
    const uint8_t id = static_cast<uint8_t>(n[0]);
    if (const int refused = RefuseSharedId(servo, id, t_baud, "the reset", err)) return refused;
    CExchangeOutcome outcome;
    if (!servo.Reset(id, &outcome)) return Fail(err, outcome);
    WarnAlarms(servo, err, outcome);
    return EXIT_OK;
}

// 16-bit registers travel high byte first, but for those whose byte order the map fixes.
int Dump(CServoUsb& servo, const std::vector<long>& n, const std::vector<std::string>&, std::ostream& out,
         std::ostream& err) {
    const uint8_t id = static_cast<uint8_t>(n[0]);
    uint8_t table[IMAGE_SIZE] = {};
    // Address 2 is never read from a servo, and 38-40 are not used: read the spans around them.
    const struct { uint8_t start, count; } spans[] = {{0, 2}, {3, 2}, {5, 33}, {41, 13}};
    uint8_t alarms = 0;
    CExchangeOutcome outcome;
    for (const auto& span : spans) {
        if (servo.ReadData(id, span.start, span.count, table + span.start, &outcome) < 0)
            return Fail(err, outcome);
        alarms |= outcome.error;
    }
    char line[96];
    for (const CRegisterInfo& reg : REGISTERS) {
        if (reg.address == Reg::HIGH_BYTE_FIRST) continue;
        std::snprintf(line, sizeof line, "%-20s %3d  %s", std::string(reg.name).c_str(), reg.address,
                      RegisterText(reg, table + reg.address, true).c_str());
        out << line << "\n";
    }
    // The table read holds the readings and limits the alarm words need.
    CAlarmValues values;
    TakeStatusSpan(table + Reg::STATUS_SPAN_START, values);
    TakeAlarmLimits(table + Reg::MAX_TEMPERATURE, values);
    WarnAlarms(err, id, "", alarms, values);
    return EXIT_OK;
}

int Flash(CServoUsb& servo, const std::vector<long>& n, const std::vector<std::string>& args,
          std::ostream& out, std::ostream& err) {
    // Two boot loaders taking one image at once is the worst a shared ID can lead to.
    if (const int refused = RefuseSharedId(servo, static_cast<uint8_t>(n[0]), t_baud, "the flash", err))
        return refused;
    return RunFlash(servo, static_cast<uint8_t>(n[0]), args[1], out, err);
}

int Monitor(const CCommandCall& c, std::ostream& out, std::ostream& err) {
    const auto& args = c.options.arguments;
    // One ID keeps its own output; a comma list gets a line per servo with its ID.
    if (args[0].find(',') == std::string::npos) {
        const auto id = ParseNumber(args[0], 0, 253);
        if (!id) {
            err << "brennix: bad number " << args[0] << " (0 to 253)\n";
            return EXIT_BAD_ARGUMENTS;
        }
        return RunMonitor(c.servo, c.port, static_cast<uint8_t>(*id), {args.begin() + 1, args.end()}, out,
                          err);
    }
    std::vector<uint8_t> ids;
    if (!ParseCliIds(args[0], &ids, err)) return EXIT_BAD_ARGUMENTS;
    return RunMultiMonitor(c.servo, c.port, ids, {args.begin() + 1, args.end()}, out, err);
}

int Record(const CCommandCall& c, std::ostream&, std::ostream& err) {
    return RunRecord(c.servo, c.port, c.options.arguments, err);
}

int Play(const CCommandCall& c, std::ostream& out, std::ostream& err) {
    return RunPlay(c.servo, c.options.arguments, out, err);
}

int Torque(const CCommandCall& c, std::ostream& out, std::ostream& err) {
    return RunTorque(c.servo, c.options.arguments, c.options.baud, out, err);
}

int SetId(const CCommandCall& c, std::ostream& out, std::ostream& err) {
    return RunSetId(c.servo, c.port, c.options.baud, static_cast<uint8_t>(c.numbers[0]),
                    static_cast<uint8_t>(c.numbers[1]), out, err);
}

int SetRate(const CCommandCall& c, std::ostream& out, std::ostream& err) {
    return RunSetRate(c.servo, c.port, c.options.baud, static_cast<uint8_t>(c.numbers[0]), c.numbers[1], out,
                      err);
}

int Save(const CCommandCall& c, std::ostream& out, std::ostream& err) {
    return RunSaveParameters(c.servo, static_cast<uint8_t>(c.numbers[0]), c.options.arguments[1], out, err);
}

int Load(const CCommandCall& c, std::ostream& out, std::ostream& err) {
    const auto& args = c.options.arguments;
    return RunLoadParameters(c.servo, c.port, c.options.baud, static_cast<uint8_t>(c.numbers[0]),
                             {args.begin() + 1, args.end()}, out, err);
}

int Assign(const CCommandCall& c, std::ostream& out, std::ostream& err) {
    return RunAssign(c.servo, c.port, c.options.baud, c.options.arguments, out, err);
}

int Step(const CCommandCall& c, std::ostream& out, std::ostream& err) {
    const auto& args = c.options.arguments;
    return RunStep(c.servo, static_cast<uint8_t>(c.numbers[0]), static_cast<int>(c.numbers[1]),
                   static_cast<int>(c.numbers[2]), {args.begin() + 3, args.end()}, out, err);
}

int Calibrate(const CCommandCall& c, std::ostream& out, std::ostream& err) {
    const auto& args = c.options.arguments;
    return RunCalibrate(c.servo, static_cast<uint8_t>(c.numbers[0]), {args.begin() + 1, args.end()}, out,
                        err);
}

int Doctor(const CCommandCall& c, std::ostream& out, std::ostream& err) {
    return RunDoctor(c.servo, c.options, c.port.path, out, err);
}

// Numeric limits of each command's leading arguments: ID, then address and count where they apply.
const std::map<std::string, std::pair<CCommand, std::vector<std::pair<long, long>>>>& CommandTable() {
    static const std::map<std::string, std::pair<CCommand, std::vector<std::pair<long, long>>>> table{
        {"ping", {{1, 1, Ping, nullptr}, {{0, 254}}}},
        {"scan", {{0, SIZE_MAX, nullptr, nullptr}, {}}},  // CliScan
        {"find", {{0, SIZE_MAX, nullptr, nullptr}, {}}},
        {"read", {{3, 3, Read, nullptr}, {{0, 253}, {0, 255}, {0, MAX_READ_COUNT}}}},
        {"write", {{3, SIZE_MAX, Write, nullptr}, {{0, 254}, {0, 255}}}},
        {"reset", {{1, 1, Reset, nullptr}, {{0, 254}}}},
        {"dump", {{1, 1, Dump, nullptr}, {{0, 253}}}},
        {"flash", {{2, 2, Flash, nullptr}, {{0, 253}}}},
        {"monitor", {{1, 6, nullptr, Monitor}, {}}},  // one ID or a comma list
        {"set-id", {{2, 2, nullptr, SetId}, {{0, 253}, {0, 253}}}},
        {"set-rate", {{2, 2, nullptr, SetRate}, {{0, 253}, {1, 4000000}}}},
        {"save", {{2, 2, nullptr, Save}, {{0, 253}}}},
        {"load", {{2, 5, nullptr, Load}, {{0, 253}}}},
        {"assign", {{0, SIZE_MAX, nullptr, Assign}, {}}},  // CliAssign checks its own arguments
        {"record", {{3, 7, nullptr, Record}, {}}},
        {"play", {{1, 5, nullptr, Play}, {}}},
        {"torque", {{2, 2, nullptr, Torque}, {}}},
        {"step", {{3, 12, nullptr, Step}, {{0, 253}, {0, 65535}, {0, 65535}}}},
        {"calibrate", {{1, 5, nullptr, Calibrate}, {{0, 253}}}},
        {"doctor", {{0, 2, nullptr, Doctor}, {}}},
    };
    return table;
}

}  // namespace

int RunCommand(CServoUsb& servo, const CCliOptions& options, std::ostream& out, std::ostream& err,
               const CCliPort& port) {
    const auto found = CommandTable().find(options.command);
    if (found == CommandTable().end()) {
        err << "brennix: unknown command " << options.command << "\n" << CLI_USAGE;
        return EXIT_BAD_ARGUMENTS;
    }
    t_timeoutMs = options.timeoutMs;
    t_baud = options.baud;
    if (options.command == "scan" || options.command == "find")
        return RunScanCommand(servo, options, out, err);
    const auto& [command, limits] = found->second;
    const auto& args = options.arguments;
    if (args.size() < command.minArgs || args.size() > command.maxArgs) {
        err << "brennix: wrong number of arguments for " << options.command << "\n" << CLI_USAGE;
        return EXIT_BAD_ARGUMENTS;
    }
    std::vector<long> numbers;
    for (size_t i = 0; i < limits.size() && i < args.size(); ++i) {
        auto value = ParseNumber(args[i], limits[i].first, limits[i].second);
        if (!value) {
            err << "brennix: bad number " << args[i] << " (" << limits[i].first << " to " << limits[i].second
                << ")\n";
            return EXIT_BAD_ARGUMENTS;
        }
        numbers.push_back(*value);
    }
    if (command.runOnPort) return command.runOnPort({servo, port, options, numbers}, out, err);
    return command.run(servo, numbers, args, out, err);
}

namespace {

int RunCliCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string error;
    auto options = ParseCliOptions(args, &error);
    if (!options) {
        if (error.empty()) {
            out << CLI_USAGE;
            return EXIT_OK;
        }
        err << "brennix: " << error << "\n" << CLI_USAGE;
        return EXIT_BAD_ARGUMENTS;
    }
    // Reading an image file needs no port.
    if (options->command == "firmware") return RunFirmwareInfo(options->arguments, out, err);
    if (!CommandTable().count(options->command)) {
        err << "brennix: unknown command " << options->command << "\n" << CLI_USAGE;
        return EXIT_BAD_ARGUMENTS;
    }

    std::unique_ptr<CCliSimulatedBus> simulator;
    std::unique_ptr<CUsb> chosen;
    if (IsNetworkPortName(options->portPath)) {
        chosen = std::make_unique<CRfc2217Usb>(options->portPath);
    } else {
        auto serial = std::make_unique<CBrennixUsb>();
        if (options->simulatedServos > 0) {
            // The options allow only rates of the baud-rate list with simulated servos.
            const int code = BaudCodeOf(static_cast<uint32_t>(options->baud));
            std::string problem;
            simulator = StartSimulatedBus(options->simulatedServos, static_cast<uint8_t>(code), &problem);
            if (!simulator) {
                err << "brennix: " << problem << "\n";
                return EXIT_NO_ADAPTER;
            }
            serial->SetPortPath(simulator->PortPath());
        } else if (!options->portPath.empty()) {
            serial->SetPortPath(options->portPath);
        }
        chosen = std::move(serial);
    }
    CUsb& transport = *chosen;
    transport.m_wVendorId = options->usbVendorId;
    transport.m_wProductId = options->usbProductId;
    if (!transport.FindDevice()) {
        // The doctor says why in its report, with the host's evidence.
        if (options->command == "doctor" && !options->portPath.empty())
            return RunDoctorWithoutPort(*options, options->portPath, out, err);
        if (options->portPath.empty())
            err << "brennix: no adapter found (USB " << UsbIdText(options->usbVendorId, options->usbProductId)
                << "); use --usb-id VID:PID or --port PATH for other adapters\n";
        else if (!transport.OpenProblem().empty())
            err << "brennix: " << transport.OpenProblem() << "\n";
        else
            err << "brennix: " << PortProblem(options->portPath) << "\n";
        return EXIT_NO_ADAPTER;
    }
    // A network port negotiates within the timeout, so it is set before Open.
    transport.SetTimeoutMs(options->timeoutMs);
    if (!transport.Open()) {
        if (options->command == "doctor")
            return RunDoctorWithoutPort(*options, transport.PortName(), out, err);
        // Open refuses anything that is not a free terminal; say which it was.
        std::string problem = transport.OpenProblem();
        if (problem.empty()) problem = PortProblem(transport.PortName());
        if (problem.empty()) problem = transport.PortName() + " is busy (another program has it open)";
        err << "brennix: " << problem << "\n";
        return EXIT_PORT_UNAVAILABLE;
    }
    transport.Configure(options->baud);
    if (transport.IsPortLost()) {
        err << "brennix: " << LostPortText(transport) << "\n";
        transport.Close();
        return EXIT_PORT_UNAVAILABLE;
    }
    // Drivers that cannot divide their clock to a rate refuse it or run another; servos still read a line
    // within 2 % of their rate, so only a larger miss is a refusal.
    const long running = transport.LineRate();
    if (std::labs(running - options->baud) * 50 > options->baud) {
        err << "brennix: " << transport.PortName() << " refuses " << options->baud << " baud\n";
        transport.Close();
        return EXIT_RATE_REFUSED;
    }
    CServoUsb servo(&transport);
    servo.Image()[Reg::HIGH_BYTE_FIRST] = 1;
    std::unique_ptr<CCliTrace> trace;
    if (options->trace) trace = std::make_unique<CCliTrace>(servo, err);
    CCliPort port;
    port.setLineRate = [&transport](int baud) { return transport.Configure(baud) != 0; };
    port.isLost = [&transport] { return transport.IsPortLost(); };
    port.path = transport.PortName();
    const int result = RunCommand(servo, *options, out, err, port);
    trace.reset();
    // An adapter pulled out mid-command looks like silent servos to the command; say what really happened.
    if (transport.IsPortLost()) {
        err << "brennix: " << LostPortText(transport) << "\n";
        transport.Close();
        return EXIT_PORT_UNAVAILABLE;
    }
    transport.Close();
    return result;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const int result = RunCliCommand(args, out, err);
    // Output that did not reach its file or pipe is a failure whatever the command found.
    if (const int error = OutputError(out)) return ReportOutputError(err, error);
    return result;
}
