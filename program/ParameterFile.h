// Parameter files (.dat): image bytes 0 to 30 as they are, 16-bit registers low byte first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr std::size_t PARAMETER_FILE_SIZE = 31;

using ParameterBytes = std::array<uint8_t, PARAMETER_FILE_SIZE>;

enum class EParamFileStatus {
    Ok,
    CannotOpen,   // missing, unreadable or not a regular file
    TooShort,     // fewer than 31 bytes: the format cannot mark the missing ones
    CannotWrite,  // the file (or its directory) cannot be written; any existing file is left as it was
};

// Reads the first 31 bytes of the file, opened read-only; anything after them is ignored. The bytes are
// filled only on Ok.
EParamFileStatus LoadParameterFile(const std::string& path, ParameterBytes& bytes);

// Writes exactly 31 bytes. The bytes go to a new file beside the target, which then replaces the target in
// one rename, so a failure never leaves a half-written file. Where no file can be made beside it (a folder
// without write permission), an existing target is written in place instead. An existing target keeps its
// permissions; a read-only one is not replaced. A symbolic link is followed to the file it names.
// On failure *why (when given) names the cause as the system gives it ("No space left on device").
EParamFileStatus SaveParameterFile(const std::string& path, const ParameterBytes& bytes,
                                   std::string* why = nullptr);
