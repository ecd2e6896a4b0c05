// Fuzz target: a whole firmware file through the loader, as hex text or (first byte odd) as bin bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "upgrade/FirmwareFile.h"
#include "upgrade/FirmwareImage.h"

namespace {

// A finding the sanitizers cannot see: the loader broke one of its own promises.
void Require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte picks the kind so one corpus reaches both readers; the rest is the file.
    const bool hex = (data[0] & 1) == 0;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    static FirmwareImage image;  // 12 KiB: kept out of the per-run stack
    image.Empty();
    const EFirmwareLoad result = LoadFirmwareStream(in, hex, image);

    Require(image.imageLength <= FIRMWARE_CAPACITY);
    if (result == EFirmwareLoad::Loaded) {
        // Whatever was loaded must go out as whole blocks, every one of them buildable.
        Require(image.blockCount >= 1 && image.blockCount <= FIRMWARE_MAX_BLOCKS);
        Require(image.blockCount == (image.imageLength + FIRMWARE_BLOCK_SIZE - 1) / FIRMWARE_BLOCK_SIZE);
        uint8_t frame[BLOCK_FRAME_SIZE];
        for (int block = 1; block <= image.blockCount; ++block)
            Require(image.BuildBlockFrame(frame, static_cast<uint8_t>(block), BLOCK_MORE_FOLLOW,
                                          image.sourceKind) == 1);
        Require(image.BuildBlockFrame(frame, static_cast<uint8_t>(image.blockCount + 1), BLOCK_LAST,
                                      image.sourceKind) == -1);
    } else {
        Require(result == (hex ? EFirmwareLoad::HexFormatError : EFirmwareLoad::BinFormatError) ||
                result == EFirmwareLoad::NoBlocks);
    }
    if (!hex) Require((result == EFirmwareLoad::BinFormatError) == (size - 1 > FIRMWARE_CAPACITY));
    return 0;
}
