// One run of the command-line client inside the test process, as a script would see it.
//
// Thread rules: a run is made and read on the test's own thread; RunCli may be called from a helper thread
// (a test that interrupts a run), each run with its own streams.
#pragma once

#include <chrono>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliCommands.h"

// Text split at its line ends, the last line's end optional.
inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

struct CCliRun {
    int code = 0;
    std::string out;
    std::vector<std::string> lines;  // out, line by line
    std::string err;
    std::chrono::steady_clock::duration took{};
};

// The client with these arguments, standard output going to `out` (which the run does not keep).
inline CCliRun RunClientInto(std::ostream& out, const std::vector<std::string>& args) {
    std::ostringstream err;
    const auto start = std::chrono::steady_clock::now();
    CCliRun run;
    run.code = RunCli(args, out, err);
    run.took = std::chrono::steady_clock::now() - start;
    run.err = err.str();
    return run;
}

// The client with these arguments; its output kept.
inline CCliRun RunClient(const std::vector<std::string>& args) {
    std::ostringstream out;
    CCliRun run = RunClientInto(out, args);
    run.out = out.str();
    run.lines = SplitLines(run.out);
    return run;
}

// The client on the port at `path`, with `options` (such as --timeout 200) before the arguments.
inline CCliRun RunClientOn(const std::string& path, std::vector<std::string> args,
                           const std::vector<std::string>& options = {}) {
    std::vector<std::string> line{"--port", path};
    line.insert(line.end(), options.begin(), options.end());
    args.insert(args.begin(), line.begin(), line.end());
    return RunClient(args);
}
