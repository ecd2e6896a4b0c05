// The meaning of a recorded frame in words: instruction and ID, register names and values, outcome, alarms.
//
// Thread rules: pure functions of their arguments; any thread.
#pragma once

#include <string>

#include "link/BusRecorder.h"

// What the frame says ("ping 1", "write 1: GOAL_POSITION = 512", "status of 1: ok, alarms: over-heat").
// highByteFirst is the byte order of 16-bit register values on this bus.
std::string DescribeFrame(const CBusFrame& frame, bool highByteFirst = true);
// The kept bytes as "FF FF 01 02 01 FB", with "… (70 bytes)" when only the first were kept.
std::string FrameHex(const CBusFrame& frame);
// Seconds since the recording began, with microseconds: "12.345678".
std::string FrameTime(const CBusFrame& frame);
// One line of the trace: time, direction, hex, meaning.
std::string TraceLine(const CBusFrame& frame, bool highByteFirst = true);
// The line a trace shows before the first frame at another line rate: "12.345678 -- line rate 500000 baud"
// (the frame's time and rate).
std::string RateChangeLine(const CBusFrame& frame);
