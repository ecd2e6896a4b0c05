// The chain of a new robot: one survey of the bus, then a loop that looks for a newly powered servo at the
// factory ID at every rate and moves it to the next free ID, checked like every other set-up change.
#include "cli/CliAssign.h"

#include <optional>
#include <ostream>
#include <set>

#include "cli/CliInterrupt.h"
#include "cli/CliOptions.h"
#include "cli/CliServoSetup.h"
#include "link/BusScanner.h"
#include "link/ControlTable.h"
#include "link/ScanTiming.h"
#include "link/SerialScanLine.h"
#include "link/ServoCheck.h"
#include "link/ServoUsb.h"

namespace {

struct CAssignRequest {
    int first = 0;
    int from = 1;  // the factory ID
    std::optional<int> rate;
    std::optional<long> count;
};

std::optional<CAssignRequest> ParseAssign(const std::vector<std::string>& args, std::string* error) {
    CAssignRequest request;
    bool firstGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--from" || arg == "--rate" || arg == "--count") {
            if (i + 1 >= args.size()) {
                *error = arg + " needs a value";
                return std::nullopt;
            }
            const std::string& text = args[++i];
            if (arg == "--from") {
                const auto id = ParseNumber(text, 0, Range::MAX_ID);
                if (!id) {
                    *error = "--from must be an ID from 0 to 253, not " + text;
                    return std::nullopt;
                }
                request.from = static_cast<int>(*id);
            } else if (arg == "--rate") {
                const auto rate = ParseNumber(text, 1, 4000000);
                if (!rate || BaudCodeOf(static_cast<uint32_t>(*rate)) < 0) {
                    *error = "--rate " + text +
                             " is not a servo rate (1000000 500000 250000 128000 115200 "
                             "76800 57600 38400)";
                    return std::nullopt;
                }
                request.rate = static_cast<int>(*rate);
            } else {
                const auto count = ParseNumber(text, 1, 254);
                if (!count) {
                    *error = "--count must be 1 or more (and leave room below ID 254), not " + text;
                    return std::nullopt;
                }
                request.count = *count;
            }
        } else if (!firstGiven && arg.rfind("--", 0) != 0) {
            const auto first = ParseNumber(arg, 0, Range::MAX_ID);
            if (!first) {
                *error = "FIRST must be an ID from 0 to 253, not " + arg;
                return std::nullopt;
            }
            request.first = static_cast<int>(*first);
            firstGiven = true;
        } else {
            *error = "unexpected argument " + arg + " for assign";
            return std::nullopt;
        }
    }
    if (!firstGiven) {
        *error = "assign needs the FIRST ID to hand out";
        return std::nullopt;
    }
    if (request.count && request.first + *request.count - 1 > Range::MAX_ID) {
        *error = "IDs " + std::to_string(request.first) + " to " +
                 std::to_string(request.first + *request.count - 1) + " go past 253";
        return std::nullopt;
    }
    return request;
}

// One assign run: the IDs known to be taken, and the port's rate as it moves between rates.
class CAssigner {
public:
    CAssigner(const CCliContext& c, const CAssignRequest& request)
        : m_context(c),
          m_servo(c.servo),
          m_port(c.port),
          m_nRate(c.baud),
          m_request(request),
          m_out(c.out),
          m_err(c.err) {}

    // Lists every servo on the bus once; those at other IDs than --from are taken.
    bool Survey();
    // The first rate at which a servo answers at --from, or nothing after one round of all rates (or Ctrl+C).
    std::optional<int> LookForNewServo();
    // Moves the servo at (--from, rate) to the next free ID: EXIT_OK, or why not; nothing when several
    // servos answer there, which is said once, and the run waits for the bus to change.
    std::optional<int> AssignAt(int rate);

    bool SwitchTo(int baud) {
        if (baud == m_nRate) return true;
        if (!m_port.setLineRate || !m_port.setLineRate(baud)) return false;
        m_nRate = baud;
        return true;
    }
    int Rate() const { return m_nRate; }

private:
    // Anything at all answering a ping at the ID at the port's present rate, damaged answers included.
    bool AnythingAt(int id);
    std::optional<int> NextFreeId(int targetRate);

    const CCliContext& m_context;
    CServoUsb& m_servo;
    const CCliPort& m_port;
    int m_nRate;
    const CAssignRequest& m_request;
    std::ostream& m_out;
    std::ostream& m_err;
    std::set<int> m_taken;
    std::set<std::pair<int, int>> m_assigned;  // (ID, rate) of each servo handed its ID
    int m_nNext = -1;
    std::chrono::microseconds m_margin = ScanTiming::kDefaultAdapterMargin;  // the adapter's, as surveyed
    // The place whose shared ID was last reported, so a collision that persists is said once.
    std::optional<int> m_sharedAt;
};

bool CAssigner::Survey() {
    CSerialScanLine line(*m_servo.Transport());
    CBusScanner scanner(m_servo, line);
    CScanEvents events;
    std::vector<CFoundServo> found;
    events.found = [&found](int id, int baud) { found.push_back({id, baud}); };
    events.stopRequested = [] { return CInterruptRequest::Interrupted(); };
    const CScanOutcome outcome = scanner.Scan({}, events);
    if (outcome.portLost) return false;
    m_margin = scanner.AdapterMargin();
    for (const CFoundServo& servo : found) {
        if (servo.id == m_request.from || m_assigned.count({servo.id, servo.baud})) continue;
        m_out << "ID " << servo.id << " at " << servo.baud << ": left alone";
        if (m_taken.count(servo.id)) m_out << " (the ID just handed out at another rate)";
        m_out << std::endl;
        m_taken.insert(servo.id);
    }
    return true;
}

