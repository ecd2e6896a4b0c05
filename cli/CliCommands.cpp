// Each command is one or a few exchanges; failures print one line on stderr and map to a distinct exit code.
#include "cli/CliCommands.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
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

int Fail(const CCliContext& c, const CExchangeOutcome& outcome) {
    return ReportFailure(c.err, outcome, c.timeoutMs);
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

// What a command gets: the run's context and its numbers (the leading arguments, within their limits).
struct CCommandCall {
    const CCliContext& c;
    const std::vector<long>& numbers;

    uint8_t Id(size_t i = 0) const { return static_cast<uint8_t>(numbers[i]); }
    const std::vector<std::string>& Args() const { return c.options.arguments; }
    // The arguments from the i-th on, for a command's own options.
    std::vector<std::string> ArgsFrom(size_t i) const {
        return {Args().begin() + static_cast<long>(i), Args().end()};
    }
};

struct CCommand {
    size_t minArgs;
    size_t maxArgs;  // SIZE_MAX: any number from minArgs on
    int (*run)(const CCommandCall&);
};

int Ping(const CCommandCall& call) {
    const CCliContext& c = call.c;
    uint8_t who = 0;
    CExchangeOutcome outcome;
    if (!c.servo.Ping(call.Id(), &who, &outcome)) return Fail(c, outcome);
    c.out << static_cast<int>(who) << "\n";
    WarnAlarms(c.servo, c.err, outcome);
    return EXIT_OK;
}

int Read(const CCommandCall& call) {
    const CCliContext& c = call.c;
    uint8_t data[MAX_READ_COUNT] = {};
    CExchangeOutcome outcome;
    const int got = c.servo.ReadData(call.Id(0), call.Id(1), call.Id(2), data, &outcome);
    if (got < 0) return Fail(c, outcome);
    c.out << Hex(data, got) << "\n";
    WarnAlarms(c.servo, c.err, outcome);
    return EXIT_OK;
}

int Write(const CCommandCall& call) {
    const CCliContext& c = call.c;
    const auto& args = call.Args();
    std::vector<uint8_t> data;
    for (size_t i = 2; i < args.size(); ++i) {
        auto byte = ParseHexByte(args[i]);
        if (!byte) {
            c.err << "brennix: not a hex byte: " << args[i] << "\n";
            return EXIT_BAD_ARGUMENTS;
        }
        data.push_back(static_cast<uint8_t>(*byte));
    }
    if (data.size() > MAX_WRITE_COUNT) {
        c.err << "brennix: at most " << MAX_WRITE_COUNT << " bytes in one write\n";
        return EXIT_BAD_ARGUMENTS;
    }
    const uint8_t id = call.Id();
    if (const int refused = RefuseSharedId(c.servo, id, c.baud, "the write", c.err)) return refused;
    CExchangeOutcome outcome;
    if (!c.servo.WriteData(id, call.Id(1), static_cast<uint8_t>(data.size()), data.data(), 2, &outcome))
        return Fail(c, outcome);
    WarnAlarms(c.servo, c.err, outcome);
    return EXIT_OK;
}

int Reset(const CCommandCall& call) {
    const CCliContext& c = call.c;
    const uint8_t id = call.Id();
    if (const int refused = RefuseSharedId(c.servo, id, c.baud, "the reset", c.err)) return refused;
    CExchangeOutcome outcome;
    if (!c.servo.Reset(id, &outcome)) return Fail(c, outcome);
    WarnAlarms(c.servo, c.err, outcome);
    return EXIT_OK;
}

// 16-bit registers travel high byte first, but for those whose byte order the map fixes.
int Dump(const CCommandCall& call) {
    const CCliContext& c = call.c;
    const uint8_t id = call.Id();
    uint8_t table[IMAGE_SIZE] = {};
    // Address 2 is never read from a servo, and 38-40 are not used: read the spans around them.
    const struct { uint8_t start, count; } spans[] = {{0, 2}, {3, 2}, {5, 33}, {41, 13}};
    uint8_t alarms = 0;
    CExchangeOutcome outcome;
    for (const auto& span : spans) {
        if (c.servo.ReadData(id, span.start, span.count, table + span.start, &outcome) < 0)
            return Fail(c, outcome);
        alarms |= outcome.error;
    }
    char line[96];
    for (const CRegisterInfo& reg : REGISTERS) {
        if (reg.address == Reg::HIGH_BYTE_FIRST) continue;
        std::snprintf(line, sizeof line, "%-20s %3d  %s", std::string(reg.name).c_str(), reg.address,
                      RegisterText(reg, table + reg.address, true).c_str());
        c.out << line << "\n";
    }
    // The table read holds the readings and limits the alarm words need.
    CAlarmValues values;
    TakeStatusSpan(table + Reg::STATUS_SPAN_START, values);
    TakeAlarmLimits(table + Reg::MAX_TEMPERATURE, values);
    WarnAlarms(c.err, id, "", alarms, values);
    return EXIT_OK;
}

int Flash(const CCommandCall& call) {
    const CCliContext& c = call.c;
    // Two boot loaders taking one image at once is the worst a shared ID can lead to.
    if (const int refused = RefuseSharedId(c.servo, call.Id(), c.baud, "the flash", c.err)) return refused;
    return RunFlash(c, call.Id(), call.Args()[1]);
}

int Monitor(const CCommandCall& call) {
    const CCliContext& c = call.c;
    const auto& args = call.Args();
    // One ID keeps its own output; a comma list gets a line per servo with its ID.
    if (args[0].find(',') == std::string::npos) {
        const auto id = ParseNumber(args[0], 0, 253);
        if (!id) {
            c.err << "brennix: bad number " << args[0] << " (0 to 253)\n";
            return EXIT_BAD_ARGUMENTS;
        }
        return RunMonitor(c, static_cast<uint8_t>(*id), call.ArgsFrom(1));
    }
    std::vector<uint8_t> ids;
    if (!ParseCliIds(args[0], &ids, c.err)) return EXIT_BAD_ARGUMENTS;
    return RunMultiMonitor(c, ids, call.ArgsFrom(1));
}

int Scan(const CCommandCall& call) {
    return RunScanCommand(call.c);
}
int Record(const CCommandCall& call) {
    return RunRecord(call.c);
}
int Play(const CCommandCall& call) {
    return RunPlay(call.c);
}
int Torque(const CCommandCall& call) {
    return RunTorque(call.c);
}
int SetId(const CCommandCall& call) {
    return RunSetId(call.c, call.Id(0), call.Id(1));
}
int SetRate(const CCommandCall& call) {
    return RunSetRate(call.c, call.Id(), call.numbers[1]);
}
int Save(const CCommandCall& call) {
    return RunSaveParameters(call.c, call.Id(), call.Args()[1]);
}
int Load(const CCommandCall& call) {
    return RunLoadParameters(call.c, call.Id(), call.ArgsFrom(1));
}
int Assign(const CCommandCall& call) {
    return RunAssign(call.c);
}
int Doctor(const CCommandCall& call) {
    return RunDoctor(call.c);
}

int Step(const CCommandCall& call) {
    return RunStep(call.c, call.Id(), static_cast<int>(call.numbers[1]), static_cast<int>(call.numbers[2]),
                   call.ArgsFrom(3));
}

int Calibrate(const CCommandCall& call) {
    return RunCalibrate(call.c, call.Id(), call.ArgsFrom(1));
}

// Numeric limits of each command's leading arguments: ID, then address and count where they apply.
const std::map<std::string, std::pair<CCommand, std::vector<std::pair<long, long>>>>& CommandTable() {
    static const std::map<std::string, std::pair<CCommand, std::vector<std::pair<long, long>>>> table{
        {"ping", {{1, 1, Ping}, {{0, 254}}}},
        {"scan", {{0, SIZE_MAX, Scan}, {}}},  // CliScan checks its own arguments
        {"find", {{0, SIZE_MAX, Scan}, {}}},
        {"read", {{3, 3, Read}, {{0, 253}, {0, 255}, {0, MAX_READ_COUNT}}}},
        {"write", {{3, SIZE_MAX, Write}, {{0, 254}, {0, 255}}}},
        {"reset", {{1, 1, Reset}, {{0, 254}}}},
        {"dump", {{1, 1, Dump}, {{0, 253}}}},
        {"flash", {{2, 2, Flash}, {{0, 253}}}},
        {"monitor", {{1, 6, Monitor}, {}}},  // one ID or a comma list
        {"set-id", {{2, 2, SetId}, {{0, 253}, {0, 253}}}},
        {"set-rate", {{2, 2, SetRate}, {{0, 253}, {1, 4000000}}}},
        {"save", {{2, 2, Save}, {{0, 253}}}},
        {"load", {{2, 5, Load}, {{0, 253}}}},
        {"assign", {{0, SIZE_MAX, Assign}, {}}},  // CliAssign checks its own arguments
        {"record", {{3, 7, Record}, {}}},
        {"play", {{1, 5, Play}, {}}},
        {"torque", {{2, 2, Torque}, {}}},
        {"step", {{3, 12, Step}, {{0, 253}, {0, 65535}, {0, 65535}}}},
        {"calibrate", {{1, 5, Calibrate}, {{0, 253}}}},
        {"doctor", {{0, 2, Doctor}, {}}},
    };
    return table;
}

}  // namespace

