// Each command is one or a few exchanges; failures print one line on stderr and map to a distinct exit code.
#include "CliCommands.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <ostream>

#include "BrennixUsb.h"
#include "CliFirmware.h"
#include "CliSimulatedBus.h"
#include "ControlTable.h"
#include "Encodings.h"
#include "ServoUsb.h"

namespace {

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

struct Command {
    size_t minArgs;
    size_t maxArgs;  // SIZE_MAX: any number from minArgs on
    std::function<int(CServoUsb&, const std::vector<long>&, const std::vector<std::string>&, std::ostream&,
                      std::ostream&)>
        run;
};

int Ping(CServoUsb& servo, const std::vector<long>& n, const std::vector<std::string>&, std::ostream& out,
         std::ostream& err) {
    uint8_t who = 0;
    if (!servo.Ping(static_cast<uint8_t>(n[0]), &who)) {
        err << "brennix: no reply from ID " << n[0] << "\n";
        return EXIT_NO_REPLY;
    }
    out << static_cast<int>(who) << "\n";
    return EXIT_OK;
}

int Scan(CServoUsb& servo, const std::vector<long>& n, const std::vector<std::string>&, std::ostream& out,
         std::ostream& err) {
    const long from = n.size() > 0 ? n[0] : 0;
    const long to = n.size() > 1 ? n[1] : 253;
    bool found = false;
    for (long id = from; id <= to; ++id) {
        uint8_t who = 0;
        if (!servo.Ping(static_cast<uint8_t>(id), &who)) continue;
        out << static_cast<int>(who) << std::endl;
        found = true;
    }
    // A script must be able to tell a silent bus from a found servo without parsing the output.
    if (!found) err << "brennix: no servo answered from ID " << from << " to " << to << "\n";
    return found ? EXIT_OK : EXIT_NO_REPLY;
}

int Read(CServoUsb& servo, const std::vector<long>& n, const std::vector<std::string>&, std::ostream& out,
         std::ostream& err) {
    uint8_t data[MAX_READ_COUNT] = {};
    const int got = servo.ReadData(static_cast<uint8_t>(n[0]), static_cast<uint8_t>(n[1]),
                                   static_cast<uint8_t>(n[2]), data);
    if (got < 0) {
        err << "brennix: no reply from ID " << n[0] << "\n";
        return EXIT_NO_REPLY;
    }
    out << Hex(data, got) << "\n";
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
    if (!servo.WriteData(id, static_cast<uint8_t>(n[1]), static_cast<uint8_t>(data.size()), data.data(), 2)) {
        err << "brennix: no status from ID " << n[0] << "\n";
        return EXIT_NO_REPLY;
    }
    return EXIT_OK;
}

int Reset(CServoUsb& servo, const std::vector<long>& n, const std::vector<std::string>&, std::ostream&,
          std::ostream& err) {
    if (!servo.Reset(static_cast<uint8_t>(n[0]))) {
        err << "brennix: no status from ID " << n[0] << "\n";
        return EXIT_NO_REPLY;
    }
    return EXIT_OK;
}

// 16-bit registers travel high byte first, but for CURRENT_LIMIT and the version bytes.
int Dump(CServoUsb& servo, const std::vector<long>& n, const std::vector<std::string>&, std::ostream& out,
         std::ostream& err) {
    const uint8_t id = static_cast<uint8_t>(n[0]);
    uint8_t table[IMAGE_SIZE] = {};
    // Address 2 is never read from a servo, and 38-40 are not used: read the spans around them.
    const struct { uint8_t start, count; } spans[] = {{0, 2}, {3, 2}, {5, 33}, {41, 13}};
    for (const auto& span : spans) {
        if (servo.ReadData(id, span.start, span.count, table + span.start) < 0) {
            err << "brennix: no reply from ID " << n[0] << "\n";
            return EXIT_NO_REPLY;
        }
    }
    char line[96];
    for (const RegisterInfo& reg : REGISTERS) {
        if (reg.address == Reg::HIGH_BYTE_FIRST) continue;
        const uint8_t* p = table + reg.address;
        // The versions and PRESENT_CURRENT are never converted: their bytes in address order.
        if (reg.address == Reg::FIRMWARE_VERSION || reg.address == Reg::HARDWARE_VERSION ||
            reg.address == Reg::PRESENT_CURRENT) {
            std::snprintf(line, sizeof line, "%-20s %3d  %02x%02x", std::string(reg.name).c_str(),
                          reg.address, p[0], p[1]);
        } else if (reg.width == 2) {
            const int value = reg.address == Reg::CURRENT_LIMIT ? (p[0] | p[1] << 8) : (p[0] << 8 | p[1]);
            std::snprintf(line, sizeof line, "%-20s %3d  %d", std::string(reg.name).c_str(), reg.address,
                          value);
        } else {
            std::snprintf(line, sizeof line, "%-20s %3d  %d", std::string(reg.name).c_str(), reg.address,
                          p[0]);
        }
        out << line << "\n";
    }
    return EXIT_OK;
}

int Flash(CServoUsb& servo, const std::vector<long>& n, const std::vector<std::string>& args,
          std::ostream& out, std::ostream& err) {
    return RunFlash(servo, static_cast<uint8_t>(n[0]), args[1], out, err);
}

// Numeric limits of each command's leading arguments: ID, then address and count where they apply.
const std::map<std::string, std::pair<Command, std::vector<std::pair<long, long>>>>& CommandTable() {
    static const std::map<std::string, std::pair<Command, std::vector<std::pair<long, long>>>> table{
        {"ping", {{1, 1, Ping}, {{0, 254}}}},
        {"scan", {{0, 2, Scan}, {{0, 253}, {0, 253}}}},
        {"read", {{3, 3, Read}, {{0, 253}, {0, 255}, {0, MAX_READ_COUNT}}}},
        {"write", {{3, SIZE_MAX, Write}, {{0, 254}, {0, 255}}}},
        {"reset", {{1, 1, Reset}, {{0, 254}}}},
        {"dump", {{1, 1, Dump}, {{0, 253}}}},
        {"flash", {{2, 2, Flash}, {{0, 253}}}},
    };
    return table;
}

}  // namespace

