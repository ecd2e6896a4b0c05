// The port is restored before the caller reports the outcome: an operator reading a message box must not
// leave the line at the boot rate.
#include "upgrade/FirmwareTransfer.h"

#include <chrono>
#include <thread>

#include "link/BootLoader.h"
#include "link/LineSettingsScope.h"
#include "link/ServoUsb.h"

namespace {

EUpgradeResult SendImage(CServoUsb& servo, const FirmwareImage& image, const CUpgradeCallbacks& callbacks) {
    uint8_t entry[BOOT_ENTRY_CODE.size()];
    for (std::size_t i = 0; i < BOOT_ENTRY_CODE.size(); ++i) entry[i] = BOOT_ENTRY_CODE[i];
    if (servo.RawTransfer(static_cast<int>(sizeof entry), entry) < 0) return EUpgradeResult::Error;
    const uint8_t start = BOOT_START;
    if (servo.RawTransfer(1, &start) < 0) return EUpgradeResult::Error;

    uint8_t frame[BLOCK_FRAME_SIZE];
    for (int block = 1; block <= image.blockCount; ++block) {
        if (callbacks.running && callbacks.running->load() == 0) return EUpgradeResult::Cancelled;
        if (callbacks.stop.stop_requested()) return EUpgradeResult::Cancelled;
        const uint8_t endFlag = block == image.blockCount ? BLOCK_LAST : BLOCK_MORE_FOLLOW;
        image.BuildBlockFrame(frame, static_cast<uint8_t>(block), endFlag, image.sourceKind);
        if (servo.RawTransfer(BLOCK_FRAME_SIZE, frame) != BOOT_ACK) return EUpgradeResult::Error;
        if (callbacks.blockDone) callbacks.blockDone(block);
    }
    return EUpgradeResult::Success;
}

}  // namespace

EUpgradeResult TransferFirmware(CServoUsb& servo, CUsb& port, const FirmwareImage& image, uint8_t servoId,
                                const CUpgradeCallbacks& callbacks) {
    CBusLock bus = servo.AcquireBus();
    servo.BeginUpgrade(servoId);
    // The line is silent for the whole pause, so where in it the rate changes makes no difference to the
    // servo; changing it half-way leaves the hand-off ample time to be taken in at the old rate, even by a
    // receiver that judges the rate only when it gets round to reading.
    std::this_thread::sleep_for(std::chrono::milliseconds(BOOT_PAUSE_MS / 2));
    const CLineSettingsScope bootLine(port, BOOT_BAUD, BOOT_TIMEOUT_MS);
    std::this_thread::sleep_for(std::chrono::milliseconds(BOOT_PAUSE_MS - BOOT_PAUSE_MS / 2));
    return SendImage(servo, image, callbacks);
}
