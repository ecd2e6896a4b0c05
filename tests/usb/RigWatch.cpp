// rig-watch PID PATH LIMIT_MS: how long a command outlives its port's removal, for the USB rig's guests.
//
// A shell would measure this with forks that take tens of milliseconds under emulation; here the process's
// end (a pidfd: it need not be our child) and the device node's removal (inotify) are stamped on the
// monotonic clock as they happen. Prints "watching" once both are watched, so the caller may unplug. Prints
// "ended N ms after PATH went" (N is 0 when the command ended first: the driver hangs the port up just before
// it removes the node). Exit 0 when N is at most LIMIT_MS, 1 when it is more, 2 when either event did not
// come within ten seconds or setup failed.
#include <poll.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: rig-watch PID PATH LIMIT_MS\n");
        return 2;
    }
    const int pid = std::atoi(argv[1]);
    const std::string path = argv[2];
    const long limitMs = std::atol(argv[3]);
    const std::string folder = path.substr(0, path.find_last_of('/'));
    const int pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    const int watchFd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (pidFd < 0 || watchFd < 0 || inotify_add_watch(watchFd, folder.c_str(), IN_DELETE) < 0) {
        std::fprintf(stderr, "rig-watch: cannot watch process %d and %s\n", pid, path.c_str());
        return 2;
    }
    std::printf("watching\n");
    std::fflush(stdout);
    std::optional<Clock::time_point> ended, gone;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!ended || !gone) {
        // Checked after the watch is in place, so a removal cannot slip between the check and the watch.
        if (!gone && access(path.c_str(), F_OK) != 0) gone = Clock::now();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        std::array<pollfd, 2> fds = {{{pidFd, POLLIN, 0}, {watchFd, POLLIN, 0}}};
        if (poll(fds.data(), fds.size(), static_cast<int>(left.count())) < 0) break;
        if (!ended && (fds[0].revents & POLLIN)) ended = Clock::now();
        if (fds[1].revents & POLLIN) {
            std::array<char, 4096> events;
            while (read(watchFd, events.data(), events.size()) > 0) {
            }
        }
    }
    if (!ended || !gone) {
        std::printf("%s within 10 s\n", !ended ? "the command did not end" : (path + " did not go").c_str());
        return 2;
    }
    const auto afterMs = std::chrono::duration_cast<std::chrono::milliseconds>(*ended - *gone).count();
    std::printf("ended %ld ms after %s went\n", static_cast<long>(afterMs < 0 ? 0 : afterMs), path.c_str());
    return afterMs <= limitMs ? 0 : 1;
}
