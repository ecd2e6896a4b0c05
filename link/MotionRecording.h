// A motion taught by hand: the present positions of several servos over time, and its CSV form
// ("time_ms,<id>,<id>,..." then one row per sample), shared by the Servos window and the client.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct CMotionRow {
    int64_t timeMs = 0;          // since the recording began
    std::vector<int> positions;  // one per ID, in the order of the IDs
    bool operator==(const CMotionRow&) const = default;
};

struct CMotionRecording {
    std::vector<uint8_t> ids;
    std::vector<CMotionRow> rows;  // times never go backwards
    bool operator==(const CMotionRecording&) const = default;
};

// The header line and one row, without their line ends.
std::string MotionHeader(const std::vector<uint8_t>& ids);
std::string MotionRow(const CMotionRow& row);
// The whole file: header and rows, each line ending in '\n'.
std::string MotionText(const CMotionRecording& recording);

// Reads a whole file. Refused, with the place named in *error ("row 4, column 3: ..."; rows count the file's
// lines from 1, the header being row 1, columns count from 1): no header, a first column other than time_ms,
// an ID that is not a number 0..253 or comes twice, a row with a missing or extra column, a value that is
// not a whole number, a time below 0 or below the row before, a position outside 0..1023, and a file without
// rows. Empty lines at the end and "\r\n" line ends are taken.
std::optional<CMotionRecording> ParseMotion(std::string_view text, std::string* error);

// Positions a servo's GOAL_POSITION can hold.
inline constexpr int kLowestPosition = 0;
inline constexpr int kHighestPosition = 1023;
// The largest recording file read: an hour of twenty servos at 20 ms is about 20 MB.
inline constexpr std::size_t kLargestMotionFile = 64u << 20;
