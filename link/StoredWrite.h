// Changing a few stored parameters the way the programming page changes them: unlock, write, lock, then a
// read-back of the bytes and of LOCK, each step judged on its own.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "link/RegisterAccess.h"

enum class EStoredWrite { Done, NoAnswer, NotVerified, PortLost };

struct CStoredWriteResult {
    EStoredWrite kind = EStoredWrite::Done;
    // Which step failed and what state the servo may be left in, in the operator's words; empty when done.
    std::string problem;
    bool Ok() const { return kind == EStoredWrite::Done; }
};

// Waits that let the servo store what it was sent: after each write of LOCK, and after the bytes.
inline constexpr int kStoredLockWaitMs = 50;
inline constexpr int kStoredWriteWaitMs = 100;

// Writes the bytes from `address` (within the stored parameters, 5..30) to the servo. Done only when the
// servo reads back exactly those bytes and is locked again. Blocks for the exchanges and the waits (about
// 0.2 s); any thread that may block.
CStoredWriteResult WriteStored(CRegisterAccess& servo, uint8_t address, std::span<const uint8_t> bytes);
