// Output the client cannot write: a full device is a failure named by its cause, a reader that went away an
// end without a word, and a monitor stops at the first line that did not go out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <sstream>

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "cli/CliOutput.h"
#include "sim/BusSimulator.h"
#include "tests/support/CliBusTest.h"
#include "tests/support/CliRun.h"
#include "tests/support/LineRateProbe.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class CliOutput : public CCliBusTest<> {
protected:
    CliOutput() : CCliBusTest<>(std::vector<uint8_t>{1, 2}) {}

    // The command with its output going to `fd`, as the client's own standard output would.
    CCliRun RunInto(int fd, std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", m_bus.SlavePath()});
        COutputBuf buffer(fd);
        std::ostream out(&buffer);
        return RunClientInto(out, args);
    }
};

TEST_F(CliOutput, OutputThatCannotBeWrittenIsAFailureThatNamesItsCause) {
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    const std::string cause = "brennix: cannot write the output: No space left on device\n";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"scan", "0", "3"}, std::vector<std::string>{"dump", "1"},
          std::vector<std::string>{"scan", "--all-rates", "0", "3"}, std::vector<std::string>{"ping", "2"}}) {
        const CCliRun run = RunInto(full, args);
        EXPECT_EQ(run.code, EXIT_OUTPUT_FAILED) << args[0];
        EXPECT_NE(run.err.find(cause), std::string::npos) << run.err;
    }
    // The monitor stops at the first line that did not go out, not after its 200 ticks.
    const CCliRun monitor = RunInto(full, {"monitor", "1", "--csv", "--count", "200", "--period", "10"});
    EXPECT_EQ(monitor.code, EXIT_OUTPUT_FAILED);
    EXPECT_NE(monitor.err.find(cause), std::string::npos) << monitor.err;
    EXPECT_LT(monitor.took, 1s);
    ::close(full);
}

// Where SIGPIPE is ignored (it usually ends the client quietly), a closed pipe is an end without a word.
TEST_F(CliOutput, AReaderThatWentAwayEndsTheRunQuietly) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ::close(pipeFds[0]);
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &previous), 0);
    const CCliRun run = RunInto(pipeFds[1], {"monitor", "1", "--count", "200", "--period", "10"});
    ::sigaction(SIGPIPE, &previous, nullptr);
    ::close(pipeFds[1]);
    EXPECT_EQ(run.code, EXIT_OUTPUT_FAILED);
    EXPECT_EQ(run.err.find("cannot write"), std::string::npos) << run.err;
    EXPECT_LT(run.took, 1s);
}

}  // namespace
