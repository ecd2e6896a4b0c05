// Loading a firmware file into the image, by the file's extension. No toolkit code here.
#pragma once

#include <istream>
#include <string>

#include "upgrade/FirmwareImage.h"

enum class EFirmwareLoad {
    Loaded,
    HexCannotOpen,   // "Can not open file"
    HexFormatError,  // "hex file fromat error": the image keeps what was stored before the bad line
    BinCannotOpen,   // "Cannot open file"
    BinFormatError,  // "bin file fromat error": longer than the image
    UnknownKind,     // neither .hex nor .bin: nothing read
    NoBlocks,        // the file holds no data: nothing to send a boot loader
};

// Loads path into image (opened for reading only, without blocking). Only a regular file can be opened: a
// FIFO, a device or a directory gives the kind's open error. Loaded also counts the blocks.
EFirmwareLoad LoadFirmwareFile(const std::string& path, FirmwareImage& image);

// The same load from a stream already open, as hex text or bin bytes; never returns an open error for hex
// (a bin stream that fails mid-read gives BinCannotOpen).
EFirmwareLoad LoadFirmwareStream(std::istream& in, bool hex, FirmwareImage& image);

// The operator's message for a failed load.
const char* FirmwareLoadMessage(EFirmwareLoad result);
