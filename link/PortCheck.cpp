// Looks at the path before and instead of guessing: a missing file, a directory, a FIFO, /dev/null and a busy
// adapter each fail the open differently and deserve their own words.
#include "link/PortCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

std::string PortProblem(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == EACCES) return "no permission to look at " + path;
        return "no such port: " + path;
    }
    if (S_ISDIR(info.st_mode)) return path + " is a directory, not a serial port";
    if (S_ISFIFO(info.st_mode)) return path + " is a FIFO, not a serial port";
    if (!S_ISCHR(info.st_mode)) return path + " is not a serial port";
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EACCES) return "no permission to open " + path;
        if (errno == EBUSY) return path + " is busy (another program has it open)";
        return "cannot open " + path;
    }
    const bool terminal = ::isatty(fd) != 0;
    ::close(fd);
    if (!terminal) return path + " is not a serial port";
    return {};
}
