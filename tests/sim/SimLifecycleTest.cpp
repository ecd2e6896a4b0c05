// Starting, stopping and unplugging the simulator, and the host opening and closing its port.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "sim/BusSimulator.h"
#include "sim/LineRate.h"
#include "tests/sim/PtyClient.h"
#include "tests/support/LineRateProbe.h"

namespace {

using namespace simtest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const Bytes kPing1 = Request(1, 0x01);

std::chrono::nanoseconds ProcessCpuTime() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

TEST(SimLifecycle, StopReturnsPromptlyAndStartAndStopRepeatSafely) {
    sim::CBusSimulator bus;
    bus.Stop();  // before any Start
    ASSERT_TRUE(bus.Start());
    const std::string path = bus.SlavePath();
    ASSERT_TRUE(bus.Start());
    EXPECT_EQ(bus.SlavePath(), path) << "a second Start keeps serving the same pty";
    // The thread settles into its idle wait after its first turn.
    const auto settling = Clock::now() + 1s;
    while (bus.ServeTurns() == 0 && Clock::now() < settling) std::this_thread::yield();
    ASSERT_GT(bus.ServeTurns(), 0u);

    const auto t0 = Clock::now();
    bus.Stop();
    EXPECT_LT(Clock::now() - t0, 100ms);
    bus.Stop();
    EXPECT_NE(access(path.c_str(), F_OK), 0) << "the pty is gone";
}

TEST(SimLifecycle, RestartServesANewPtyWithTheServosAsTheyWere) {
    SKIP_UNLESS_LINE_RATE(1000000);
    sim::CBusSimulator bus({4});
    bus.SetRegister(4, 31, 1);
    ASSERT_TRUE(bus.Start());
    bus.Stop();
    ASSERT_TRUE(bus.Start());
    CPtyClient client(bus.SlavePath(), 1000000);
    ASSERT_TRUE(client.Send(Request(4, 0x02, {31, 1})));
    EXPECT_EQ(client.Receive(7), Status(4, 0, {1}));
}

TEST(SimLifecycle, UnplugHangsUpTheHostsOpenPort) {
    SKIP_UNLESS_LINE_RATE(1000000);
    sim::CBusSimulator bus;
    ASSERT_TRUE(bus.Start());
    CPtyClient client(bus.SlavePath(), 1000000);
    ASSERT_TRUE(client.Send(kPing1));
    ASSERT_EQ(client.Receive(6), Status(1, 0));

    bus.Unplug();
    EXPECT_NE(client.WaitEvents(POLLIN, 1s) & POLLHUP, 0);
    uint8_t byte = 0;
    EXPECT_EQ(read(client.Fd(), &byte, 1), 0);
    errno = 0;
    EXPECT_EQ(write(client.Fd(), kPing1.data(), kPing1.size()), -1);
    EXPECT_EQ(errno, EIO);
}

TEST(SimLifecycle, IdlesWhileNobodyHasThePortOpen) {
    SKIP_UNLESS_LINE_RATE(1000000);
    sim::CBusSimulator bus;
    ASSERT_TRUE(bus.Start());
    {
        CPtyClient client(bus.SlavePath(), 1000000);
        ASSERT_TRUE(client.Send(kPing1));
        ASSERT_EQ(client.Receive(6), Status(1, 0));
    }
    const auto cpu0 = ProcessCpuTime();
    const uint64_t turns0 = bus.ServeTurns();
    // A spinning thread makes thousands of turns in this time, one at rest a turn or two.
    std::this_thread::sleep_for(50ms);
    EXPECT_LE(bus.ServeTurns() - turns0, 10u) << "a hang-up on the master must not make the thread spin";
    EXPECT_LT(ProcessCpuTime() - cpu0, 20ms) << "a hang-up on the master must not make the thread spin";

    CPtyClient again(bus.SlavePath(), 1000000);
    ASSERT_TRUE(again.Send(kPing1));
    EXPECT_EQ(again.Receive(6), Status(1, 0));
}

TEST(SimLifecycle, ReopenedPortKeepsTheRateTheHostSetBefore) {
    SKIP_UNLESS_LINE_RATE(1000000);
    sim::CBusSimulator bus({1}, 5);
    ASSERT_TRUE(bus.Start());
    CPtyClient(bus.SlavePath(), 76800).Close();

    CPtyClient careless(bus.SlavePath());
    ASSERT_TRUE(careless.IsOpen());
    EXPECT_EQ(sim::ReadLineRate(careless.Fd()), 76800u);
    ASSERT_TRUE(careless.Send(kPing1));
    EXPECT_EQ(careless.Receive(6), Status(1, 0));
}

TEST(SimLifecycle, UnconfiguredPortIsRawSoStatusesDoNotEchoBack) {
    sim::CBusSimulator bus({1}, 7);  // 38400, the rate a fresh pty reports
    ASSERT_TRUE(bus.Start());
    CPtyClient careless(bus.SlavePath());
    ASSERT_TRUE(careless.IsOpen());
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(careless.Send(kPing1));
        EXPECT_EQ(careless.Receive(6), Status(1, 0)) << "ping " << i;
    }
    EXPECT_EQ(bus.Frames().size(), 2u) << "an echoed status would count as a request";
}

TEST(SimExclusiveUse, AKilledHostDoesNotLeaveThePortExclusive) {
    SKIP_UNLESS_LINE_RATE(1000000);
    sim::CBusSimulator bus;
    ASSERT_TRUE(bus.Start());
    auto exclusive = [&] {
        CPtyClient probe(bus.SlavePath());
        int flag = -1;
        EXPECT_EQ(ioctl(probe.Fd(), TIOCGEXCL, &flag), 0);
        return flag != 0;
    };
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t host = fork();
    ASSERT_GE(host, 0);
    if (host == 0) {
        // A host that takes the port for itself and dies without giving it back.
        CPtyClient client(bus.SlavePath(), 1000000);
        const bool took = client.IsOpen() && ioctl(client.Fd(), TIOCEXCL) == 0;
        if (write(ready[1], &took, 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    bool took = false;
    ASSERT_EQ(read(ready[0], &took, 1), 1);
    close(ready[0]);
    close(ready[1]);
    ASSERT_TRUE(took);
    EXPECT_TRUE(exclusive()) << "held while its host lives";
    kill(host, SIGKILL);
    waitpid(host, nullptr, 0);

    const auto deadline = Clock::now() + 1s;
    while (exclusive() && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
    EXPECT_FALSE(exclusive()) << "lifted once the host has gone";
    CPtyClient next(bus.SlavePath(), 1000000);
    ASSERT_TRUE(next.Send(kPing1));
    EXPECT_EQ(next.Receive(6), Status(1, 0));
}

}  // namespace
