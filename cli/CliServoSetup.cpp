// Parameter changes from the command line: checks first, then unlock, write and lock as the programming page
// does it, each step run and judged on its own, then a read-back at the servo's new ID and rate.
#include "cli/CliServoSetup.h"

#include <array>
#include <cstring>
#include <future>
#include <optional>
#include <ostream>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/CliSharedId.h"
#include "link/ControlTable.h"
#include "link/Encodings.h"
#include "link/ParameterRanges.h"
#include "link/ServoUsb.h"
#include "program/ParameterFile.h"
#include "program/ParameterSteps.h"

namespace {

using Span = std::vector<uint8_t>;  // the parameter span as it goes on the wire

constexpr std::size_t kReturnLevelInSpan = Reg::RETURN_LEVEL - Reg::PARAM_SPAN_START;

// Runs one step on the sequence worker and waits for it, so each result can be judged before the next step.
CStepReport RunStep(CBusSequence& sequence, CBusStep step) {
    std::promise<CStepReport> done;
    std::future<CStepReport> report = done.get_future();
    const bool started = sequence.Start({std::move(step)}, [&done](CStepReport r) {
        if (r.last) done.set_value(std::move(r));
    });
    // A run is over once its last report is out, so a start can only fail if that ever changes: then the
    // step counts as unanswered rather than waited for forever.
    if (!started) return CStepReport{};
    return report.get();
}

std::optional<Span> ReadSpan(CBusSequence& sequence, uint8_t id) {
    CStepReport report = RunStep(sequence, SpanReadStep(id));
    if (report.result < 0 || report.data.size() != Reg::PARAM_SPAN_LENGTH) return std::nullopt;
    return report.data;
}

// Where a servo answers: its ID at a line rate.
struct CPlace {
    uint8_t id;
    int baud;
    bool operator==(const CPlace&) const = default;
};

std::string Where(const CPlace& place) {
    return "ID " + std::to_string(place.id) + " (" + std::to_string(place.baud) + " baud)";
}

// The change a span makes: where the servo answers now and where once it is stored.
struct CChange {
    CPlace from;
    CPlace to;
    // Whether the servo answers writes (RETURN_LEVEL 2) before the span is written, and after.
    bool confirmsBefore;
    bool confirmsAfter;
    bool Moves() const { return !(from == to); }
};

// `current` is the span the servo holds now, `wire` the one it is given.
CChange ChangeOf(CPlace from, const Span& current, const Span& wire) {
    return {from,
            {wire[0], static_cast<int>(BAUD_RATES[wire[1]])},
            current[kReturnLevelInSpan] >= 2,
            wire[kReturnLevelInSpan] >= 2};
}

// One set-up command's hold on the bus: the port's rate as it switches between the servo's old and new
// rate, the sequence worker for the page's steps, and the words for what went wrong.
class CSetup {
public:
    explicit CSetup(const CCliContext& c)
        : m_servo(c.servo), m_port(c.port), m_nRate(c.baud), m_err(c.err), m_sequence(c.servo) {}

    CBusSequence& Sequence() { return m_sequence; }
    int Rate() const { return m_nRate; }

    // Puts the port at the rate; false when it cannot.
    bool SwitchTo(int baud) {
        if (baud == m_nRate) return true;
        if (!m_port.setLineRate || !m_port.setLineRate(baud)) return false;
        m_nRate = baud;
        return true;
    }

    // Whether anything at all answers a ping at the place, a damaged answer included. Empty when the port
    // cannot take the rate.
    std::optional<bool> AnythingAt(const CPlace& place) {
        if (!SwitchTo(place.baud)) return std::nullopt;
        CRawAnswer answer;
        m_servo.Transport()->SetReadWindow(std::chrono::microseconds{0});
        m_servo.PingRaw(place.id, std::chrono::microseconds{0}, &answer);
        return answer.got > 0;
    }

    bool AnswersAt(const CPlace& place) { return SwitchTo(place.baud) && m_servo.Ping(place.id) == 1; }