int RunCommand(const CCliContext& c) {
    const CCliOptions& options = c.options;
    const auto found = CommandTable().find(options.command);
    if (found == CommandTable().end()) {
        c.err << "brennix: unknown command " << options.command << "\n" << CLI_USAGE;
        return EXIT_BAD_ARGUMENTS;
    }
    const auto& [command, limits] = found->second;
    const auto& args = options.arguments;
    if (args.size() < command.minArgs || args.size() > command.maxArgs) {
        c.err << "brennix: wrong number of arguments for " << options.command << "\n" << CLI_USAGE;
        return EXIT_BAD_ARGUMENTS;
    }
    std::vector<long> numbers;
    for (size_t i = 0; i < limits.size() && i < args.size(); ++i) {
        auto value = ParseNumber(args[i], limits[i].first, limits[i].second);
        if (!value) {
            c.err << "brennix: bad number " << args[i] << " (" << limits[i].first << " to "
                  << limits[i].second << ")\n";
            return EXIT_BAD_ARGUMENTS;
        }
        numbers.push_back(*value);
    }
    return command.run({c, numbers});
}

namespace {

// The options, or nothing once the usage (asked for: *code EXIT_OK) or what is wrong with them was printed.
std::optional<CCliOptions> ParseOrExplain(const std::vector<std::string>& args, std::ostream& out,
                                          std::ostream& err, int* code) {
    std::string error;
    auto options = ParseCliOptions(args, &error);
    if (options) return options;
    if (error.empty()) {
        out << CLI_USAGE;
        *code = EXIT_OK;
    } else {
        err << "brennix: " << error << "\n" << CLI_USAGE;
        *code = EXIT_BAD_ARGUMENTS;
    }
    return std::nullopt;
}

// The port the options name; a simulated bus, when there is one, outlives the transport that reaches it.
struct CChosenPort {
    std::unique_ptr<CCliSimulatedBus> simulator;
    std::unique_ptr<CUsb> transport;
};

// False after saying why the simulated bus could not start.
bool ChoosePort(const CCliOptions& options, CChosenPort& chosen, std::ostream& err) {
    if (IsNetworkPortName(options.portPath)) {
        chosen.transport = std::make_unique<CRfc2217Usb>(options.portPath);
        return true;
    }
    auto serial = std::make_unique<CBrennixUsb>();
    if (options.simulatedServos > 0) {
        // The options allow only rates of the baud-rate list with simulated servos.
        const int code = BaudCodeOf(static_cast<uint32_t>(options.baud));
        std::string problem;
        chosen.simulator = StartSimulatedBus(options.simulatedServos, static_cast<uint8_t>(code), &problem);
        if (!chosen.simulator) {
            err << "brennix: " << problem << "\n";
            return false;
        }
        serial->SetPortPath(chosen.simulator->PortPath());
    } else if (!options.portPath.empty()) {
        serial->SetPortPath(options.portPath);
    }
    chosen.transport = std::move(serial);
    return true;
}

int ReportNoAdapter(const CCliOptions& options, const CUsb& transport, std::ostream& out, std::ostream& err) {
    // The doctor says why in its report, with the host's evidence.
    if (options.command == "doctor" && !options.portPath.empty())
        return RunDoctorWithoutPort(options, options.portPath, out, err);
    if (options.portPath.empty())
        err << "brennix: no adapter found (USB " << UsbIdText(options.usbVendorId, options.usbProductId)
            << "); use --usb-id VID:PID or --port PATH for other adapters\n";
    else if (!transport.OpenProblem().empty())
        err << "brennix: " << transport.OpenProblem() << "\n";
    else
        err << "brennix: " << PortProblem(options.portPath) << "\n";
    return EXIT_NO_ADAPTER;
}

int ReportNotOpened(const CCliOptions& options, const CUsb& transport, std::ostream& out, std::ostream& err) {
    if (options.command == "doctor") return RunDoctorWithoutPort(options, transport.PortName(), out, err);
    // Open refuses anything that is not a free terminal; say which it was.
    std::string problem = transport.OpenProblem();
    if (problem.empty()) problem = PortProblem(transport.PortName());
    if (problem.empty()) problem = transport.PortName() + " is busy (another program has it open)";
    err << "brennix: " << problem << "\n";
    return EXIT_PORT_UNAVAILABLE;
}

// Finds and opens the port at the options' rate: EXIT_OK, or the failure after saying it (the port closed).
int OpenAtRate(CUsb& transport, const CCliOptions& options, std::ostream& out, std::ostream& err) {
    transport.m_wVendorId = options.usbVendorId;
    transport.m_wProductId = options.usbProductId;
    if (!transport.FindDevice()) return ReportNoAdapter(options, transport, out, err);
    // A network port negotiates within the timeout, so it is set before Open.
    transport.SetTimeoutMs(options.timeoutMs);
    if (!transport.Open()) return ReportNotOpened(options, transport, out, err);
    transport.Configure(options.baud);
    if (transport.IsPortLost()) {
        err << "brennix: " << LostPortText(transport) << "\n";
        transport.Close();
        return EXIT_PORT_UNAVAILABLE;
    }
    // Drivers that cannot divide their clock to a rate refuse it or run another; servos still read a line
    // within 2 % of their rate, so only a larger miss is a refusal.
    const long running = transport.LineRate();
    if (std::labs(running - options.baud) * 50 > options.baud) {
        err << "brennix: " << transport.PortName() << " refuses " << options.baud << " baud\n";
        transport.Close();
        return EXIT_RATE_REFUSED;
    }
    return EXIT_OK;
}

// The command on the open port, which it closes.
int RunOnOpenPort(CUsb& transport, const CCliOptions& options, std::ostream& out, std::ostream& err) {
    CServoUsb servo(&transport);
    servo.Image()[Reg::HIGH_BYTE_FIRST] = 1;
    std::unique_ptr<CCliTrace> trace;
    if (options.trace) trace = std::make_unique<CCliTrace>(servo, err);
    CCliPort port;
    port.setLineRate = [&transport](int baud) { return transport.Configure(baud) != 0; };
    port.isLost = [&transport] { return transport.IsPortLost(); };
    port.path = transport.PortName();
    const int result = RunCommand(CCliContext{servo, port, options, out, err});
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

int RunCliCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    int code = EXIT_OK;
    const auto options = ParseOrExplain(args, out, err, &code);
    if (!options) return code;
    // Reading an image file needs no port.
    if (options->command == "firmware") return RunFirmwareInfo(options->arguments, out, err);
    if (!CommandTable().count(options->command)) {
        err << "brennix: unknown command " << options->command << "\n" << CLI_USAGE;
        return EXIT_BAD_ARGUMENTS;
    }
    CChosenPort chosen;
    if (!ChoosePort(*options, chosen, err)) return EXIT_NO_ADAPTER;
    if (const int failed = OpenAtRate(*chosen.transport, *options, out, err)) return failed;
    return RunOnOpenPort(*chosen.transport, *options, out, err);
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const int result = RunCliCommand(args, out, err);
    // Output that did not reach its file or pipe is a failure whatever the command found.
    if (const int error = OutputError(out)) return ReportOutputError(err, error);
    return result;
}
