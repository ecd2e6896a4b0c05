// CPU time of the whole process but the threads of an in-process simulator, which stands in for servos on a
// wire and is no part of the program's cost. Linux only: it reads /proc.
#pragma once

#include <dirent.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

// The ids of the process's threads alive now.
inline std::set<long> ProcessThreads() {
    std::set<long> tids;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') tids.insert(std::strtol(entry->d_name, nullptr, 10));
        closedir(dir);
    }
    return tids;
}

// Counts from the process's CPU clock (every thread, Qt's pool and threads already gone included) and
// takes off what the excluded threads have run, in nanoseconds from the scheduler's own account.
//
// Thread rules: use it on one thread; the excluded threads must still be alive whenever Seconds() is read.
class CProcessCpu {
public:
    // excluded: the threads not to count, e.g. those that appeared while the simulator started.
    explicit CProcessCpu(std::vector<long> excluded = {}) : m_excluded(std::move(excluded)) {}

    // The threads started by start(), found as those alive after it and not before.
    template <class Start>
    static std::vector<long> ThreadsStartedBy(Start&& start) {
        const std::set<long> before = ProcessThreads();
        start();
        std::vector<long> started;
        const std::set<long> after = ProcessThreads();
        std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                            std::back_inserter(started));
        return started;
    }

    double Seconds() const {
        timespec ts{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        double seconds = static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
        for (long tid : m_excluded) seconds -= ThreadSeconds(tid);
        return seconds;
    }

private:
    // The first field of a task's schedstat is its time on a CPU in nanoseconds.
    static double ThreadSeconds(long tid) {
        const std::string path = "/proc/self/task/" + std::to_string(tid) + "/schedstat";
        FILE* file = std::fopen(path.c_str(), "r");
        if (!file) {
            std::fprintf(stderr, "%s is gone: an excluded thread ended before its time was read\n",
                         path.c_str());
            std::abort();
        }
        unsigned long long ns = 0;
        const int fields = std::fscanf(file, "%llu", &ns);
        std::fclose(file);
        if (fields != 1) std::abort();
        return static_cast<double>(ns) * 1e-9;
    }

    std::vector<long> m_excluded;
};