bool CAssigner::AnythingAt(int id) {
    CRawAnswer answer;
    m_servo.Transport()->SetReadWindow(std::chrono::microseconds{0});
    m_servo.PingRaw(static_cast<uint8_t>(id), std::chrono::microseconds{0}, &answer);
    return answer.got > 0;
}

std::optional<int> CAssigner::LookForNewServo() {
    for (const int baud : AllServoRates()) {
        if (CInterruptRequest::Interrupted() || m_port.IsLost()) return std::nullopt;
        if (!SwitchTo(baud)) continue;
        // The wire and the adapter the survey timed: a servo this misses is there on the next round.
        CRawAnswer answer;
        m_servo.Transport()->SetReadWindow(ScanTiming::AnswerWindow(baud, m_margin));
        m_servo.PingRaw(static_cast<uint8_t>(m_request.from), std::chrono::microseconds{0}, &answer);
        m_servo.Transport()->SetReadWindow(std::chrono::microseconds{0});
        if (answer.got > 0) return baud;
    }
    return std::nullopt;
}

std::optional<int> CAssigner::NextFreeId(int targetRate) {
    int id = std::max(m_request.first, m_nNext);
    for (; id <= Range::MAX_ID; ++id) {
        if (id == m_request.from || m_taken.count(id)) continue;
        // Surveyed once; a servo powered up since at that ID and rate answers here.
        if (!SwitchTo(targetRate) || AnythingAt(id)) {
            m_taken.insert(id);
            continue;
        }
        return id;
    }
    return std::nullopt;
}

std::optional<int> CAssigner::AssignAt(int rate) {
    const uint8_t from = static_cast<uint8_t>(m_request.from);
    // Several servos at the factory ID: the write would give all of them the one new ID.
    const CServoCheck check = CheckFoundServo(m_servo, from, rate, 0);
    if (check.sharing == EIdSharing::Shared) {
        if (m_sharedAt != rate)
            m_err << "brennix: ID " << m_request.from << " at " << rate << ": two or more servos answer; "
                  << "unplug all but one (none of them is changed)" << std::endl;
        m_sharedAt = rate;
        return std::nullopt;
    }
    m_sharedAt.reset();
    const int targetRate = m_request.rate.value_or(rate);
    const auto id = NextFreeId(targetRate);
    if (!id) {
        m_err << "brennix: no free ID left from " << m_request.first << " to 253\n";
        return EXIT_BAD_ARGUMENTS;
    }
    if (!SwitchTo(rate)) {
        m_err << "brennix: the port cannot switch to " << rate << " baud\n";
        return EXIT_PORT_UNAVAILABLE;
    }
    const int failed = RunMove(m_context.AtRate(rate), from, static_cast<uint8_t>(*id), targetRate);
    // The move leaves the port at the servo's new rate when it gets that far.
    m_nRate = static_cast<int>(m_servo.Transport()->ConfiguredRate());
    if (failed) return failed;
    m_taken.insert(*id);
    m_assigned.insert({*id, targetRate});
    m_nNext = *id + 1;
    m_out << "ID " << m_request.from << " at " << rate << " \u2192 ID " << *id;
    if (targetRate != rate) m_out << " at " << targetRate;
    m_out << std::endl;
    return EXIT_OK;
}

}  // namespace

int RunAssign(const CCliContext& c) {
    std::ostream& out = c.out;
    std::ostream& err = c.err;
    const CCliPort& port = c.port;
    std::string error;
    const auto request = ParseAssign(c.options.arguments, &error);
    if (!request) {
        err << "brennix: " << error << "\n";
        return EXIT_BAD_ARGUMENTS;
    }
    if (!port.setLineRate) {
        err << "brennix: assign looks at every rate, and this port cannot change its rate\n";
        return EXIT_PORT_UNAVAILABLE;
    }
    const CInterruptRequest interrupt;
    CAssigner assigner(c, *request);
    long assigned = 0;
    bool asked = false;
    bool surveyed = false;
    int result = EXIT_OK;
    // Output that cannot be written ends the run: nobody would see which ID each servo got.
    while ((!request->count || assigned < *request->count) && out) {
        if (CInterruptRequest::Interrupted() || port.IsLost()) break;
        const auto rate = assigner.LookForNewServo();
        if (rate) {
            const auto done = assigner.AssignAt(*rate);
            if (done && *done != EXIT_OK) {
                result = *done;
                break;
            }
            if (done) {
                ++assigned;
                asked = false;
                if (request->count && assigned == *request->count) break;
                out << "plug in the next servo" << std::endl;
                asked = true;
            }
        }
        // A servo already waiting goes first: the survey of the whole bus takes a while, and the next
        // servo may be plugged in meanwhile.
        if (!surveyed) {
            if (!assigner.Survey()) break;
            surveyed = true;
            continue;
        }
        if (!rate && !asked) {
            out << "plug in the next servo" << std::endl;
            asked = true;
        }
    }
    if (assigner.Rate() != c.baud) assigner.SwitchTo(c.baud);
    if (port.IsLost()) return EXIT_PORT_UNAVAILABLE;
    return result;
}
