// Hex files are read line by line as a text-mode reader would (a CR before the LF is part of the line end),
// bin files in one read.
#include "upgrade/FirmwareFile.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

std::string LowerExtension(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

EFirmwareLoad LoadHex(std::istream& file, FirmwareImage& image) {
    std::memset(image.imageData, 0xFF, sizeof image.imageData);
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (image.ParseHexLine(line.data(), static_cast<int>(line.size())) < 0)
            return EFirmwareLoad::HexFormatError;
    }
    image.sourceKind = kSourceHex;
    return EFirmwareLoad::Loaded;
}

EFirmwareLoad LoadBin(std::istream& file, FirmwareImage& image) {
    // One byte more than fits tells an oversized file without reading all of it.
    std::vector<char> bytes(FIRMWARE_CAPACITY + 1);
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const std::streamsize length = file.gcount();
    if (file.bad()) return EFirmwareLoad::BinCannotOpen;
    if (length > FIRMWARE_CAPACITY) return EFirmwareLoad::BinFormatError;
    std::memset(image.imageData, 0xFF, sizeof image.imageData);
    std::copy_n(bytes.begin(), length, image.imageData);
    image.imageLength = static_cast<uint16_t>(length);
    image.sourceKind = kSourceBin;
    return EFirmwareLoad::Loaded;
}

constexpr std::size_t kHexFileLimit = 16u << 20;

// Up to limit bytes of a regular file. Anything else is refused before it is opened, so a FIFO or a device
// named like firmware cannot make the open wait for a writer; directories are refused too. Standard calls
// only, so the client reads firmware the same way on Windows.
bool ReadRegularFile(const std::string& path, std::size_t limit, std::string& bytes) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    char chunk[65536];
    while (bytes.size() < limit) {
        file.read(chunk, static_cast<std::streamsize>(std::min(sizeof chunk, limit - bytes.size())));
        bytes.append(chunk, static_cast<std::size_t>(file.gcount()));
        if (!file) return file.eof() && !file.bad();
    }
    return true;
}

}  // namespace

EFirmwareLoad LoadFirmwareFile(const std::string& path, FirmwareImage& image) {
    const std::string extension = LowerExtension(path);
    if (extension != "hex" && extension != "bin") return EFirmwareLoad::UnknownKind;
    const bool hex = extension == "hex";
    // Even a file that cannot be opened leaves no stale length behind.
    image.imageLength = 0;
    // A bin file one byte over capacity is already refused; a hex file holds at most a few text lines per
    // image byte, so anything far beyond that is no firmware either.
    const std::size_t limit = hex ? kHexFileLimit : FIRMWARE_CAPACITY + 1;
    std::string bytes;
    if (!ReadRegularFile(path, limit, bytes))
        return hex ? EFirmwareLoad::HexCannotOpen : EFirmwareLoad::BinCannotOpen;
    if (hex && bytes.size() >= limit) return EFirmwareLoad::HexFormatError;
    std::istringstream in(bytes);
    return LoadFirmwareStream(in, hex, image);
}

EFirmwareLoad LoadFirmwareStream(std::istream& in, bool hex, FirmwareImage& image) {
    image.imageLength = 0;
    const EFirmwareLoad result = hex ? LoadHex(in, image) : LoadBin(in, image);
    if (result != EFirmwareLoad::Loaded) return result;
    image.CountBlocks();
    return image.blockCount == 0 ? EFirmwareLoad::NoBlocks : EFirmwareLoad::Loaded;
}

const char* FirmwareLoadMessage(EFirmwareLoad result) {
    switch (result) {
        case EFirmwareLoad::Loaded:
            return "";
        case EFirmwareLoad::HexCannotOpen:
            return "Can not open file";
        case EFirmwareLoad::HexFormatError:
            return "hex file fromat error";
        case EFirmwareLoad::BinCannotOpen:
            return "Cannot open file";
        case EFirmwareLoad::BinFormatError:
            return "bin file fromat error";
        case EFirmwareLoad::UnknownKind:
            return "Firmware files are .hex or .bin";
        case EFirmwareLoad::NoBlocks:
            return "The firmware file holds no data";
    }
    return "";
}
