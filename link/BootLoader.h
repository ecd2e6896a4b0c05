// What the servos' boot loader expects: the host hands a servo over with instruction 8, then talks raw bytes.
#pragma once

#include <array>
#include <cstdint>

// The entry code must match the servos' boot loader; the simulator's boot loader uses the same constant.
inline constexpr std::array<uint8_t, 5> BOOT_ENTRY_CODE{'B', 'X', 'L', 'D', '7'};
inline constexpr uint8_t BOOT_START = 0x01;
inline constexpr uint8_t BOOT_ACK = 0x06;
inline constexpr uint8_t BOOT_NAK = 0x15;
inline constexpr int BOOT_BAUD = 500000;
inline constexpr int BOOT_TIMEOUT_MS = 500;
inline constexpr int BOOT_PAUSE_MS = 100;
