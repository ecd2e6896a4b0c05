// The recording's CSV text: writing it and reading it back with the place of every fault named.
#include "link/MotionRecording.h"

#include <charconv>

namespace {

constexpr std::string_view kTimeColumn = "time_ms";

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (true) {
        const std::size_t comma = line.find(',', at);
        fields.push_back(
            line.substr(at, comma == std::string_view::npos ? std::string_view::npos : comma - at));
        if (comma == std::string_view::npos) return fields;
        at = comma + 1;
    }
}

std::optional<int64_t> WholeNumber(std::string_view text) {
    int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || stop != end) return std::nullopt;
    return value;
}

class CMotionReader {
public:
    explicit CMotionReader(std::string* error) : m_error(error) {}

    std::optional<CMotionRecording> Read(std::string_view text) {
        std::vector<std::string_view> lines;
        for (std::size_t at = 0; at < text.size();) {
            std::size_t end = text.find('\n', at);
            if (end == std::string_view::npos) end = text.size();
            std::string_view line = text.substr(at, end - at);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            lines.push_back(line);
            at = end + 1;
        }
        while (!lines.empty() && lines.back().empty()) lines.pop_back();
        if (lines.empty()) {
            Fail(1, 0, "no header (time_ms,ID,ID,...)");
            return std::nullopt;
        }
        if (!ReadHeader(lines[0])) return std::nullopt;
        for (std::size_t i = 1; i < lines.size(); ++i)
            if (!ReadRow(static_cast<int>(i) + 1, lines[i])) return std::nullopt;
        if (m_recording.rows.empty()) {
            Fail(2, 0, "no positions recorded");
            return std::nullopt;
        }
        return std::move(m_recording);
    }

private:
    bool ReadHeader(std::string_view line) {
        const auto fields = SplitFields(line);
        if (fields[0] != kTimeColumn) return Fail(1, 1, "the first column must be time_ms");
        if (fields.size() < 2) return Fail(1, 2, "no servo ID");
        for (std::size_t c = 1; c < fields.size(); ++c) {
            const auto id = WholeNumber(fields[c]);
            const int column = static_cast<int>(c) + 1;
            if (!id || *id < 0 || *id > 253)
                return Fail(1, column, "\"" + std::string(fields[c]) + "\" is no servo ID 0-253");
            for (uint8_t seen : m_recording.ids)
                if (seen == *id) return Fail(1, column, "ID " + std::to_string(*id) + " comes twice");
            m_recording.ids.push_back(static_cast<uint8_t>(*id));
        }
        return true;
    }

    bool ReadRow(int rowNumber, std::string_view line) {
        const auto fields = SplitFields(line);
        const std::size_t wanted = m_recording.ids.size() + 1;
        if (fields.size() < wanted)
            return Fail(rowNumber, static_cast<int>(fields.size()) + 1,
                        "missing (the header has " + std::to_string(wanted) + " columns)");
        if (fields.size() > wanted)
            return Fail(rowNumber, static_cast<int>(wanted) + 1,
                        "one column too many (the header has " + std::to_string(wanted) + ")");
        CMotionRow row;
        for (std::size_t c = 0; c < fields.size(); ++c) {
            const int column = static_cast<int>(c) + 1;
            const auto value = WholeNumber(fields[c]);
            if (!value)
                return Fail(rowNumber, column, "\"" + std::string(fields[c]) + "\" is not a whole number");
            if (c == 0) {
                if (*value < 0) return Fail(rowNumber, column, "the time is below 0");
                if (!m_recording.rows.empty() && *value < m_recording.rows.back().timeMs)
                    return Fail(rowNumber, column,
                                "the time " + std::to_string(*value) + " ms goes back from " +
                                    std::to_string(m_recording.rows.back().timeMs) + " ms");
                row.timeMs = *value;
            } else {
                if (*value < kLowestPosition || *value > kHighestPosition)
                    return Fail(rowNumber, column,
                                "position " + std::to_string(*value) + " of ID " +
                                    std::to_string(m_recording.ids[c - 1]) + " is outside 0-1023");
                row.positions.push_back(static_cast<int>(*value));
            }
        }
        m_recording.rows.push_back(std::move(row));
        return true;
    }

    // Names the place in *error; false, for the reader's return.
    bool Fail(int row, int column, const std::string& what) {
        if (m_error) {
            *m_error = "row " + std::to_string(row);
            if (column > 0) *m_error += ", column " + std::to_string(column);
            *m_error += ": " + what;
        }
        return false;
    }

    std::string* m_error;
    CMotionRecording m_recording;
};

}  // namespace

std::string MotionHeader(const std::vector<uint8_t>& ids) {
    std::string line(kTimeColumn);
    for (uint8_t id : ids) line += "," + std::to_string(id);
    return line;
}

std::string MotionRow(const CMotionRow& row) {
    std::string line = std::to_string(row.timeMs);
    for (int position : row.positions) line += "," + std::to_string(position);
    return line;
}

std::string MotionText(const CMotionRecording& recording) {
    std::string text = MotionHeader(recording.ids) + "\n";
    for (const CMotionRow& row : recording.rows) text += MotionRow(row) + "\n";
    return text;
}

std::optional<CMotionRecording> ParseMotion(std::string_view text, std::string* error) {
    return CMotionReader(error).Read(text);
}
