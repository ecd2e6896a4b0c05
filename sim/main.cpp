// brennix-sim: serves simulated servos on a pseudo-terminal (or an existing serial device) until interrupted.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/BusSimulator.h"
#include "sim/DevicePort.h"
#include "sim/ServoTable.h"

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

}  // namespace

int main(int argc, char** argv) {
    std::vector<uint8_t> ids;
    bool idsGiven = false;
    int baudCode = 0;
    std::vector<sim::CSimServoSpec> servos;
    sim::CSimLineOptions line;
    std::vector<sim::CSimFaultRule> faults;
    std::string devicePath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        const bool hasValue = i + 1 < argc;
        if (arg == "--ids" && hasValue && ParseIds(argv[i + 1], ids)) {
            idsGiven = true;
            ++i;
        } else if (arg == "--servo" && hasValue) {
            std::string error;
            const auto spec = sim::ParseServoSpec(argv[++i], &error);
            if (!spec) {
                std::cerr << "brennix-sim: " << error << "\n";
                return 2;
            }
            servos.push_back(*spec);
        } else if (arg == "--any-rate") {
            line.anyRate = true;
        } else if (arg == "--latency" && hasValue && ParseLatency(argv[i + 1], line.latency)) {
            ++i;
        } else if (arg == "--baud" && hasValue &&
                   ParseNumber(argv[i + 1], sim::BAUD_CODE_COUNT - 1, baudCode)) {
            ++i;
        } else if (arg == "--device" && hasValue && argv[i + 1][0] != '\0') {
            devicePath = argv[++i];
        } else if (arg == "--fault" && hasValue) {
            std::string error;
            const auto rule = sim::ParseFaultRule(argv[++i], &error);
            if (!rule) {
                std::cerr << "brennix-sim: " << error << "\n" << kUsage;
                return 2;
            }
            faults.push_back(*rule);
        } else {
            std::cerr << "brennix-sim: bad argument '" << arg << "'\n" << kUsage;
            return 2;
        }
    }

    // Blocked before the serving thread exists, so it inherits the mask and only sigwait sees the signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    if (!idsGiven && servos.empty()) ids = {1, 2, 3};
    std::vector<sim::CSimServoSpec> all;
    for (uint8_t id : ids) all.push_back(sim::DefaultServo(id, static_cast<uint8_t>(baudCode)));
    all.insert(all.end(), servos.begin(), servos.end());

    sim::CBusSimulator simulator(all, line);
    for (const auto& rule : faults) simulator.AddFault(rule);
    if (!devicePath.empty()) {
        // One device, one rate: the first servo's. Servos at other rates hear it only with --any-rate.
        const uint32_t rate = sim::BaudRateForCode(all.front().baudCode);
        std::string error;
        const uint32_t held = sim::ProbeServedDevice(devicePath, rate, &error);
        if (held == 0) {
            std::cerr << "brennix-sim: " << error << "\n";
            return 1;
        }
        if (held != rate && !line.anyRate)
            std::cerr << "brennix-sim: " << devicePath << " stays at " << held << " baud instead of " << rate
                      << " (it carries no line rate): the servos hear nothing without --any-rate\n";
        simulator.ServeDevice(devicePath, rate);
    }
    if (!simulator.Start()) {
        std::cerr << "brennix-sim: " << simulator.StartError() << "\n";
        return 1;
    }
    std::cout << simulator.SlavePath() << std::endl;
    std::cerr << "brennix-sim: serving";
    for (const auto& spec : all)
        std::cerr << " " << int(spec.id) << "@" << sim::BaudRateForCode(spec.baudCode);
    std::cerr << (line.anyRate ? " (heard at any rate)" : "") << ", latency " << line.latency.count()
              << " us; stop with Ctrl+C\n";

    int signal = 0;
    sigwait(&stopSignals, &signal);
    simulator.Stop();
    return 0;
}
