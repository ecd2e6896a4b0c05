// Unlock, write, lock and read back, with the waits between.
#include "link/StoredWrite.h"

#include <chrono>
#include <thread>
#include <vector>

#include "link/ControlTable.h"

namespace {

void Wait(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

CStoredWriteResult Failed(const CRegisterAccess& servo, const std::string& what) {
    return {servo.PortLost() ? EStoredWrite::PortLost : EStoredWrite::NoAnswer,
            what + ": " + servo.Problem()};
}

}  // namespace

CStoredWriteResult WriteStored(CRegisterAccess& servo, uint8_t address, std::span<const uint8_t> bytes) {
    if (!servo.WriteByte(Reg::LOCK, 0)) return Failed(servo, "unlocking failed (nothing written)");
    Wait(kStoredLockWaitMs);
    if (!servo.Write(address, bytes)) return Failed(servo, "the write failed (the servo may be unlocked)");
    Wait(kStoredWriteWaitMs);
    if (!servo.WriteByte(Reg::LOCK, 1)) return Failed(servo, "locking failed (the servo may be unlocked)");
    Wait(kStoredLockWaitMs);

    std::vector<uint8_t> stored(bytes.size());
    if (!servo.Read(address, static_cast<uint8_t>(stored.size()), stored.data()))
        return Failed(servo, "reading back failed");
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (stored[i] != bytes[i])
            return {EStoredWrite::NotVerified, "address " + std::to_string(address + i) + " holds " +
                                                   std::to_string(stored[i]) + " where " +
                                                   std::to_string(bytes[i]) + " was written"};
    }
    const auto lock = servo.Byte(Reg::LOCK);
    if (!lock) return Failed(servo, "reading LOCK back failed");
    if (*lock != 1)
        return {EStoredWrite::NotVerified, "the values are written but the servo is still unlocked"};
    return {};
}
