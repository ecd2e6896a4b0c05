// brennix-sim: serves simulated servos on a pseudo-terminal (or an existing serial device) until interrupted.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "sim/BusSimulator.h"
#include "sim/DevicePort.h"
#include "sim/ServoTable.h"
#include "sim/SimOptions.h"

namespace {

// One device, one rate: the first servo's. Servos at other rates hear it only with --any-rate. False when the
// device cannot be served, said on standard error.
bool ServeDevice(sim::CBusSimulator& simulator, const sim::CSimOptions& options) {
    const uint32_t rate = sim::BaudRateForCode(options.servos.front().baudCode);
    std::string error;
    const uint32_t held = sim::ProbeServedDevice(options.devicePath, rate, &error);
    if (held == 0) {
        std::cerr << "brennix-sim: " << error << "\n";
        return false;
    }
    if (held != rate && !options.line.anyRate)
        std::cerr << "brennix-sim: " << options.devicePath << " stays at " << held << " baud instead of "
                  << rate << " (it carries no line rate): the servos hear nothing without --any-rate\n";
    simulator.ServeDevice(options.devicePath, rate);
    return true;
}

void SayServing(const sim::CSimOptions& options) {
    std::cerr << "brennix-sim: serving";
    for (const auto& servo : options.servos)
        std::cerr << " " << int(servo.id) << "@" << sim::BaudRateForCode(servo.baudCode);
    std::cerr << (options.line.anyRate ? " (heard at any rate)" : "") << ", latency "
              << options.line.latency.count() << " us; stop with Ctrl+C\n";
}

}  // namespace

int main(int argc, char** argv) {
    const sim::CSimCommand command = sim::ParseSimArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (command.action == sim::CSimCommand::EAction::Help) {
        std::cout << command.text;
        return 0;
    }
    if (command.action == sim::CSimCommand::EAction::Refuse) {
        std::cerr << command.text;
        return 2;
    }
    const sim::CSimOptions& options = command.options;

    // Blocked before the serving thread exists, so it inherits the mask and only sigwait sees the signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::CBusSimulator simulator(options.servos, options.line);
    for (const auto& rule : options.faults) simulator.AddFault(rule);
    if (!options.devicePath.empty() && !ServeDevice(simulator, options)) return 1;
    if (!simulator.Start()) {
        std::cerr << "brennix-sim: " << simulator.StartError() << "\n";
        return 1;
    }
    std::cout << simulator.SlavePath() << std::endl;
    SayServing(options);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    simulator.Stop();
    return 0;
}
