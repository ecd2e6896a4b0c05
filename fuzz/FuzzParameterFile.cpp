// Fuzz target: parameter files through the programming page's loader, then the decoding the page applies to
// the loaded image. The file lives in memory (memfd) and is reopened by path each run, as OPEN does.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/ControlTable.h"
#include "link/Encodings.h"
#include "program/ParameterFile.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

// One in-memory file for the whole run: created once, rewritten for every input.
struct CMemoryFile {
    CMemoryFile() {
        fd = memfd_create("brennix-fuzz.dat", MFD_CLOEXEC);
        Require(fd >= 0);
        path = "/proc/self/fd/" + std::to_string(fd);
    }
    void Fill(const uint8_t* data, size_t size) {
        Require(ftruncate(fd, 0) == 0);
        size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
            Require(n > 0);
            done += static_cast<size_t>(n);
        }
    }
    int fd;
    std::string path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CMemoryFile file;
    file.Fill(data, size);

    ParameterBytes bytes;
    bytes.fill(0xA5);
    const EParamFileStatus status = LoadParameterFile(file.path, bytes);
    if (size < PARAMETER_FILE_SIZE) {
        // A short file fills nothing: the page keeps what it showed.
        Require(status == EParamFileStatus::TooShort);
        for (uint8_t b : bytes) Require(b == 0xA5);
        return 0;
    }
    Require(status == EParamFileStatus::Ok);
    Require(std::memcmp(bytes.data(), data, PARAMETER_FILE_SIZE) == 0);

    // The page copies the file into its image and shows the words; swapping the byte order twice must give
    // the image back, and every signed word must decode and encode back to itself.
    uint8_t image[IMAGE_SIZE] = {};
    std::memcpy(image, bytes.data(), bytes.size());
    uint8_t swapped[IMAGE_SIZE];
    std::memcpy(swapped, image, sizeof image);
    SwapParameterWords(swapped);
    SwapParameterWords(swapped);
    Require(std::memcmp(swapped, image, sizeof image) == 0);
    for (uint8_t address = 0; address + 1 < PARAMETER_FILE_SIZE; ++address) {
        const uint16_t raw = ImageWord(image, address);
        for (int signBit : {10, 11, 15}) {
            const int16_t value = DecodeSignMagnitude(raw, signBit);
            const uint16_t sign = static_cast<uint16_t>(1u << signBit);
            // Bits above the sign bit belong to the magnitude; what fits 15 bits must come back, except a
            // negative zero.
            const bool negativeZero = raw == sign;
            if (!negativeZero && (raw < 0x8000 || signBit == 15))
                Require(EncodeSignMagnitude(value, signBit) == raw);
        }
    }
    return 0;
}
