// Reading parameter files without blocking on what is not a file; saving through the whole-file replacement.
#include "ParameterFile.h"

#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Closes a descriptor on every way out.
class CFileHandle {
public:
    explicit CFileHandle(int fd) : m_fd(fd) {}
    ~CFileHandle() {
        if (m_fd >= 0) ::close(m_fd);
    }
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;

    int Get() const { return m_fd; }

private:
    int m_fd;
};

}  // namespace

ParamFileStatus LoadParameterFile(const std::string& path, ParameterBytes& bytes) {
    // Non-blocking so that a FIFO picked by mistake cannot hang the page; regular files ignore the flag.
    CFileHandle file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.Get() < 0) return ParamFileStatus::CannotOpen;
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return ParamFileStatus::CannotOpen;

    ParameterBytes read{};
    std::size_t got = 0;
    while (got < read.size()) {
        const ssize_t n = ::read(file.Get(), read.data() + got, read.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ParamFileStatus::CannotOpen;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got < read.size()) return ParamFileStatus::TooShort;
    bytes = read;
    return ParamFileStatus::Ok;
}

ParamFileStatus SaveParameterFile(const std::string& path, const ParameterBytes& bytes) {
    const std::string_view data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return WriteFileAtomically(path, data).ok ? ParamFileStatus::Ok : ParamFileStatus::CannotWrite;
}
