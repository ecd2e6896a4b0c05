// The monitor's loop on the calling thread: a drift-free schedule, one status read per tick, one line each.
#include "cli/CliMonitor.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <ostream>
#include <thread>

#include "cli/CliInterrupt.h"
#include "cli/CliOptions.h"
#include "cli/CliTrace.h"
#include "link/ControlTable.h"
#include "link/ExchangeOutcome.h"
#include "link/ServoCheck.h"
#include "link/ServoUsb.h"
#include "link/StatusCsv.h"
#include "link/StatusSpan.h"
#include "link/TickGrid.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long a sleep may last before it looks at Ctrl+C again: the signal may be taken by another thread,
// which does not wake this one.
constexpr milliseconds kInterruptCheck{20};

struct CMonitorOptions {
    int periodMs = 10;  // the debug page's own default cycle
    long count = 0;     // 0: until Ctrl+C
    bool csv = false;
};

std::optional<CMonitorOptions> ParseMonitorOptions(const std::vector<std::string>& args, std::ostream& err) {
    CMonitorOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--csv") {
            options.csv = true;
            continue;
        }
        if (arg != "--period" && arg != "--count") {
            err << "brennix: unknown monitor option " << arg << "\n";
            return std::nullopt;
        }
        const bool period = arg == "--period";
        const auto value =
            i + 1 < args.size() ? ParseNumber(args[i + 1], 1, period ? 60000 : 1000000000) : std::nullopt;
        if (!value) {
            err << "brennix: " << arg
                << (period ? " needs 1 to 60000 ms\n" : " needs 1 to 1000000000 ticks\n");
            return std::nullopt;
        }
        if (period)
            options.periodMs = static_cast<int>(*value);
        else
            options.count = *value;
        ++i;
    }
    return options;
}

// Sleeps until the time unless Ctrl+C comes first; false then.
bool SleepUntil(Clock::time_point when) {
    while (!CInterruptRequest::Interrupted()) {
        const Clock::time_point now = Clock::now();
        if (now >= when) return true;
        std::this_thread::sleep_until(std::min(when, now + kInterruptCheck));
    }
    return false;
}

}  // namespace

int RunMonitor(const CCliContext& c, uint8_t id, const std::vector<std::string>& args) {
    CServoUsb& servo = c.servo;
    const CCliPort& port = c.port;
    std::ostream& out = c.out;
    std::ostream& err = c.err;
    const auto options = ParseMonitorOptions(args, err);
    if (!options) return EXIT_BAD_ARGUMENTS;

    out << (options->csv ? std::string(MONITOR_CSV_HEADER) : MonitorColumnsHeader()) << std::endl;
    if (!out) return EXIT_OK;  // the run names the output's failure
    const CInterruptRequest interrupt;
    // The limits behind the voltage and temperature alarms, read once when a status first needs them.
    std::optional<CAlarmValues> limits;
    uint8_t warned = 0;  // the alarm bits last warned about, so a lasting alarm is said once
    const milliseconds period(options->periodMs);
    const Clock::time_point start = Clock::now();
    long ticks = 0, answered = 0;
    uint64_t skipped = 0;
    // Tick k is due at start + k x period; the first comes one period after the start, as on the page.
    for (int64_t k = 1; options->count == 0 || ticks < options->count; ++k) {
        if (!SleepUntil(start + k * period) || port.IsLost()) break;
        const Clock::time_point asked = Clock::now();
        uint8_t span[Reg::STATUS_SPAN_LENGTH] = {};
        CExchangeOutcome outcome;
        const bool read =
            servo.ReadData(id, Reg::STATUS_SPAN_START, Reg::STATUS_SPAN_LENGTH, span, &outcome) >= 0;
        ++ticks;
        if (read) {
            ++answered;
            uint8_t image[IMAGE_SIZE] = {};
            std::copy(std::begin(span), std::end(span), image + Reg::STATUS_SPAN_START);
            const CStatusSample sample = DecodeStatusSpan(image, servo.IsHighByteFirst() != 0);
            const int64_t ms = std::chrono::duration_cast<milliseconds>(asked - start).count();
            const uint8_t error = outcome.error;
            if (error & kAlarmsNeedingValues && !limits) limits = ReadAlarmValues(servo, id);
            CAlarmValues values = limits.value_or(CAlarmValues{});
            TakeStatusSpan(span, values);
            const std::string alarms = AlarmNames(error, values);
            out << (options->csv ? MonitorCsvRow(ms, sample, alarms) : MonitorColumnsRow(ms, sample, alarms))
                << std::endl;
            if (!out) break;
            if (error != warned) WarnAlarms(err, id, "", error, values);
            warned = error;
        }
        // Grid points that passed during this tick are let go, not served back to back.
        k = LetPassedTicksGo(start, period, k, Clock::now(), &skipped);
    }
    err << "brennix: " << ticks << " ticks, " << skipped << " skipped, " << ticks - answered
        << " without reply\n";
    return answered > 0 || ticks == 0 ? EXIT_OK : EXIT_NO_REPLY;
}