    // The span of a servo at `from` that one servo answers to; prints why not and returns the exit code
    // otherwise.
    std::optional<Span> CurrentSpan(const CPlace& from, const char* what, int* refused) {
        // The check pings the servo; a silent one is then found out by the read.
        *refused = RefuseSharedId(m_servo, from.id, from.baud, what, m_err);
        if (*refused != EXIT_OK) return std::nullopt;
        auto span = ReadSpan(m_sequence, from.id);
        if (!span) {
            m_err << "brennix: no reply from " << Where(from) << "; nothing written\n";
            *refused = EXIT_NO_REPLY;
        }
        return span;
    }

    // Refuses (EXIT_BAD_ARGUMENTS) when anything answers where the servo is going; EXIT_OK to go on. The
    // port is back at the servo's rate afterwards.
    int CheckNoClash(const CChange& change) {
        if (!change.Moves()) return EXIT_OK;
        const auto answers = AnythingAt(change.to);
        const bool back = SwitchTo(change.from.baud);
        if (!answers || !back) {
            m_err << "brennix: the port cannot switch to " << change.to.baud << " baud; nothing written\n";
            return EXIT_PORT_UNAVAILABLE;
        }
        if (*answers) {
            m_err << "brennix: a servo already answers at " << Where(change.to)
                  << "; the two would be unreachable. Nothing written\n";
            return EXIT_BAD_ARGUMENTS;
        }
        return EXIT_OK;
    }

    // Unlock, span write and lock, then the read-back at the new place. Prints the failure, and where the
    // servo is and whether it is locked; EXIT_OK only when it holds the span and is locked again.
    int WriteAndVerify(const CChange& change, const Span& wire);

private:
    // After a failed step: looks for the servo at every place it may answer, locks it at the first where it
    // does, and says which and whether the lock holds.
    std::string LockWhereItAnswers(const CChange& change);
    int Fail(const std::string& what, const CChange& change, int code) {
        m_err << "brennix: " << what << "; " << LockWhereItAnswers(change) << "\n";
        return code;
    }

