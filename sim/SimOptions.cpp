// Reading the simulator's arguments one at a time; each option takes its value from the next argument.
#include "sim/SimOptions.h"

#include <chrono>
#include <sstream>

#include "sim/ServoTable.h"

namespace sim {

namespace {

constexpr const char* kUsage =
    "Usage: brennix-sim [--ids 1,2,3] [--baud CODE] [--servo SPEC]... [--any-rate]\n"
    "                   [--latency US] [--device PATH] [--fault RULE]...\n"
    "Simulates servos behind a USB-serial adapter. Prints the pseudo-terminal to open as the serial port\n"
    "on the first line, then serves until SIGINT or SIGTERM.\n"
    "  --ids LIST   comma-separated servo IDs, 0..253 (default 1,2,3 unless --servo is given)\n"
    "  --baud CODE  BAUD_RATE code of the --ids servos, 0..7 (default 0 = 1000000)\n"
    "               0=1000000 1=500000 2=250000 3=128000 4=115200 5=76800 6=57600 7=38400\n"
    "  --servo SPEC one more servo, ID[@RATE][:delay=N][:level=N][:temp=N][:volt=N][:load=N]\n"
    "               [:hand=LOW-HIGH/SECONDS] [:reply=old|new] [:plug=SECONDS] [:unplug=SECONDS]\n"
    "               [:extload=N] (no spaces in SPEC); repeat for more. RATE in baud (default\n"
    "               1000000); delay 0..254 and level 0..2 as RETURN_DELAY and RETURN_LEVEL; temp in\n"
    "               degrees, volt in tenths of a volt, load -1023..1023 as PRESENT_LOAD: fixed\n"
    "               measurements that raise the servo's alarms past its limits.\n"
    "               hand=LOW-HIGH/SECONDS: while torque is off a hand swings the shaft from LOW to HIGH\n"
    "               and back every SECONDS (positions 0..1023), resting a moment at each end.\n"
    "               reply=old|new: a write that changes the servo's ID or rate is answered from the new\n"
    "               ID at the new rate (new, the default, as real servos do) or as it was before (old).\n"
    "               plug=SECONDS, unplug=SECONDS: the servo is powered up (down) that long after the\n"
    "               start; before (after) that it hears nothing. Decimals allowed.\n"
    "               extload=N: a weight on the horn, N in MAX_TORQUE's units (-1023..1023) pulling\n"
    "               toward lower positions; at MAX_TORQUE it stalls the servo.\n"
    "               The same ID may be given twice: a bus with a duplicate ID, whose answers collide.\n"
    "               example: --servo 1 --servo 7@115200 --servo 9@38400:delay=250:temp=85\n"
    "  --any-rate   the servos hear and answer at whatever rate the line has\n"
    "  --latency US adapter latency added to each direction, 0..100000 (default 0; about 1000 for a\n"
    "               full-speed USB adapter). Bytes always take their wire time: 10 bits each.\n"
    "  --device PATH serve this existing serial device instead of a new pseudo-terminal, at the first\n"
    "               servo's rate: a second adapter cross-wired (TX to RX, RX to TX, GND) to the tool's, or\n"
    "               a USB gadget's tty (add --any-rate: it carries no rate); the first line repeats PATH\n"
    "  --fault RULE a line fault, KIND[:key=value,...]; repeat for more (the first that matches hits)\n"
    "               KIND: drop checksum id length late garbage stall hangup\n"
    "               id=ID instr=CODE|boot  which answers (default: all)\n"
    "               skip=N count=N|all     pass N answers first, then hit N of them (default 0, 1)\n"
    "               delay=MS               late: how late; stall: pause before the rest, or never (150)\n"
    "               to=ID by=1|-1 bytes=HEX  id's other ID, length's change, garbage's bytes\n"
    "               example: --fault late:id=1,instr=2,count=all,delay=120\n";

bool ParseNumber(const std::string& text, int max, int& out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 3)
        return false;
    out = std::stoi(text);
    return out <= max;
}

bool ParseIds(const std::string& text, std::vector<uint8_t>& ids) {
    ids.clear();
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        int id = 0;
        if (!ParseNumber(item, 253, id)) return false;
        ids.push_back(static_cast<uint8_t>(id));
    }
    return !ids.empty();
}

bool ParseLatency(const std::string& text, std::chrono::microseconds& out) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long us = std::stol(text);
    if (us > 100000) return false;
    out = std::chrono::microseconds(us);
    return true;
}

// What is read so far; the servos of --ids are made only once every argument is read.
struct CReading {
    std::vector<uint8_t> ids;
    bool idsGiven = false;
    int baudCode = 0;
    std::vector<CSimServoSpec> servos;
};

CSimCommand Refusal(const std::string& why, bool withUsage) {
    CSimCommand command;
    command.action = CSimCommand::EAction::Refuse;
    command.text = "brennix-sim: " + why + "\n" + (withUsage ? kUsage : "");
    return command;
}

// An option with its value at args[i + 1]; false when the value is not one the option takes.
bool TakeValue(const std::string& option, const std::string& value, CReading& reading, CSimCommand& command) {
    CSimOptions& options = command.options;
    if (option == "--ids") {
        if (!ParseIds(value, reading.ids)) return false;
        reading.idsGiven = true;
        return true;
    }
    if (option == "--latency") return ParseLatency(value, options.line.latency);
    if (option == "--baud") return ParseNumber(value, BAUD_CODE_COUNT - 1, reading.baudCode);
    if (option == "--device") {
        options.devicePath = value;
        return !value.empty();
    }
    std::string error;
    if (option == "--servo") {
        const auto parsed = ParseServoSpec(value, &error);
        if (parsed) reading.servos.push_back(*parsed);
        if (!parsed) command = Refusal(error, false);
        return true;
    }
    const auto rule = ParseFaultRule(value, &error);
    if (rule) options.faults.push_back(*rule);
    if (!rule) command = Refusal(error, true);
    return true;
}

bool TakesValue(const std::string& arg) {
    return arg == "--ids" || arg == "--servo" || arg == "--latency" || arg == "--baud" || arg == "--device" ||
           arg == "--fault";
}

void AddServos(const CReading& reading, CSimOptions& options) {
    std::vector<uint8_t> ids = reading.ids;
    if (!reading.idsGiven && reading.servos.empty()) ids = {1, 2, 3};
    for (uint8_t id : ids) options.servos.push_back(DefaultServo(id, static_cast<uint8_t>(reading.baudCode)));
    options.servos.insert(options.servos.end(), reading.servos.begin(), reading.servos.end());
}

}  // namespace

CSimCommand ParseSimArguments(const std::vector<std::string>& args) {
    CSimCommand command;
    CReading reading;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            command.action = CSimCommand::EAction::Help;
            command.text = kUsage;
            return command;
        }
        if (arg == "--any-rate") {
            command.options.line.anyRate = true;
            continue;
        }
        const bool taken =
            TakesValue(arg) && i + 1 < args.size() && TakeValue(arg, args[i + 1], reading, command);
        if (!taken) return Refusal("bad argument '" + arg + "'", true);
        if (command.action == CSimCommand::EAction::Refuse) return command;
        ++i;
    }
    AddServos(reading, command.options);
    return command;
}

const char* SimUsage() {
    return kUsage;
}

}  // namespace sim
