// The step and calibrate commands: their options, the bus procedures of link/, and what they print.
#include "cli/CliTuning.h"

#include <cstdlib>
#include <optional>
#include <ostream>

#include "cli/CliEnterKey.h"
#include "cli/CliInterrupt.h"
#include "cli/CliOptions.h"
#include "link/CalibrationSweep.h"
#include "link/Coefficients.h"
#include "link/StepResponse.h"

namespace {

// Seconds as a decimal number within [low, high]: digits with at most one point.
std::optional<double> ParseSeconds(const std::string& text, double low, double high) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos ||
        text.find('.') != text.rfind('.') || text == ".")
        return std::nullopt;
    const double value = std::strtod(text.c_str(), nullptr);
    if (value < low || value > high) return std::nullopt;
    return value;
}

// The option's value after it, or an error line naming what it needs.
std::optional<std::string> ValueOf(const std::vector<std::string>& args, std::size_t& i, std::ostream& err,
                                   const char* needs) {
    if (i + 1 >= args.size()) {
        err << "brennix: " << args[i] << " needs " << needs << "\n";
        return std::nullopt;
    }
    return args[++i];
}

// The option's value read by `parse`, or an error line naming what the option needs and what it got.
template <class Parse>
auto OptionValue(const std::vector<std::string>& args, std::size_t& i, std::ostream& err, const char* needs,
                 Parse parse) -> decltype(parse(std::string())) {
    const std::string& option = args[i];
    const auto text = ValueOf(args, i, err, needs);
    if (!text) return std::nullopt;
    auto value = parse(*text);
    if (!value) err << "brennix: " << option << " needs " << needs << ", not " << *text << "\n";
    return value;
}

int ExitCodeOf(EStepFailure failure) {
    switch (failure) {
        case EStepFailure::None:
            return EXIT_OK;
        case EStepFailure::Refused:
            return EXIT_BAD_ARGUMENTS;
        case EStepFailure::NotVerified:
            return EXIT_NOT_VERIFIED;
        case EStepFailure::PortLost:
            return EXIT_PORT_UNAVAILABLE;
        case EStepFailure::NoAnswer:
        case EStepFailure::NotSettled:
        case EStepFailure::Interrupted:
            break;
    }
    return EXIT_NO_REPLY;
}

}  // namespace

namespace {

// The step's options after TO into `request` and `csv`; false after saying what is wrong.
bool ParseStepOptions(const std::vector<std::string>& args, CStepRequest& request, bool& csv,
                      std::ostream& err) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--csv") {
            csv = true;
        } else if (arg == "--keep") {
            request.keep = true;
        } else if (arg == "--period") {
            const auto ms = OptionValue(args, i, err, "1 to 1000 ms",
                                        [](const std::string& t) { return ParseNumber(t, 1, 1000); });
            if (!ms) return false;
            request.periodMs = static_cast<int>(*ms);
        } else if (arg == "--seconds") {
            const auto seconds = OptionValue(args, i, err, "0.1 to 60 seconds",
                                             [](const std::string& t) { return ParseSeconds(t, 0.1, 60); });
            if (!seconds) return false;
            request.seconds = *seconds;
        } else if (arg == "--set") {
            const auto value = ValueOf(args, i, err,
                                       "NAME=VALUE,... (V, P, D, I, PUNCH, CW_DEAD_BAND, "
                                       "CCW_DEAD_BAND)");
            if (!value) return false;
            std::string problem;
            const auto settings = ParseCoefficientSettings(*value, &problem);
            if (!settings) {
                err << "brennix: --set: " << problem << "\n";
                return false;
            }
            request.set = *settings;
        } else {
            err << "brennix: unknown step option " << arg << "\n";
            return false;
        }
    }
    return true;
}

}  // namespace