int RunCommand(CServoUsb& servo, const CliOptions& options, std::ostream& out, std::ostream& err) {
    const auto found = CommandTable().find(options.command);
    if (found == CommandTable().end()) {
        err << "brennix: unknown command " << options.command << "\n" << CLI_USAGE;
        return EXIT_BAD_ARGUMENTS;
    }
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
    if (options.command == "scan" && numbers.size() == 2 && numbers[0] > numbers[1]) {
        err << "brennix: scan range is empty\n";
        return EXIT_BAD_ARGUMENTS;
    }
    return command.run(servo, numbers, args, out, err);
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
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
    CBrennixUsb transport;
    if (options->simulatedServos > 0) {
        // The options allow only rates of the baud-rate list with simulated servos.
        const int code = BaudCodeOf(static_cast<uint32_t>(options->baud));
        std::string problem;
        simulator = StartSimulatedBus(options->simulatedServos, static_cast<uint8_t>(code), &problem);
        if (!simulator) {
            err << "brennix: " << problem << "\n";
            return EXIT_NO_ADAPTER;
        }
        transport.SetPortPath(simulator->PortPath());
    } else if (!options->portPath.empty()) {
        transport.SetPortPath(options->portPath);
    }
    if (!transport.FindDevice()) {
        if (options->portPath.empty())
            err << "brennix: no adapter found (USB 16C0:05E1); use --port PATH for other adapters\n";
        else
            err << "brennix: no such port: " << options->portPath << "\n";
        return EXIT_NO_ADAPTER;
    }
    if (!transport.Open()) {
        err << "brennix: cannot open " << transport.m_szPortName << " (busy or missing)\n";
        return EXIT_PORT_UNAVAILABLE;
    }
    transport.SetTimeoutMs(options->timeoutMs);
    transport.Configure(options->baud);
    // Drivers that cannot divide their clock to a rate refuse it or run another; servos still read a line
    // within 2 % of their rate, so only a larger miss is a refusal.
    const long running = transport.LineRate();
    if (std::labs(running - options->baud) * 50 > options->baud) {
        err << "brennix: " << transport.m_szPortName << " refuses " << options->baud << " baud\n";
        transport.Close();
        return EXIT_RATE_REFUSED;
    }
    CServoUsb servo(&transport);
    servo.m_pImage[Reg::HIGH_BYTE_FIRST] = 1;
    const int result = RunCommand(servo, *options, out, err);
    // An adapter pulled out mid-command looks like silent servos to the command; say what really happened.
    if (transport.IsPortLost()) {
        err << "brennix: " << transport.m_szPortName << " went away (adapter unplugged?)\n";
        transport.Close();
        return EXIT_PORT_UNAVAILABLE;
    }
    transport.Close();
    return result;
}
