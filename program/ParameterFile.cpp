// Reading parameter files without blocking on what is not a file; saving through the whole-file replacement.
#include "program/ParameterFile.h"

#include "link/AtomicFile.h"
#include "link/FileHead.h"

EParamFileStatus LoadParameterFile(const std::string& path, ParameterBytes& bytes) {
    // Never blocks: a FIFO picked by mistake cannot hang the page.
    ParameterBytes read{};
    const auto got = ReadFileHead(path, read.data(), read.size());
    if (!got) return EParamFileStatus::CannotOpen;
    if (*got < read.size()) return EParamFileStatus::TooShort;
    bytes = read;
    return EParamFileStatus::Ok;
}

EParamFileStatus SaveParameterFile(const std::string& path, const ParameterBytes& bytes, std::string* why) {
    const std::string_view data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const CFileWriteResult result = WriteFileAtomically(path, data);
    if (!result.ok && why) *why = result.error;
    return result.ok ? EParamFileStatus::Ok : EParamFileStatus::CannotWrite;
}
