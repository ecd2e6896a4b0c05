// Whole-file replacement on Windows: a temporary sibling written through to the disk, then put in the
// target's place by ReplaceFile, which keeps the target's attributes and access rights (MoveFileEx when there
// is no target yet).
#include <windows.h>

#include <filesystem>
#include <system_error>

#include "link/AtomicFile.h"

#include "link/AtomicFilePaths.h"

namespace {

namespace fs = std::filesystem;

// The system's own words for an error, without the trailing full stop and line break.
std::string ErrorText(DWORD error) {
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        error, 0, text, sizeof text, nullptr);
    std::string result(text, length);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == '.'))
        result.pop_back();
    return result.empty() ? "error " + std::to_string(error) : result;
}

CFileWriteResult Failed(DWORD error) {
    CFileWriteResult result;
    result.error = ErrorText(error);
    return result;
}

CFileWriteResult Failed(const char* why) {
    CFileWriteResult result;
    result.error = why;
    return result;
}

class CWinFile {
public:
    explicit CWinFile(HANDLE handle) : m_handle(handle) {}
    ~CWinFile() {
        if (IsOpen()) CloseHandle(m_handle);
    }
    CWinFile(const CWinFile&) = delete;
    CWinFile& operator=(const CWinFile&) = delete;

    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_handle; }
    bool Close() {
        const HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return CloseHandle(handle) != 0;
    }

private:
    HANDLE m_handle;
};

// Writes everything and makes it durable; GetLastError tells why not.
bool WriteAndFlush(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) return false;
        if (written == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        bytes.remove_prefix(written);
    }
    return FlushFileBuffers(file) != 0;
}

HANDLE CreateSibling(const fs::path& target, std::string& created) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = NextSiblingName(target, GetCurrentProcessId()).string();
        const HANDLE file = CreateFileA(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            created = candidate;
            return file;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

CFileWriteResult WriteInPlace(const std::string& target, std::string_view bytes) {
    CWinFile file(CreateFileA(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsOpen()) return Failed(GetLastError());
    if (GetFileType(file.Get()) != FILE_TYPE_DISK) return Failed("not a regular file");
    if (!SetEndOfFile(file.Get()) || !WriteAndFlush(file.Get(), bytes)) return Failed(GetLastError());
    if (!file.Close()) return Failed(GetLastError());
    CFileWriteResult result;
    result.ok = true;
    result.inPlace = true;
    return result;
}

}  // namespace

CFileWriteResult WriteFileAtomically(const std::string& path, std::string_view bytes) {
    if (path.empty()) return Failed("no file name");
    const std::string target = ResolveLink(fs::path(path)).string();

    const DWORD attributes = GetFileAttributesA(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Failed("is a directory");
        if (attributes & FILE_ATTRIBUTE_DEVICE) return Failed("not a regular file");
        // Read-only is the owner's protection against exactly this.
        if (attributes & FILE_ATTRIBUTE_READONLY) return Failed(ERROR_ACCESS_DENIED);
    }

    std::string temporary;
    CWinFile file(CreateSibling(fs::path(target), temporary));
    if (!file.IsOpen()) {
        const DWORD error = GetLastError();
        if (exists && error == ERROR_ACCESS_DENIED) return WriteInPlace(target, bytes);
        return Failed(error);
    }
    DWORD error = ERROR_SUCCESS;
    if (!WriteAndFlush(file.Get(), bytes)) error = GetLastError();
    if (!file.Close() && error == ERROR_SUCCESS) error = GetLastError();
    if (error == ERROR_SUCCESS) {
        const bool replaced =
            exists ? ReplaceFileA(target.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                  nullptr, nullptr) != 0
                   : MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
        if (!replaced) error = GetLastError();
    }
    if (error != ERROR_SUCCESS) {
        DeleteFileA(temporary.c_str());
        return Failed(error);
    }
    CFileWriteResult result;
    result.ok = true;
    return result;
}