    CServoUsb& m_servo;
    const CCliPort& m_port;
    int m_nRate;  // the port's rate now
    std::ostream& m_err;
    CBusSequence m_sequence;
};

std::string CSetup::LockWhereItAnswers(const CChange& change) {
    std::vector<CPlace> places{
        change.to, change.from, {change.to.id, change.from.baud}, {change.from.id, change.to.baud}};
    std::vector<CPlace> tried;
    for (const CPlace& place : places) {
        if (std::find(tried.begin(), tried.end(), place) != tried.end()) continue;
        tried.push_back(place);
        if (!AnswersAt(place)) continue;
        RunStep(m_sequence, LockStep(place.id, 1, ""));
        uint8_t lock = 0;
        if (m_servo.ReadData(place.id, Reg::LOCK, 1, &lock) != 1)
            return "it answers at " + Where(place) + "; a lock was sent, which it does not read back";
        return "it answers at " + Where(place) + (lock == 1 ? " and is locked" : " and is still unlocked");
    }
    std::string nowhere = tried.size() == 2 ? "it answers at neither " : "it answers at none of ";
    for (std::size_t i = 0; i < tried.size(); ++i) {
        const bool last = i + 1 == tried.size();
        nowhere += (i == 0 ? "" : last ? (tried.size() == 2 ? " nor " : " and ") : ", ") + Where(tried[i]);
    }
    return nowhere + ": where it is and whether it is locked is not known";
}

int CSetup::WriteAndVerify(const CChange& change, const Span& wire) {
    const std::string from = Where(change.from);
    const std::string to = Where(change.to);
    // A servo set to answer reads only cannot confirm a write; the read-back at the end still judges it.
    const auto unconfirmed = [](const CStepReport& report, bool confirms) {
        return confirms && report.result != 1;
    };
    if (unconfirmed(RunStep(m_sequence, LockStep(change.from.id, 0, "")), change.confirmsBefore))
        return Fail(from + " did not confirm the unlock (step 1 of 3), parameters not written", change,
                    EXIT_NO_REPLY);
    if (unconfirmed(RunStep(m_sequence, SpanWriteStep(change.from.id, wire, "")), change.confirmsBefore)) {
        // A new rate may take effect before the status goes out, so the status is lost at the old rate: the
        // servo is looked for where it should be now before the write counts as failed.
        const bool there = change.to.baud != change.from.baud && AnswersAt(change.to);
        if (!there)
            return Fail(from + " did not confirm the parameter write (step 2 of 3)", change, EXIT_NO_REPLY);
    }
    if (!SwitchTo(change.to.baud)) {
        m_err << "brennix: the port cannot switch to " << change.to.baud << " baud: the servo has its new "
              << "parameters, is unlocked and answers at " << to << " only\n";
        return EXIT_PORT_UNAVAILABLE;
    }
    const bool lockConfirmed =
        !unconfirmed(RunStep(m_sequence, LockStep(change.to.id, 1, "")), change.confirmsAfter);

    uint8_t who = 0;
    if (m_servo.Ping(change.to.id, &who) != 1 || who != change.to.id)
        return Fail("no answer at " + to + " after the write" +
                        (lockConfirmed ? "" : " nor to the lock (step 3 of 3)"),
                    change, EXIT_NO_REPLY);
    const auto stored = ReadSpan(m_sequence, change.to.id);
    uint8_t lock = 0;
    const bool lockRead = m_servo.ReadData(change.to.id, Reg::LOCK, 1, &lock) == 1;
    if (!stored || !lockRead) {
        const bool pingsOnly = wire[kReturnLevelInSpan] == 0;
        return Fail(to + " answers but did not read back its parameters" +
                        (pingsOnly ? " (RETURN_LEVEL 0: it answers pings only)" : ""),
                    change, EXIT_NO_REPLY);
    }
    for (std::size_t i = 0; i < wire.size(); ++i) {
        if ((*stored)[i] != wire[i]) {
            const std::string what = to + " holds other values than written (address " +
                                     std::to_string(Reg::PARAM_SPAN_START + i) + ": wrote " +
                                     std::to_string(wire[i]) + ", reads " + std::to_string((*stored)[i]) +
                                     ")";
            if (lock == 1) {
                m_err << "brennix: " << what << "; it is locked\n";
                return EXIT_NOT_VERIFIED;
            }
            return Fail(what, change, EXIT_NOT_VERIFIED);
        }
    }
    if (lock != 1)
        return Fail(to + " holds the new parameters but was still unlocked" +
                        (lockConfirmed ? "" : " (the lock, step 3 of 3, was not confirmed)"),
                    change, EXIT_NOT_VERIFIED);
    return EXIT_OK;
}

// Host-order values of every register of the span that differs, one line each: "P_COEFF 15 → 64".
std::vector<std::string> Differences(const Span& currentWire, const Span& newWire, bool highByteFirst) {
    uint8_t before[IMAGE_SIZE] = {}, after[IMAGE_SIZE] = {};
    std::memcpy(before + Reg::PARAM_SPAN_START, currentWire.data(), currentWire.size());
    std::memcpy(after + Reg::PARAM_SPAN_START, newWire.data(), newWire.size());
    if (highByteFirst) {
        SwapParameterWords(before);
        SwapParameterWords(after);
    }
    std::vector<std::string> lines;
    int covered = Reg::PARAM_SPAN_START;
    auto value = [](const uint8_t* image, uint8_t address, int width) {
        return width == 2 ? static_cast<int>(ImageWord(image, address)) : static_cast<int>(image[address]);
    };
    for (const CRegisterInfo& reg : REGISTERS) {
        if (reg.address < Reg::PARAM_SPAN_START ||
            reg.address >= Reg::PARAM_SPAN_START + Reg::PARAM_SPAN_LENGTH)
            continue;
        covered = reg.address + reg.width;
        const int was = value(before, reg.address, reg.width), will = value(after, reg.address, reg.width);
        if (was != will)
            lines.push_back(std::string(reg.name) + " " + std::to_string(was) + " \u2192 " +
                            std::to_string(will));
    }
    for (int address = covered; address < Reg::PARAM_SPAN_START + Reg::PARAM_SPAN_LENGTH; ++address)
        if (before[address] != after[address])
            lines.push_back("address " + std::to_string(address) + " " + std::to_string(before[address]) +
                            " \u2192 " + std::to_string(after[address]));
    return lines;
}

int RunChange(CSetup& setup, const CPlace& from, const Span& current, const Span& wire) {
    const CChange change = ChangeOf(from, current, wire);
    if (const int refused = setup.CheckNoClash(change)) return refused;
    return setup.WriteAndVerify(change, wire);
}

}  // namespace

