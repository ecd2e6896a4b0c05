// Fuzz target: one hex record (line end removed) through the image's line parser, without a terminating NUL
// so a read past the given length shows.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "upgrade/FirmwareImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1024) return 0;  // a record holds at most 255 bytes: longer lines only repeat the digit scan
    static FirmwareImage image;
    image.Empty();
    const int result = image.ParseHexLine(reinterpret_cast<const char*>(data), static_cast<int>(size));
    if (result != 1 && result != -1) std::abort();
    if (image.imageLength > FIRMWARE_CAPACITY) std::abort();
    return 0;
}
