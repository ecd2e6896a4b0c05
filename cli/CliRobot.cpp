// The robot commands of the client over the shared group, teach and play code of the link.
#include "cli/CliRobot.h"

#include <chrono>
#include <cmath>
#include <optional>
#include <ostream>

#include "cli/CliInterrupt.h"
#include "cli/CliOptions.h"
#include "link/MotionFile.h"
#include "link/MotionPlayback.h"
#include "link/MotionTeach.h"
#include "link/ServoGroup.h"
#include "link/ServoUsb.h"

namespace {

// A decimal number such as 2 or 0.25 within [low, high]; nothing else (no sign, exponent or "inf").
std::optional<double> ParseDecimal(const std::string& text, double low, double high) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos ||
        text.find('.') != text.rfind('.') || text == ".")
        return std::nullopt;
    const double value = std::stod(text);
    if (value < low || value > high) return std::nullopt;
    return value;
}

struct CRecordOptions {
    std::vector<uint8_t> ids;
    int periodMs = kDefaultTeachPeriodMs;
    std::optional<double> seconds;
    std::string path;
};

std::optional<CRecordOptions> ParseRecordOptions(const std::vector<std::string>& args, std::ostream& err) {
    CRecordOptions options;
    if (!ParseCliIds(args[0], &options.ids, err)) return std::nullopt;
    for (std::size_t i = 1; i < args.size(); i += 2) {
        const std::string& name = args[i];
        if (name != "--period" && name != "--seconds" && name != "--out") {
            err << "brennix: unknown record option " << name << "\n";
            return std::nullopt;
        }
        if (i + 1 >= args.size()) {
            err << "brennix: " << name << " needs a value\n";
            return std::nullopt;
        }
        const std::string& value = args[i + 1];
        if (name == "--out") {
            options.path = value;
        } else if (name == "--period") {
            const auto period = ParseNumber(value, kShortestTeachPeriodMs, kLongestTeachPeriodMs);
            if (!period) {
                err << "brennix: --period needs " << kShortestTeachPeriodMs << " to " << kLongestTeachPeriodMs
                    << " ms\n";
                return std::nullopt;
            }
            options.periodMs = static_cast<int>(*period);
        } else {
            options.seconds = ParseDecimal(value, 0.001, 86400);
            if (!options.seconds) {
                err << "brennix: --seconds needs a number of seconds up to 86400\n";
                return std::nullopt;
            }
        }
    }
    if (options.path.empty()) {
        err << "brennix: record needs --out FILE\n";
        return std::nullopt;
    }
    return options;
}

struct CPlayArguments {
    std::string path;
    CPlayOptions play;
};

std::optional<CPlayArguments> ParsePlayOptions(const std::vector<std::string>& args, std::ostream& err) {
    CPlayArguments options;
    options.path = args[0];
    for (std::size_t i = 1; i < args.size(); i += 2) {
        const std::string& name = args[i];
        const bool speed = name == "--speed";
        if (!speed && name != "--loop") {
            err << "brennix: unknown play option " << name << "\n";
            return std::nullopt;
        }
        const std::string value = i + 1 < args.size() ? args[i + 1] : std::string();
        if (speed) {
            const auto factor = ParseDecimal(value, kSlowestPlay, kFastestPlay);
            if (!factor) {
                err << "brennix: --speed needs a factor from 0.25 to 4\n";
                return std::nullopt;
            }
            options.play.speed = *factor;
        } else {
            const auto loops = ParseNumber(value, 1, kMostLoops);
            if (!loops) {
                err << "brennix: --loop needs 1 to " << kMostLoops << " loops\n";
                return std::nullopt;
            }
            options.play.loops = static_cast<int>(*loops);
        }
    }
    return options;
}

}  // namespace

bool ParseCliIds(const std::string& text, std::vector<uint8_t>* ids, std::ostream& err) {
    std::string problem;
    const auto parsed = ParseIdList(text, &problem);
    if (!parsed) {
        err << "brennix: bad ID list " << text << ": " << problem << "\n";
        return false;
    }
    *ids = *parsed;
    return true;
}

