// The boot-loader transfer of a firmware image to one servo, shared by the upgrade page and the client.
// No toolkit code here: the caller supplies the cancel flag and hears of each acknowledged block.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <stop_token>

#include "upgrade/FirmwareImage.h"

class CServoUsb;
class CUsb;

enum class EUpgradeResult { Success, Error, Cancelled };

struct CUpgradeCallbacks {
    // Read once before every block; 0 ends the transfer with Cancelled. Null: the transfer runs to its end.
    const std::atomic<int>* running = nullptr;
    // Also read before every block: a stop asked here ends the transfer with Cancelled as well.
    std::stop_token stop;
    // After block n (1-based) was acknowledged.
    std::function<void(int block)> blockDone;
};

// Hands the servo to its boot loader, sends every block at the boot rate and restores the port's rate and
// timeout on every path. Holds the bus throughout, so no other exchange slips in between.
EUpgradeResult TransferFirmware(CServoUsb& servo, CUsb& port, const FirmwareImage& image, uint8_t servoId,
                                const CUpgradeCallbacks& callbacks);