int RunStep(const CCliContext& c, uint8_t id, int from, int to, const std::vector<std::string>& args) {
    std::ostream& out = c.out;
    std::ostream& err = c.err;
    CStepRequest request;
    request.id = id;
    request.from = from;
    request.to = to;
    bool csv = false;
    if (!ParseStepOptions(args, request, csv, err)) return EXIT_BAD_ARGUMENTS;

    const CInterruptRequest interrupt;
    CStepResponse step(c.servo, [] { return CInterruptRequest::Interrupted(); });
    const CStepOutcome outcome = step.Run(request);
    const bool measured = outcome.Ok() || !outcome.samples.empty();
    if (measured) {
        err << "brennix: servo " << int(id) << " from " << outcome.start << " to " << to << " with "
            << outcome.coefficients.Text() << "\n";
        const std::string metrics = StepMetricsText(outcome.metrics, request.seconds * 1000.0);
        if (csv) {
            out << StepSamplesCsv(outcome.samples);
            err << metrics;
        } else {
            out << metrics;
        }
        out.flush();
    }
    if (!outcome.Ok()) err << "brennix: " << outcome.problem << "\n";
    if (outcome.restoreFailed) {
        err << "brennix: the old coefficients could not be written back: " << outcome.restoreAdvice << "\n";
        if (outcome.Ok()) return EXIT_NO_REPLY;
    }
    return ExitCodeOf(outcome.failure);
}

int RunCalibrate(const CCliContext& c, uint8_t id, const std::vector<std::string>& args) {
    CServoUsb& servo = c.servo;
    std::ostream& out = c.out;
    std::ostream& err = c.err;
    double seconds = 10.0;
    int margin = 5;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--seconds") {
            const auto parsed = OptionValue(args, i, err, "0.1 to 600 seconds",
                                            [](const std::string& t) { return ParseSeconds(t, 0.1, 600); });
            if (!parsed) return EXIT_BAD_ARGUMENTS;
            seconds = *parsed;
        } else if (arg == "--margin") {
            const auto parsed = OptionValue(args, i, err, "0 to 100 units",
                                            [](const std::string& t) { return ParseNumber(t, 0, 100); });
            if (!parsed) return EXIT_BAD_ARGUMENTS;
            margin = static_cast<int>(*parsed);
        } else {
            err << "brennix: unknown calibrate option " << arg << "\n";
            return EXIT_BAD_ARGUMENTS;
        }
    }

    const CInterruptRequest interrupt;
    CRegisterAccess access(servo, id);
    CSweepControl control;
    control.cancel = [] { return CInterruptRequest::Interrupted(); };
    control.finishNow = [] { return EnterPressed(); };
    bool told = false;
    control.progress = [&](int, int, int) {
        if (told) return;
        told = true;
        err << "brennix: servo " << int(id) << "'s torque is off: move the joint through its whole range ("
            << seconds << " s" << (InputIsTerminal() ? ", or Enter when done" : "") << ")" << std::endl;
    };
    const auto duration = std::chrono::milliseconds(static_cast<long>(seconds * 1000.0));
    const CSweepOutcome sweep = WatchSweep(access, duration, control);
    if (sweep.failure != ESweepFailure::Refused && sweep.failure != ESweepFailure::NoAnswer)
        err << "brennix: torque stays off\n";
    if (!sweep.Ok()) {
        err << "brennix: " << sweep.problem << "\n";
        if (sweep.failure == ESweepFailure::Refused) return EXIT_BAD_ARGUMENTS;
        if (sweep.failure == ESweepFailure::PortLost) return EXIT_PORT_UNAVAILABLE;
        return EXIT_NO_REPLY;
    }
    const CPositionLimits limits = ProposeLimits(sweep.lowest, sweep.highest, margin);
    out << "before: MIN_POSITION_LIMIT " << sweep.before.min << ", MAX_POSITION_LIMIT " << sweep.before.max
        << "\n";
    out << "seen: " << sweep.lowest << ".." << sweep.highest << " in " << sweep.readings << " readings\n";
    const CStoredWriteResult written = WritePositionLimits(access, limits);
    if (!written.Ok()) {
        err << "brennix: writing the limits: " << written.problem << "\n";
        return written.kind == EStoredWrite::NotVerified ? EXIT_NOT_VERIFIED : EXIT_NO_REPLY;
    }
    out << "after: MIN_POSITION_LIMIT " << limits.min << ", MAX_POSITION_LIMIT " << limits.max << "\n";
    return EXIT_OK;
}
