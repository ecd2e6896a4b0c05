// brennix: command-line client for scripting and diagnosing a servo bus.
#include <iostream>

#include "cli/CliCommands.h"
#include "cli/CliOutput.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    // Standard output through write(2), so the client can name why its output could not be written.
    COutputBuf buffer(1);
    std::ostream out(&buffer);
    return RunCli(args, out, std::cerr);
}
