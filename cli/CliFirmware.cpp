// A flash holds the bus for its whole length and puts the port back at its rate and timeout on every path;
// an interrupt only asks it to stop before its next block, so a servo is never left mid-frame.
#include "cli/CliFirmware.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <ostream>

#include "cli/CliOptions.h"
#include "link/ServoUsb.h"
#include "upgrade/FirmwareFile.h"
#include "upgrade/FirmwareTransfer.h"

namespace {

// Cleared by SIGINT during a flash; lock-free, so the handler may write it.
std::atomic<int> g_flashRunning{1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void StopFlash(int) {
    g_flashRunning = 0;
}

// Holds the interrupt handler for the length of one flash and puts the previous one back. Plain C signals,
// so Ctrl+C cancels the same way on every system.
class CInterruptGuard {
public:
    CInterruptGuard() : m_previous(std::signal(SIGINT, StopFlash)) {}
    ~CInterruptGuard() {
        if (m_previous != SIG_ERR) std::signal(SIGINT, m_previous);
    }
    CInterruptGuard(const CInterruptGuard&) = delete;
    CInterruptGuard& operator=(const CInterruptGuard&) = delete;

private:
    using Handler = void (*)(int);
    Handler m_previous;
};

const char* KindName(uint8_t kind) {
    return kind == kSourceBin ? "bin" : "hex";
}

// Loads the file, reporting a refused one on err; null then.
std::unique_ptr<FirmwareImage> Load(const std::string& path, std::ostream& err) {
    auto image = std::make_unique<FirmwareImage>();
    const EFirmwareLoad result = LoadFirmwareFile(path, *image);
    if (result == EFirmwareLoad::Loaded) return image;
    err << "brennix: " << FirmwareLoadMessage(result) << ": " << path << "\n";
    return nullptr;
}

}  // namespace

int RunFirmwareInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string path;
    bool frames = false;
    for (const std::string& arg : args) {
        if (arg == "--frames") {
            frames = true;
        } else if (path.empty()) {
            path = arg;
        } else {
            path.clear();
            break;
        }
    }
    if (path.empty()) {
        err << "brennix: firmware needs one FILE (and --frames to list the block frames)\n" << CLI_USAGE;
        return EXIT_BAD_ARGUMENTS;
    }
    const auto image = Load(path, err);
    if (!image) return EXIT_BAD_ARGUMENTS;
    out << "length " << image->imageLength << "\nblocks " << static_cast<int>(image->blockCount) << "\nkind "
        << KindName(image->sourceKind) << "\n";
    if (!frames) return EXIT_OK;
    uint8_t frame[BLOCK_FRAME_SIZE];
    char digits[4];
    for (int block = 1; block <= image->blockCount; ++block) {
        const uint8_t endFlag = block == image->blockCount ? BLOCK_LAST : BLOCK_MORE_FOLLOW;
        image->BuildBlockFrame(frame, static_cast<uint8_t>(block), endFlag, image->sourceKind);
        std::string line;
        for (int i = 0; i < BLOCK_FRAME_SIZE; ++i) {
            std::snprintf(digits, sizeof digits, i ? " %02X" : "%02X", frame[i]);
            line += digits;
        }
        out << line << "\n";
    }
    return EXIT_OK;
}

int RunFlash(const CCliContext& c, uint8_t id, const std::string& path) {
    CServoUsb& servo = c.servo;
    std::ostream& out = c.out;
    std::ostream& err = c.err;
    const auto image = Load(path, err);
    if (!image) return EXIT_BAD_ARGUMENTS;
    CUsb& port = *servo.Transport();

    const int blocks = image->blockCount;
    CUpgradeCallbacks callbacks;
    callbacks.running = &g_flashRunning;
    // One update per percent, so a log that is not a terminal stays short.
    int shownPercent = -1;
    callbacks.blockDone = [&err, &shownPercent, blocks, id](int block) {
        const int percent = block * 100 / blocks;
        if (percent == shownPercent) return;
        shownPercent = percent;
        err << "\rflashing ID " << static_cast<int>(id) << ": block " << block << "/" << blocks << " ("
            << percent << "%)" << std::flush;
    };

    g_flashRunning = 1;
    err << "flashing ID " << static_cast<int>(id) << ": " << blocks << " blocks" << std::flush;
    EUpgradeResult result;
    {
        const CInterruptGuard guard;
        result = TransferFirmware(servo, port, *image, id, callbacks);
    }
    err << "\n";
    switch (result) {
        case EUpgradeResult::Success:
            out << "flashed " << blocks << " blocks to ID " << static_cast<int>(id) << "\n";
            return EXIT_OK;
        case EUpgradeResult::Cancelled:
            err << "brennix: upgrade cancel\n";
            return EXIT_UPGRADE_CANCELLED;
        case EUpgradeResult::Error:
            break;
    }
    err << "brennix: upgrade error\n";
    return EXIT_UPGRADE_ERROR;
}
