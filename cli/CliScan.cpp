// The all-rate scan prints "ID RATE" lines as servos are confirmed; warnings and, on a terminal, progress
// go to stderr, so the output stays a clean list for scripts.
#include "cli/CliScan.h"

#include <unistd.h>

#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliTrace.h"
#include "link/BusScanner.h"
#include "link/ControlTable.h"
#include "link/IdSweep.h"
#include "link/SerialScanLine.h"
#include "link/ServoCheck.h"
#include "link/ServoUsb.h"

namespace {

struct CScanRequest {
    bool allRates = false;
    std::vector<int> rates = AllServoRates();
    int firstId = 0;
    int lastId = 253;
};

// The servo rates in "1000000,115200"; nullopt with the reason when one is not a servo rate.
std::optional<std::vector<int>> ParseRates(const std::string& text, std::string* error) {
    std::vector<int> rates;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const auto rate = ParseNumber(item, 1, 4000000);
        if (!rate || BaudCodeOf(static_cast<uint32_t>(*rate)) < 0) {
            *error =
                "not a servo rate: \"" + item + "\" (1000000 500000 250000 128000 115200 76800 57600 38400)";
            return std::nullopt;
        }
        rates.push_back(static_cast<int>(*rate));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (rates.empty()) {
        *error = "--rates needs at least one rate";
        return std::nullopt;
    }
    return rates;
}

std::optional<CScanRequest> ParseScanArguments(const CCliOptions& options, std::string* error) {
    CScanRequest request;
    std::vector<long> ids;
    const auto& args = options.arguments;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--all-rates") {
            request.allRates = true;
        } else if (args[i] == "--rates") {
            if (i + 1 >= args.size()) {
                *error = "--rates needs a value";
                return std::nullopt;
            }
            auto rates = ParseRates(args[++i], error);
            if (!rates) return std::nullopt;
            request.rates = *rates;
            request.allRates = true;
        } else if (options.command == "scan" && ids.size() < 2) {
            const auto id = ParseNumber(args[i], 0, 253);
            if (!id) {
                *error = "bad number " + args[i] + " (0 to 253)";
                return std::nullopt;
            }
            ids.push_back(*id);
        } else {
            *error = "unexpected argument " + args[i] + " for " + options.command;
            return std::nullopt;
        }
    }
    if (ids.size() > 0) request.firstId = static_cast<int>(ids[0]);
    if (ids.size() > 1) request.lastId = static_cast<int>(ids[1]);
    if (request.firstId > request.lastId) {
        *error = "scan range is empty";
        return std::nullopt;
    }
    return request;
}

void WarnShared(std::ostream& err, int id, int baud) {
    err << "brennix: warning: ID " << id << " at " << baud << ": two or more servos answer\n";
}

// The sweep at the port's own rate, at the normal timeout. Each ID that answers is read once more to tell
// several servos with that ID from one.
int ScanOneRate(CServoUsb& servo, const CScanRequest& request, int baud, std::ostream& out,
                std::ostream& err) {
    CIdSweepEvents events;
    events.stopRequested = [&out] { return !out; };
    events.answered = [&out](int id) { out << id << std::endl; };
    events.shared = [&err, baud](int id) { WarnShared(err, id, baud); };
    events.checked = [&err](int id, const CServoCheck& check) {
        WarnAlarms(err, id, "", check.error, check.values);
    };
    const int found = SweepIds(servo, request.firstId, request.lastId, baud, events);
    if (found > 0) return EXIT_OK;
    err << "brennix: no servo answered at " << baud << " baud (try scan --all-rates)\n";
    return EXIT_NO_REPLY;
}

// Progress overwrites one line, and only where someone watches it.
class CProgressLine {
public:
    explicit CProgressLine(std::ostream& err) : m_err(err), m_bShown(&err == &std::cerr && isatty(2)) {}
    ~CProgressLine() { Clear(); }
    CProgressLine(const CProgressLine&) = delete;
    CProgressLine& operator=(const CProgressLine&) = delete;

    void Show(int baud, int id) {
        if (m_bShown) m_err << "\rscanning " << baud << " baud, ID " << id << "   " << std::flush;
    }
    // Before any other line, so it does not land on top of the progress.
    void Clear() {
        if (m_bShown) m_err << "\r                                   \r" << std::flush;
    }

private:
    std::ostream& m_err;
    const bool m_bShown;
};

CScanEvents PrintingEvents(CProgressLine& progress, std::ostream& out, std::ostream& err) {
    CScanEvents events;
    events.progress = [&progress](int baud, int id) { progress.Show(baud, id); };
    events.found = [&](int id, int baud) {
        progress.Clear();
        out << id << " " << baud << std::endl;
    };
    events.rateSkipped = [&](int baud) {
        progress.Clear();
        err << "brennix: the adapter cannot run at " << baud << " baud; skipped\n";
    };
    events.collision = [&](int id, int baud) {
        progress.Clear();
        if (id >= 0)
            WarnShared(err, id, baud);
        else
            err << "brennix: warning: more than one servo answers at " << baud << " baud\n";
    };
    events.alarms = [&](int id, int baud, uint8_t error, const CAlarmValues& values) {
        progress.Clear();
        WarnAlarms(err, id, " at " + std::to_string(baud), error, values);
    };
    // Nobody would see what the scan finds once its output cannot be written.
    events.stopRequested = [&out] { return !out; };
    return events;
}

int ReportEnd(const CScanOutcome& outcome, std::ostream& err) {
    if (outcome.portLost) return EXIT_PORT_UNAVAILABLE;  // the caller names the lost port
    // Stopped because the output failed: the run's end says so.
    if (!outcome.servos.empty() || outcome.stopped) return EXIT_OK;
    err << "brennix: no servo answered at any rate scanned\n";
    return EXIT_NO_REPLY;
}

}  // namespace

int RunScanCommand(const CCliContext& c) {
    CServoUsb& servo = c.servo;
    std::ostream& out = c.out;
    std::ostream& err = c.err;
    const CCliOptions& options = c.options;
    std::string error;
    const auto request = ParseScanArguments(options, &error);
    if (!request) {
        err << "brennix: " << error << "\n" << CLI_USAGE;
        return EXIT_BAD_ARGUMENTS;
    }
    if (options.command == "scan" && !request->allRates)
        return ScanOneRate(servo, *request, c.baud, out, err);

    CSerialScanLine line(*servo.Transport());
    CBusScanner scanner(servo, line);
    CProgressLine progress(err);
    const CScanEvents events = PrintingEvents(progress, out, err);
    if (options.command == "find") {
        const CScanOutcome outcome = scanner.FindSingle(request->rates, events);
        progress.Clear();
        if (outcome.servos.size() > 1 || !outcome.collisions.empty())
            err << "brennix: more than one servo answers; list them with scan --all-rates\n";
        return ReportEnd(outcome, err);
    }
    CScanSettings settings;
    settings.rates = request->rates;
    settings.firstId = request->firstId;
    settings.lastId = request->lastId;
    // A --timeout given by the user is the adapter margin too; otherwise the scan measures its own.
    if (options.timeoutGiven) settings.adapterMargin = std::chrono::milliseconds(c.timeoutMs);
    const CScanOutcome outcome = scanner.Scan(settings, events);
    progress.Clear();
    return ReportEnd(outcome, err);
}