int RunRecord(const CCliContext& c) {
    CServoUsb& servo = c.servo;
    const CCliPort& port = c.port;
    std::ostream& err = c.err;
    const std::vector<std::string>& args = c.options.arguments;
    const auto options = ParseRecordOptions(args, err);
    if (!options) return EXIT_BAD_ARGUMENTS;
    // Nothing is written to a servo before every one answers and the file exists.
    for (uint8_t id : options->ids) {
        if (!ReadPresentPosition(servo, id)) {
            err << "brennix: ID " << static_cast<int>(id) << " does not answer; nothing was changed\n";
            return EXIT_NO_REPLY;
        }
    }
    CMotionFileWriter file;
    std::string problem;
    if (!file.Create(options->path, options->ids, &problem)) {
        err << "brennix: " << problem << "\n";
        return EXIT_BAD_ARGUMENTS;
    }
    const std::string ids = IdListText(options->ids);
    if (!TorqueOffEach(servo, options->ids, &problem)) {
        err << "brennix: " << problem << "\n";
        return EXIT_NO_REPLY;
    }
    err << "brennix: torque is off on " << ids << ": support the joints; recording until "
        << (options->seconds ? "the time is up or " : "") << "Ctrl+C\n";
    const CInterruptRequest interrupt;
    std::optional<std::chrono::milliseconds> length;
    if (options->seconds)
        length = std::chrono::milliseconds(static_cast<int64_t>(std::llround(*options->seconds * 1000)));
    std::string writeProblem;
    const CTeachTally tally = RecordMotion(
        servo, options->ids, std::chrono::milliseconds(options->periodMs), length,
        [&port] { return CInterruptRequest::Interrupted() || port.IsLost(); },
        [&](const CMotionRow& row) { return file.Append(row, &writeProblem); });
    const bool closed = file.Close(writeProblem.empty() ? &writeProblem : nullptr);
    err << "brennix: " << tally.rows << " rows to " << options->path << ", " << tally.missed
        << " ticks without a row, " << tally.skipped << " skipped; torque stays off on " << ids << "\n";
    if (tally.sinkRefused || !closed) {
        err << "brennix: " << writeProblem << "\n";
        return EXIT_BAD_ARGUMENTS;
    }
    return tally.rows > 0 ? EXIT_OK : EXIT_NO_REPLY;
}

int RunPlay(const CCliContext& c) {
    CServoUsb& servo = c.servo;
    std::ostream& out = c.out;
    std::ostream& err = c.err;
    const std::vector<std::string>& args = c.options.arguments;
    const auto options = ParsePlayOptions(args, err);
    if (!options) return EXIT_BAD_ARGUMENTS;
    std::string problem;
    const auto recording = ReadMotionFile(options->path, &problem);
    if (!recording) {
        err << "brennix: " << problem << "\n";
        return EXIT_BAD_ARGUMENTS;
    }
    const CInterruptRequest interrupt;
    CPlayEvents events;
    events.stop = [] { return CInterruptRequest::Interrupted(); };
    events.note = [&err](const std::string& line) { err << "brennix: " << line << "\n"; };
    const CPlayResult result = PlayMotion(servo, *recording, options->play, events);
    switch (result.end) {
        case EPlayEnd::Finished:
            out << result.rowsSent << " rows played\n";
            return EXIT_OK;
        case EPlayEnd::Stopped:
            err << "brennix: stopped after " << result.rowsSent
                << " rows; the servos hold where they are, torque on\n";
            return EXIT_OK;
        case EPlayEnd::Refused:
            err << "brennix: " << options->path << ": " << result.message << "; nothing was written\n";
            return EXIT_BAD_ARGUMENTS;
        case EPlayEnd::Failed:
            break;
    }
    err << "brennix: " << result.message << " after " << result.rowsSent << " rows\n";
    return EXIT_NO_REPLY;
}

int RunTorque(const CCliContext& c) {
    CServoUsb& servo = c.servo;
    std::ostream& out = c.out;
    std::ostream& err = c.err;
    const std::vector<std::string>& args = c.options.arguments;
    const std::string& which = args[0];
    const std::string& state = args[1];
    if (state != "on" && state != "off") {
        err << "brennix: torque takes on or off, not " << state << "\n";
        return EXIT_BAD_ARGUMENTS;
    }
    const bool on = state == "on";
    if (which == "all") {
        if (on) {
            err << "brennix: torque all on is refused: name the servos to switch on (torque 1,2,3 on)\n";
            return EXIT_BAD_ARGUMENTS;
        }
        if (!BroadcastTorqueOff(servo)) {
            err << "brennix: the broadcast could not be sent\n";
            return EXIT_NO_REPLY;
        }
        out << "torque off sent to every servo at " << c.baud << " baud\n";
        return EXIT_OK;
    }
    std::vector<uint8_t> ids;
    if (!ParseCliIds(which, &ids, err)) return EXIT_BAD_ARGUMENTS;
    int result = EXIT_OK;
    for (uint8_t id : ids) {
        std::string problem;
        if (on ? !TorqueOnWhereItIs(servo, id, &problem) : !WriteTorque(servo, id, false))
            err << "brennix: " << (on ? problem : "ID " + std::to_string(id) + " did not take torque off")
                << "\n";
        const auto readBack = ReadTorque(servo, id);
        out << static_cast<int>(id) << " " << (!readBack ? "no answer" : *readBack ? "on" : "off") << "\n";
        if (!readBack)
            result = EXIT_NO_REPLY;
        else if (*readBack != on && result == EXIT_OK)
            result = EXIT_NOT_VERIFIED;
    }
    return result;
}