int RunSetId(const CCliContext& c, uint8_t id, uint8_t newId) {
    if (newId == id || newId > Range::MAX_ID) {
        c.err << "brennix: the new ID must be 0 to " << Range::MAX_ID << " and differ from " << int(id)
              << "\n";
        return EXIT_BAD_ARGUMENTS;
    }
    const int failed = RunMove(c, id, newId, c.baud);
    if (failed) return failed;
    c.out << "ID " << int(id) << " is now ID " << int(newId) << "\n";
    return EXIT_OK;
}

int RunSetRate(const CCliContext& c, uint8_t id, long rate) {
    const int code = rate > 0 && rate <= 4000000 ? BaudCodeOf(static_cast<uint32_t>(rate)) : -1;
    if (code < 0) {
        c.err << "brennix: " << rate
              << " is not a servo rate (1000000, 500000, 250000, 128000, 115200, 76800, "
              << "57600 or 38400)\n";
        return EXIT_BAD_ARGUMENTS;
    }
    if (rate == c.baud) {
        c.err << "brennix: ID " << int(id) << " answers at " << rate << " baud already\n";
        return EXIT_BAD_ARGUMENTS;
    }
    if (!c.port.setLineRate) {
        c.err << "brennix: this port cannot change its rate\n";
        return EXIT_PORT_UNAVAILABLE;
    }
    const int failed = RunMove(c, id, id, static_cast<int>(rate));
    if (failed) return failed;
    c.out << "ID " << int(id) << " now answers at " << rate << " baud\n";
    return EXIT_OK;
}

int RunMove(const CCliContext& c, uint8_t id, uint8_t newId, int newBaud) {
    CSetup setup(c);
    int refused = EXIT_OK;
    const CPlace from{id, c.baud};
    const auto current = setup.CurrentSpan(from, "the change", &refused);
    if (!current) return refused;
    auto wire = *current;
    wire[0] = newId;
    wire[1] = static_cast<uint8_t>(BaudCodeOf(static_cast<uint32_t>(newBaud)));
    return RunChange(setup, from, *current, wire);
}

int RunSaveParameters(const CCliContext& c, uint8_t id, const std::string& path) {
    CServoUsb& servo = c.servo;
    CBusSequence sequence(servo);
    const auto wire = servo.Ping(id) == 1 ? ReadSpan(sequence, id) : std::nullopt;
    if (!wire) {
        c.err << "brennix: no reply from ID " << int(id) << "; no file written\n";
        return EXIT_NO_REPLY;
    }
    // The page's image after a READ: the span in host order beside whatever the image held before.
    uint8_t* image = servo.Image();
    std::memcpy(image + Reg::PARAM_SPAN_START, wire->data(), wire->size());
    if (servo.IsHighByteFirst()) SwapParameterWords(image);
    ParameterBytes bytes{};
    std::memcpy(bytes.data(), image, bytes.size());
    std::string why;
    if (SaveParameterFile(path, bytes, &why) != EParamFileStatus::Ok) {
        c.err << "brennix: cannot write " << path << ": " << why << "\n";
        return EXIT_OUTPUT_FAILED;
    }
    c.out << "saved ID " << int(id) << " to " << path << "\n";
    return EXIT_OK;
}

