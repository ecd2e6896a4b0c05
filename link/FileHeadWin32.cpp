// The start of a regular file on Windows: devices and pipes are told from disk files by the open handle, so
// nothing but a file is ever read.
#include <windows.h>

#include "link/FileHead.h"

std::optional<std::size_t> ReadFileHead(const std::string& path, void* buffer, std::size_t size) {
    // A directory fails to open without FILE_FLAG_BACKUP_SEMANTICS, which is not asked for.
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::optional<std::size_t> result;
    if (GetFileType(file) == FILE_TYPE_DISK) {
        auto* bytes = static_cast<char*>(buffer);
        std::size_t got = 0;
        bool failed = false;
        while (got < size) {
            DWORD n = 0;
            if (!ReadFile(file, bytes + got, static_cast<DWORD>(size - got), &n, nullptr)) {
                failed = true;
                break;
            }
            if (n == 0) break;
            got += n;
        }
        if (!failed) result = got;
    }
    CloseHandle(file);
    return result;
}
