// Reading the start of a file that must be a regular file, without ever blocking on one that is not.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// Reads up to size bytes from the start of the file; the number read (less than size only at the end of the
// file), or nullopt when the path cannot be opened or is not a regular file (a FIFO, a directory, a device).
// FileHead.cpp (POSIX) or FileHeadWin32.cpp, as CMake picks.
//
// Thread rules: any thread; it keeps nothing open.
std::optional<std::size_t> ReadFileHead(const std::string& path, void* buffer, std::size_t size);