namespace {

struct CLoadRequest {
    std::string path;
    bool withId = false;
    bool withRate = false;
    bool dryRun = false;
};

// The load's file and switches; EXIT_OK, or EXIT_BAD_ARGUMENTS after saying why.
int ParseLoadArguments(const std::vector<std::string>& args, CLoadRequest& request, std::ostream& err) {
    for (const std::string& arg : args) {
        if (arg == "--with-id") {
            request.withId = true;
        } else if (arg == "--with-rate") {
            request.withRate = true;
        } else if (arg == "--dry-run") {
            request.dryRun = true;
        } else if (request.path.empty() && arg.rfind("--", 0) != 0) {
            request.path = arg;
        } else {
            err << "brennix: unknown load option " << arg << "\n";
            return EXIT_BAD_ARGUMENTS;
        }
    }
    if (request.path.empty()) {
        err << "brennix: load needs a FILE\n";
        return EXIT_BAD_ARGUMENTS;
    }
    return EXIT_OK;
}

// The file into `image` (host order, as the page's image), refused when no servo takes its values.
int ReadLoadImage(const CLoadRequest& request, uint8_t* image, std::ostream& err) {
    const std::string& path = request.path;
    ParameterBytes bytes{};
    switch (LoadParameterFile(path, bytes)) {
        case EParamFileStatus::Ok:
            break;
        case EParamFileStatus::TooShort:
            err << "brennix: " << path << " is shorter than " << PARAMETER_FILE_SIZE << " bytes\n";
            return EXIT_BAD_ARGUMENTS;
        default:
            err << "brennix: cannot open " << path << " (missing, unreadable or not a regular file)\n";
            return EXIT_BAD_ARGUMENTS;
    }
    std::memcpy(image, bytes.data(), bytes.size());
    const std::vector<CRangeProblem> problems = CheckParameterRanges(image, request.withId);
    if (problems.empty()) return EXIT_OK;
    for (const CRangeProblem& problem : problems) err << "brennix: " << path << ": " << problem.text << "\n";
    err << "brennix: no servo takes these values; nothing written\n";
    return EXIT_BAD_ARGUMENTS;
}

// A file with another rate than the port's is loaded only when asked, and only through a port that can
// follow.
int CheckLoadRate(const CCliContext& c, const CLoadRequest& request, uint8_t id, int newBaud) {
    if (newBaud == c.baud) return EXIT_OK;
    if (!request.withRate) {
        c.err << "brennix: " << request.path << " sets the rate to " << newBaud << " baud, and ID " << int(id)
              << " answers at " << c.baud << ": add --with-rate to move it there. Nothing written\n";
        return EXIT_BAD_ARGUMENTS;
    }
    if (!c.port.setLineRate) {
        c.err << "brennix: the file's rate is " << newBaud << " baud and this port cannot change its rate\n";
        return EXIT_PORT_UNAVAILABLE;
    }
    return EXIT_OK;
}

}  // namespace

int RunLoadParameters(const CCliContext& c, uint8_t id, const std::vector<std::string>& args) {
    CLoadRequest request;
    if (const int refused = ParseLoadArguments(args, request, c.err)) return refused;
    uint8_t image[IMAGE_SIZE] = {};
    if (const int refused = ReadLoadImage(request, image, c.err)) return refused;
    const int newBaud = static_cast<int>(BAUD_RATES[image[Reg::BAUD_RATE]]);
    if (const int refused = CheckLoadRate(c, request, id, newBaud)) return refused;
    const std::string& path = request.path;
    if (image[Reg::RETURN_LEVEL] == 0)
        c.err << "brennix: warning: " << path << " sets RETURN_LEVEL 0: the servo will answer pings only, so "
              << "what is written cannot be read back\n";
    if (!request.withId) image[Reg::ID] = id;
    // The wire wants the page's byte order.
    if (c.servo.IsHighByteFirst()) SwapParameterWords(image);
    const Span wire(image + Reg::PARAM_SPAN_START, image + Reg::PARAM_SPAN_START + Reg::PARAM_SPAN_LENGTH);

    CSetup setup(c);
    int refused = EXIT_OK;
    const CPlace from{id, c.baud};
    const auto current = setup.CurrentSpan(from, "loading", &refused);
    if (!current) return refused;
    const std::vector<std::string> changes = Differences(*current, wire, c.servo.IsHighByteFirst() != 0);
    if (changes.empty()) c.out << Where(from) << " holds every value of " << path << " already\n";
    for (const std::string& line : changes) c.out << line << "\n";
    c.out.flush();
    if (request.dryRun) return EXIT_OK;
    if (const int failed = RunChange(setup, from, *current, wire)) return failed;
    c.out << "loaded " << path << " into " << Where(ChangeOf(from, *current, wire).to) << "\n";
    return EXIT_OK;
}
