// The doctor's report: one line per check, ok / info / warn / fail / skip, with the evidence and, for a
// problem, what to do about it; as text or as a Markdown table.
#pragma once

#include <string>
#include <vector>

enum class ECheckLevel { Ok, Info, Warn, Fail, Skip };

struct CCheck {
    std::string section;  // "host", "bus", "servo 3 @ 1000000"
    std::string name;     // "port opens", "duplicate IDs", "temperature"
    ECheckLevel level = ECheckLevel::Ok;
    std::string detail;  // what was seen
    std::string hint;    // what to do; empty when nothing is wrong
};

struct CDoctorReport {
    std::vector<CCheck> checks;

    void Add(std::string section, std::string name, ECheckLevel level, std::string detail,
             std::string hint = {}) {
        checks.push_back({std::move(section), std::move(name), level, std::move(detail), std::move(hint)});
    }
    void Append(const std::vector<CCheck>& more) { checks.insert(checks.end(), more.begin(), more.end()); }
    int Count(ECheckLevel level) const;
    // Something failed: the doctor's exit code is 1.
    bool Failed() const { return Count(ECheckLevel::Fail) > 0; }
};

// "ok", "info", "warn", "fail", "skip".
const char* LevelName(ECheckLevel level);

// One line per check, "fail  servo 3 @ 1000000  temperature: 85 °C, above its limit of 80 °C — let it cool",
// grouped by section in the order added, then a summary line ("12 ok, 1 warn, 2 fail, 4 skip").
std::string ReportText(const CDoctorReport& report);
// The same as a Markdown table, for pasting into an issue or a forum thread.
std::string ReportMarkdown(const CDoctorReport& report);
