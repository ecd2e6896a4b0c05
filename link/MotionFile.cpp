// Writing a recording as it grows, and reading one whole.
#include "link/MotionFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "link/FileHead.h"

namespace {

std::string Cause() {
    return std::strerror(errno);
}

}  // namespace

CMotionFileWriter::~CMotionFileWriter() {
    Close(nullptr);
}

bool CMotionFileWriter::Create(const std::string& path, const std::vector<uint8_t>& ids, std::string* error) {
    Close(nullptr);
    m_path = path;
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file) {
        if (error) *error = "cannot write " + path + ": " + Cause();
        return false;
    }
    m_lastSync = std::chrono::steady_clock::now();
    return Put(MotionHeader(ids) + "\n", error);
}

bool CMotionFileWriter::Append(const CMotionRow& row, std::string* error) {
    if (!Put(MotionRow(row) + "\n", error)) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastSync < kSyncInterval) return true;
    m_lastSync = now;
    if (SyncFileToDisk(m_file)) return true;
    if (error) *error = "cannot write " + m_path + ": " + Cause();
    return false;
}

bool CMotionFileWriter::Put(const std::string& line, std::string* error) {
    if (!m_file) {
        if (error) *error = "no recording file is open";
        return false;
    }
    // Handed to the system at once: a crash of this program then loses nothing already recorded.
    if (std::fwrite(line.data(), 1, line.size(), m_file) == line.size() && std::fflush(m_file) == 0)
        return true;
    if (error) *error = "cannot write " + m_path + ": " + Cause();
    return false;
}

bool CMotionFileWriter::Close(std::string* error) {
    if (!m_file) return true;
    const bool synced = SyncFileToDisk(m_file);
    const int syncError = errno;
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    if (synced && closed) return true;
    if (error) *error = "cannot write " + m_path + ": " + std::strerror(synced ? errno : syncError);
    return false;
}

std::optional<CMotionRecording> ReadMotionFile(const std::string& path, std::string* error) {
    const auto fail = [&](const std::string& why) -> std::optional<CMotionRecording> {
        if (error) *error = why;
        return std::nullopt;
    };
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec) return fail("cannot read " + path + ": " + ec.message());
    if (!std::filesystem::is_regular_file(status)) return fail(path + " is not a regular file");
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) return fail("cannot read " + path + ": " + ec.message());
    if (size > kLargestMotionFile) return fail(path + " is larger than 64 MB");
    // One byte more than the size, so a file that grew meanwhile past the limit is noticed.
    std::vector<char> bytes(static_cast<std::size_t>(size) + 1);
    const auto got = ReadFileHead(path, bytes.data(), bytes.size());
    if (!got) return fail("cannot read " + path + ": " + Cause());
    if (*got > kLargestMotionFile) return fail(path + " is larger than 64 MB");
    std::string problem;
    auto recording = ParseMotion(std::string_view(bytes.data(), *got), &problem);
    if (!recording) return fail(path + ": " + problem);
    return recording;
}
