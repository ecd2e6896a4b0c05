// Formatting of the doctor's report.
#include "link/DoctorReport.h"

#include <algorithm>

namespace {

std::string Line(const CCheck& check) {
    std::string text = check.name + ": " + check.detail;
    if (!check.hint.empty()) text += " — " + check.hint;
    return text;
}

std::string Summary(const CDoctorReport& report) {
    std::string text;
    for (const ECheckLevel level :
         {ECheckLevel::Ok, ECheckLevel::Info, ECheckLevel::Warn, ECheckLevel::Fail, ECheckLevel::Skip}) {
        const int count = report.Count(level);
        if (count == 0) continue;
        text += (text.empty() ? "" : ", ") + std::to_string(count) + " " + LevelName(level);
    }
    return text.empty() ? "nothing checked" : text;
}

// Pipes would end a Markdown cell.
std::string Cell(std::string text) {
    for (std::size_t at = text.find('|'); at != std::string::npos; at = text.find('|', at + 2))
        text.replace(at, 1, "\\|");
    return text;
}

}  // namespace

int CDoctorReport::Count(ECheckLevel level) const {
    return static_cast<int>(
        std::count_if(checks.begin(), checks.end(), [level](const CCheck& c) { return c.level == level; }));
}

const char* LevelName(ECheckLevel level) {
    switch (level) {
        case ECheckLevel::Ok:
            return "ok";
        case ECheckLevel::Info:
            return "info";
        case ECheckLevel::Warn:
            return "warn";
        case ECheckLevel::Fail:
            return "fail";
        case ECheckLevel::Skip:
            return "skip";
    }
    return "?";
}

std::string ReportText(const CDoctorReport& report) {
    std::size_t width = 0;
    for (const CCheck& c : report.checks) width = std::max(width, c.section.size());
    std::string text;
    for (const CCheck& c : report.checks) {
        std::string level = LevelName(c.level);
        level.resize(6, ' ');
        std::string section = c.section;
        section.resize(width + 2, ' ');
        text += level + section + Line(c) + "\n";
    }
    return text + Summary(report) + "\n";
}

std::string ReportMarkdown(const CDoctorReport& report) {
    std::string text = "| result | where | check | seen | what to do |\n|---|---|---|---|---|\n";
    for (const CCheck& c : report.checks) {
        text += "| " + std::string(LevelName(c.level)) + " | " + Cell(c.section) + " | " + Cell(c.name) +
                " | " + Cell(c.detail) + " | " + Cell(c.hint) + " |\n";
    }
    return text + "\n" + Summary(report) + "\n";
}
