// Firmware files into the image, and the image into block frames.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "upgrade/FirmwareFile.h"
#include "upgrade/FirmwareImage.h"

namespace fs = std::filesystem;

namespace {

// A data record for the given address and bytes, checksum included.
std::string HexRecord(int address, const std::vector<uint8_t>& data, int type = 0) {
    char text[16];
    std::string line = ":";
    int sum = static_cast<int>(data.size()) + (address >> 8) + (address & 0xFF) + type;
    std::snprintf(text, sizeof text, "%02X%04X%02X", static_cast<int>(data.size()), address, type);
    line += text;
    for (uint8_t byte : data) {
        std::snprintf(text, sizeof text, "%02X", byte);
        line += text;
        sum += byte;
    }
    std::snprintf(text, sizeof text, "%02X", (-sum) & 0xFF);
    return line + text;
}

int Parse(FirmwareImage& image, const std::string& line) {
    return image.ParseHexLine(line.data(), static_cast<int>(line.size()));
}

class FirmwareFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("fw-test-" + std::to_string(getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Write(const std::string& name, const std::string& bytes) {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }
    fs::path dir;
    FirmwareImage image;
};

}  // namespace

TEST(HexLine, RecordRules) {
    FirmwareImage image;
    EXPECT_EQ(Parse(image, HexRecord(0x8000, {1, 2, 3})), 1);
    EXPECT_EQ(image.imageData[2], 3);
    EXPECT_EQ(image.imageLength, 3);
    EXPECT_EQ(Parse(image, ":00000001FF"), 1);      // end of file: accepted, changes nothing
    EXPECT_EQ(Parse(image, ":020000040000FA"), 1);  // extended address: ignored
    EXPECT_EQ(Parse(image, ":0200000212"), -1);     // count does not match the length
    EXPECT_EQ(Parse(image, ""), -1);
    EXPECT_EQ(Parse(image, "0300000001020304"), -1);
    EXPECT_EQ(Parse(image, ":03 000000102030"), -1);
    EXPECT_EQ(Parse(image, HexRecord(0x8000, {1}) + "\r"), -1);
    EXPECT_EQ(Parse(image, ":00800000"), -1);
    EXPECT_EQ(Parse(image, ":0000000000"), -1);  // a data record without data
}

TEST(HexLine, AddressesMapToTheImage) {
    FirmwareImage image;
    std::string lower = HexRecord(0x0010, {0xab});
    for (char& c : lower) c = static_cast<char>(std::tolower(c));
    EXPECT_EQ(Parse(image, lower), 1);
    EXPECT_EQ(image.imageData[0x10], 0xAB);
    EXPECT_EQ(Parse(image, HexRecord(0xAFFF, {0x11})), 1);
    EXPECT_EQ(image.imageData[0x2FFF], 0x11);
    EXPECT_EQ(Parse(image, HexRecord(0xAFFF, {0x11, 0x22})), -1);  // crosses the end of the image
    EXPECT_EQ(Parse(image, HexRecord(0x3000, {0x11})), -1);
    std::string badSum = HexRecord(0x8000, {5, 6});
    badSum.back() = badSum.back() == '0' ? '1' : '0';
    EXPECT_EQ(Parse(image, badSum), -1);
    EXPECT_EQ(image.imageData[1], 6);  // stored before the checksum was judged
}

TEST(HexLine, LengthIsTheHighestEndNotTheLastRecord) {
    FirmwareImage image;
    EXPECT_EQ(Parse(image, HexRecord(0x8040, std::vector<uint8_t>(16, 1))), 1);
    EXPECT_EQ(Parse(image, HexRecord(0x8000, std::vector<uint8_t>(16, 2))), 1);
    EXPECT_EQ(image.imageLength, 0x50);
    image.CountBlocks();
    EXPECT_EQ(image.blockCount, 2);
}

TEST(BlockFrame, WorkedFrameAndBounds) {
    FirmwareImage image;
    image.imageLength = 65;
    image.CountBlocks();
    ASSERT_EQ(image.blockCount, 2);
    uint8_t frame[BLOCK_FRAME_SIZE];
    ASSERT_EQ(image.BuildBlockFrame(frame, 1, BLOCK_MORE_FOLLOW, kSourceHex), 1);
    std::vector<uint8_t> expected{0x01, 0xFE, 0x00};
    expected.insert(expected.end(), 64, 0xFF);
    expected.insert(expected.end(), {0xAF, 0x9F, 0x06});
    EXPECT_EQ(std::vector<uint8_t>(frame, frame + BLOCK_FRAME_SIZE), expected);

    std::fill(frame, frame + BLOCK_FRAME_SIZE, 0x33);
    EXPECT_EQ(image.BuildBlockFrame(frame, 0, BLOCK_LAST, 0), -1);
    EXPECT_EQ(image.BuildBlockFrame(frame, 3, BLOCK_LAST, 0), -1);
    EXPECT_EQ(frame[0], 0x33);
    EXPECT_EQ(image.BuildBlockFrame(frame, 2, BLOCK_LAST, kSourceBin), 1);
    EXPECT_EQ(frame[1], 0xFD);
    EXPECT_EQ(frame[2], 1);
    EXPECT_EQ(frame[69], 4);
}

TEST(BlockFrame, CrcIsXmodemOverTheFirst64FrameBytes) {
    uint8_t bytes[64] = {};
    std::memcpy(bytes, "123456789", 9);
    // The check value of CRC-16/XMODEM is over the nine digits alone; zeros after them leave a known value.
    uint16_t crc = 0;
    for (int i = 0; i < 9; ++i) {
        crc = static_cast<uint16_t>(crc ^ (bytes[i] << 8));
        for (int b = 0; b < 8; ++b)
            crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    EXPECT_EQ(crc, 0x31C3);
    uint8_t block[64];
    std::fill(block, block + 64, 0);
    EXPECT_EQ(FirmwareImage::Crc16(block), 0);
    // Only the first 64 bytes count: frame bytes 64..66 change nothing.
    FirmwareImage image;
    image.imageLength = 64;
    image.CountBlocks();
    uint8_t a[BLOCK_FRAME_SIZE], b[BLOCK_FRAME_SIZE];
    image.BuildBlockFrame(a, 1, BLOCK_LAST, 0);
    image.imageData[63] = 0x00;
    image.BuildBlockFrame(b, 1, BLOCK_LAST, 0);
    EXPECT_EQ(a[67], b[67]);
    EXPECT_EQ(a[68], b[68]);
    image.imageData[60] = 0x00;
    image.BuildBlockFrame(b, 1, BLOCK_LAST, 0);
    EXPECT_NE(a[67] << 8 | a[68], b[67] << 8 | b[68]);
}

TEST_F(FirmwareFiles, BinSizes) {
    EXPECT_EQ(LoadFirmwareFile(Write("a.bin", std::string(12288, 'x')), image), EFirmwareLoad::Loaded);
    EXPECT_EQ(image.blockCount, 192);
    EXPECT_EQ(image.sourceKind, kSourceBin);
    EXPECT_EQ(LoadFirmwareFile(Write("b.bin", std::string(12289, 'y')), image),
              EFirmwareLoad::BinFormatError);
    EXPECT_EQ(image.imageData[0], 'x');  // the image is left as it was
    EXPECT_EQ(LoadFirmwareFile(Write("c.bin", std::string(65, 'z')), image), EFirmwareLoad::Loaded);
    EXPECT_EQ(image.imageLength, 65);
    EXPECT_EQ(image.blockCount, 2);
    EXPECT_EQ(image.imageData[64], 'z');
    EXPECT_EQ(image.imageData[65], 0xFF);
    EXPECT_EQ(LoadFirmwareFile(Write("d.bin", ""), image), EFirmwareLoad::NoBlocks);
}

TEST_F(FirmwareFiles, HexFilesWithCrLfAndCapitalExtension) {
    std::string text;
    for (int address = 0x8000; address < 0x9000; address += 16)
        text += HexRecord(address, std::vector<uint8_t>(16, static_cast<uint8_t>(address >> 4))) + "\r\n";
    text += ":00000001FF\r\n";
    ASSERT_EQ(LoadFirmwareFile(Write("fw.HEX", text), image), EFirmwareLoad::Loaded);
    EXPECT_EQ(image.imageLength, 4096);
    EXPECT_EQ(image.blockCount, 64);
    EXPECT_EQ(image.sourceKind, kSourceHex);
    EXPECT_EQ(image.imageData[4096], 0xFF);
    // Lines after the end-of-file record are still read.
    EXPECT_EQ(LoadFirmwareFile(Write("more.hex", ":00000001FF\n" + HexRecord(0x8000, {7}) + "\n"), image),
              EFirmwareLoad::Loaded);
    EXPECT_EQ(image.imageData[0], 7);
}

TEST_F(FirmwareFiles, BrokenHexFiles) {
    const std::string good = HexRecord(0x8000, {1, 2});
    EXPECT_EQ(LoadFirmwareFile(Write("blank.hex", good + "\n\n" + good + "\n"), image),
              EFirmwareLoad::HexFormatError);
    EXPECT_EQ(LoadFirmwareFile(Write("cr.hex", good + "\r\r\n"), image), EFirmwareLoad::HexFormatError);
    EXPECT_EQ(LoadFirmwareFile(Write("empty.hex", ""), image), EFirmwareLoad::NoBlocks);
}

TEST_F(FirmwareFiles, OpenErrorsAndOtherKinds) {
    EXPECT_EQ(LoadFirmwareFile((dir / "missing.hex").string(), image), EFirmwareLoad::HexCannotOpen);
    EXPECT_EQ(LoadFirmwareFile((dir / "missing.bin").string(), image), EFirmwareLoad::BinCannotOpen);
    EXPECT_EQ(LoadFirmwareFile(Write("fw.txt", "data"), image), EFirmwareLoad::UnknownKind);
    EXPECT_EQ(LoadFirmwareFile(Write("noext", "data"), image), EFirmwareLoad::UnknownKind);
    const std::string readOnly = Write("ro.bin", std::string(100, 'r'));
    chmod(readOnly.c_str(), 0444);
    EXPECT_EQ(LoadFirmwareFile(readOnly, image), EFirmwareLoad::Loaded);
    EXPECT_STREQ(FirmwareLoadMessage(EFirmwareLoad::HexFormatError), "hex file fromat error");
}

// Only regular files are firmware: a FIFO must not block the caller (it would hold the port or freeze the
// window), and a directory is a file that cannot be opened, not an empty image.
TEST_F(FirmwareFiles, FifosAndDirectoriesCannotBeOpened) {
    const std::string fifo = (dir / "pipe.hex").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto load = std::async(std::launch::async, [&] {
        FirmwareImage fromFifo;
        return LoadFirmwareFile(fifo, fromFifo);
    });
    if (load.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
        // Free the blocked open by opening the other end, so the test fails instead of hanging.
        close(open(fifo.c_str(), O_WRONLY));
        load.wait();
        FAIL() << "opening a FIFO blocked";
    }
    EXPECT_EQ(load.get(), EFirmwareLoad::HexCannotOpen);
    std::filesystem::create_directory(dir / "folder.bin");
    EXPECT_EQ(LoadFirmwareFile((dir / "folder.bin").string(), image), EFirmwareLoad::BinCannotOpen);
    std::filesystem::create_directory(dir / "folder.hex");
    EXPECT_EQ(LoadFirmwareFile((dir / "folder.hex").string(), image), EFirmwareLoad::HexCannotOpen);
}

// The fuzzers drive the loader through a stream: it must load exactly what the same bytes in a file load.
TEST_F(FirmwareFiles, StreamLoadMatchesFileLoad) {
    const std::string good = HexRecord(0x8000, {1, 2, 3}) + "\r\n" + HexRecord(0x8040, {4}) + "\n";
    const std::vector<std::pair<std::string, std::string>> cases = {{"a.hex", good},
                                                                    {"b.hex", good + "\r\r\n"},
                                                                    {"c.hex", ""},
                                                                    {"d.bin", "\x01\x02"},
                                                                    {"e.bin", std::string(12289, 'y')}};
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        FirmwareImage fromStream;
        std::istringstream in(bytes);
        const EFirmwareLoad streamResult = LoadFirmwareStream(in, name.ends_with(".hex"), fromStream);
        EXPECT_EQ(streamResult, LoadFirmwareFile(Write(name, bytes), image));
        EXPECT_EQ(fromStream.imageLength, image.imageLength);
        EXPECT_EQ(fromStream.blockCount, image.blockCount);
        EXPECT_EQ(std::memcmp(fromStream.imageData, image.imageData, sizeof image.imageData), 0);
        image.Empty();
    }
}
