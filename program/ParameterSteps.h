// The bus steps of reading and writing a servo's parameter span, with the waits the servo needs to store
// what it was sent; the programming page and the command-line client build their sequences from them.
#pragma once

#include <cstdint>
#include <vector>

#include "link/ControlTable.h"
#include "program/BusSequence.h"

// After a write of LOCK, and after a write of the whole parameter span.
inline constexpr int kLockWaitMs = 50;
inline constexpr int kStoreWaitMs = 500;

// Writes 0 (unlock) or 1 (lock) to LOCK of the servo, then waits.
inline CBusStep LockStep(uint8_t id, uint8_t value, const char* log) {
    CBusStep step;
    step.kind = CBusStep::EKind::Write;
    step.id = id;
    step.address = Reg::LOCK;
    step.data = {value};
    step.waitMs = kLockWaitMs;
    step.log = log;
    return step;
}

// Writes the 26 bytes of the parameter span, as they go on the wire, then waits for the servo to store them.
inline CBusStep SpanWriteStep(uint8_t id, std::vector<uint8_t> wire, const char* log) {
    CBusStep step;
    step.kind = CBusStep::EKind::Write;
    step.id = id;
    step.address = Reg::PARAM_SPAN_START;
    step.data = std::move(wire);
    step.waitMs = kStoreWaitMs;
    step.log = log;
    return step;
}

inline CBusStep SpanReadStep(uint8_t id) {
    CBusStep step;
    step.kind = CBusStep::EKind::Read;
    step.id = id;
    step.address = Reg::PARAM_SPAN_START;
    step.count = Reg::PARAM_SPAN_LENGTH;
    return step;
}
