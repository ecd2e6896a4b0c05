// Reading and replacing parameter files with POSIX calls, so a save can be made durable before it replaces.
#include "ParameterFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace {

namespace fs = std::filesystem;

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
    // Closes now and reports whether the data made it (close can report a delayed write error).
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, const uint8_t* data, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, data, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

// The file a save really replaces: the target of a symbolic link, else the path itself.
fs::path SaveTarget(const fs::path& path) {
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(path, ec))) {
        const fs::path resolved = fs::weakly_canonical(path, ec);
        if (!ec) return resolved;
    }
    return path;
}

// A new, empty file beside the target, created with the default permissions (0666 less the umask).
int CreateSibling(const fs::path& target, fs::path& created) {
    static std::atomic<unsigned> counter{0};
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = dir / ("." + target.filename().string() + ".tmp" +
                                          std::to_string(::getpid()) + "-" + std::to_string(counter++));
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            created = candidate;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// The fallback when no file can be made beside the target (a folder without write permission): the bytes go
// over the old ones and the file is cut to their length. Not atomic, but the only way such a file can be
// saved.
ParamFileStatus WriteInPlace(const fs::path& target, const ParameterBytes& bytes) {
    CFileHandle file(::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.Get() < 0) return ParamFileStatus::CannotWrite;
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return ParamFileStatus::CannotWrite;
    bool ok = WriteAll(file.Get(), bytes.data(), bytes.size());
    if (ok) ok = ::ftruncate(file.Get(), static_cast<off_t>(bytes.size())) == 0;
    if (ok) ok = ::fsync(file.Get()) == 0;
    ok = file.Close() && ok;
    return ok ? ParamFileStatus::Ok : ParamFileStatus::CannotWrite;
}

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
    if (path.empty()) return ParamFileStatus::CannotWrite;
    const fs::path target = SaveTarget(fs::path(path));

    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists) {
        // A read-only file is the operator's protection against exactly this, even for the superuser, whom
        // access() would let through; a directory is not a file.
        const bool readOnly = (existing.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0;
        if (!S_ISREG(existing.st_mode) || readOnly) return ParamFileStatus::CannotWrite;
    }

    fs::path temporary;
    CFileHandle file(CreateSibling(target, temporary));
    if (file.Get() < 0) return exists ? WriteInPlace(target, bytes) : ParamFileStatus::CannotWrite;
    bool ok = WriteAll(file.Get(), bytes.data(), bytes.size());
    if (ok && exists) ok = ::fchmod(file.Get(), existing.st_mode & 07777) == 0;
    // On disk before the rename, so a crash leaves the old file or the new one, never an empty one.
    if (ok) ok = ::fsync(file.Get()) == 0;
    ok = file.Close() && ok;
    if (ok) ok = ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return ParamFileStatus::CannotWrite;
    }
    return ParamFileStatus::Ok;
}
