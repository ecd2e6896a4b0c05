// Whole-file replacement through a temporary sibling and rename(2), with POSIX calls throughout.
#include "link/AtomicFile.h"

#include "link/AtomicFilePaths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

namespace fs = std::filesystem;

class CDescriptor {
public:
    explicit CDescriptor(int fd) : m_fd(fd) {}
    ~CDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    CDescriptor(const CDescriptor&) = delete;
    CDescriptor& operator=(const CDescriptor&) = delete;

    int Get() const { return m_fd; }
    // close() can report a delayed write error, so its result counts.
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

CFileWriteResult Failed(int error) {
    CFileWriteResult result;
    result.error = std::strerror(error);
    return result;
}

CFileWriteResult Failed(const char* why) {
    CFileWriteResult result;
    result.error = why;
    return result;
}

// Writes everything and makes it durable; errno tells why not.
bool WriteAndSync(int fd, std::string_view bytes) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    return ::fsync(fd) == 0;
}

int CreateSibling(const fs::path& target, fs::path& created) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = NextSiblingName(target, static_cast<unsigned long>(::getpid()));
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            created = candidate;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

CFileWriteResult WriteInPlace(const fs::path& target, std::string_view bytes) {
    // O_NONBLOCK: should the path have turned into a FIFO since it was checked, the open must not hang.
    CDescriptor file(::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.Get() < 0) return Failed(errno);
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return Failed("not a regular file");
    if (::ftruncate(file.Get(), 0) != 0 || !WriteAndSync(file.Get(), bytes)) return Failed(errno);
    if (!file.Close()) return Failed(errno);
    CFileWriteResult result;
    result.ok = true;
    result.inPlace = true;
    return result;
}

}  // namespace

CFileWriteResult WriteFileAtomically(const std::string& path, std::string_view bytes) {
    if (path.empty()) return Failed("no file name");
    const fs::path target = ResolveLink(fs::path(path));

    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists) {
        if (S_ISDIR(existing.st_mode)) return Failed("is a directory");
        if (!S_ISREG(existing.st_mode)) return Failed("not a regular file");
        // Read-only is the owner's protection against exactly this, even for the superuser.
        if ((existing.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) return Failed(EACCES);
    }

    fs::path temporary;
    CDescriptor file(CreateSibling(target, temporary));
    if (file.Get() < 0) {
        const int error = errno;
        if (exists && (error == EACCES || error == EPERM)) return WriteInPlace(target, bytes);
        return Failed(error);
    }
    int error = 0;
    if (exists && ::fchmod(file.Get(), existing.st_mode & 07777) != 0) error = errno;
    if (error == 0 && !WriteAndSync(file.Get(), bytes)) error = errno;
    if (!file.Close() && error == 0) error = errno;
    if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return Failed(error);
    }
    CFileWriteResult result;
    result.ok = true;
    return result;
}