int RunMultiMonitor(const CCliContext& c, const std::vector<uint8_t>& ids,
                    const std::vector<std::string>& args) {
    CServoUsb& servo = c.servo;
    const CCliPort& port = c.port;
    std::ostream& out = c.out;
    std::ostream& err = c.err;
    const auto options = ParseMonitorOptions(args, err);
    if (!options) return EXIT_BAD_ARGUMENTS;

    out << (options->csv ? std::string(MULTI_STATUS_CSV_HEADER) : MultiStatusColumnsHeader()) << std::endl;
    if (!out) return EXIT_OK;  // the run names the output's failure
    const CInterruptRequest interrupt;
    // Per servo: the limits behind its voltage and temperature alarms, read once when first needed, and the
    // alarm bits last warned about.
    std::map<uint8_t, CAlarmValues> limits;
    std::map<uint8_t, uint8_t> warned;
    const milliseconds period(options->periodMs);
    const Clock::time_point start = Clock::now();
    long ticks = 0;
    uint64_t skipped = 0, reads = 0, answered = 0;
    for (int64_t k = 1; options->count == 0 || ticks < options->count; ++k) {
        if (!SleepUntil(start + k * period) || port.IsLost()) break;
        ++ticks;
        for (uint8_t id : ids) {
            const Clock::time_point asked = Clock::now();
            uint8_t image[IMAGE_SIZE] = {};
            CExchangeOutcome outcome;
            ++reads;
            if (servo.ReadData(id, Reg::STATUS_SPAN_START, Reg::STATUS_SPAN_LENGTH,
                               image + Reg::STATUS_SPAN_START, &outcome) < 0)
                continue;
            ++answered;
            const CStatusSample sample = DecodeStatusSpan(image, servo.IsHighByteFirst() != 0);
            const int64_t ms = std::chrono::duration_cast<milliseconds>(asked - start).count();
            const uint8_t error = outcome.error;
            if (error & kAlarmsNeedingValues && !limits.count(id)) limits[id] = ReadAlarmValues(servo, id);
            CAlarmValues values = limits.count(id) ? limits[id] : CAlarmValues{};
            TakeStatusSpan(image + Reg::STATUS_SPAN_START, values);
            const std::string alarms = AlarmNames(error, values);
            out << (options->csv ? MultiStatusCsvRow(ms, id, sample, alarms)
                                 : MultiStatusColumnsRow(ms, id, sample, alarms))
                << '\n';
            if (error != warned[id]) WarnAlarms(err, id, "", error, values);
            warned[id] = error;
        }
        out.flush();
        if (!out) break;
        k = LetPassedTicksGo(start, period, k, Clock::now(), &skipped);
    }
    err << "brennix: " << ticks << " ticks, " << skipped << " skipped, " << reads - answered
        << " reads without reply\n";
    return answered > 0 || ticks == 0 ? EXIT_OK : EXIT_NO_REPLY;
}
