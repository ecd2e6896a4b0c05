// Recording files on disk: written row by row while the motion is taught, and read back whole for playing.
#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "link/MotionRecording.h"

// Each row goes to the system as it comes and everything written reaches the disk at least once a second,
// so Ctrl+C, a lost port or a crash loses at most the last second of a recording.
//
// Thread rules: one thread at a time.
class CMotionFileWriter {
public:
    CMotionFileWriter() = default;
    // Closes the file (its last rows made durable).
    ~CMotionFileWriter();
    CMotionFileWriter(const CMotionFileWriter&) = delete;
    CMotionFileWriter& operator=(const CMotionFileWriter&) = delete;

    // Creates the file (an existing one is replaced) and writes the header line. False with the cause in
    // *error ("cannot write PATH: Permission denied").
    bool Create(const std::string& path, const std::vector<uint8_t>& ids, std::string* error);
    // Appends one row. False with the cause when it could not be written (the disk is full).
    bool Append(const CMotionRow& row, std::string* error);
    // Makes everything durable and closes; false with the cause.
    bool Close(std::string* error);

    // How long written rows may wait for the disk.
    static constexpr std::chrono::seconds kSyncInterval{1};

private:
    bool Put(const std::string& line, std::string* error);

    std::FILE* m_file = nullptr;
    std::string m_path;
    std::chrono::steady_clock::time_point m_lastSync{};
};

// A whole recording file, or nullopt with the cause in *error: the file's ("cannot read PATH: No such file or
// directory", "PATH is not a regular file", "PATH is larger than 64 MB") or the place of a fault in it
// ("PATH: row 4, column 3: ...").
std::optional<CMotionRecording> ReadMotionFile(const std::string& path, std::string* error);

// Forces what was written to the file onto the disk; false when the system says it failed.
// FileSync.cpp (POSIX) or FileSyncWin32.cpp, as CMake picks.
bool SyncFileToDisk(std::FILE* file);
