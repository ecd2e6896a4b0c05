// Parameter changes from the command line: checks first, then unlock, write and lock as the programming page
// does it, each step run and judged on its own, then a read-back at the servo's new ID and rate.
#include "CliServoSetup.h"

#include <array>
#include <cstring>
#include <future>
#include <optional>
#include <ostream>
#include <vector>

#include "CliOptions.h"
#include "ControlTable.h"
#include "Encodings.h"
#include "ParameterFile.h"
#include "ParameterSteps.h"
#include "ServoUsb.h"

namespace {

using Span = std::vector<uint8_t>;  // the parameter span as it goes on the wire

// The highest ID a servo can be given: 254 is the broadcast ID.
constexpr int kMaxServoId = 253;

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

std::string Where(int id, int baud) {
    return "ID " + std::to_string(id) + " (" + std::to_string(baud) + " baud)";
}

// Whether a servo answers at the ID on the rate; the port is put back on lineBaud afterwards. Empty when the
// port cannot take the rate.
std::optional<bool> AnswersAt(CServoUsb& servo, const CCliPort& port, int lineBaud, uint8_t id, int baud) {
    if (baud == lineBaud) return servo.Ping(id) == 1;
    if (!port.setLineRate || !port.setLineRate(baud)) return std::nullopt;
    const bool answers = servo.Ping(id) == 1;
    if (!port.setLineRate(lineBaud)) return std::nullopt;
    return answers;
}

// The change a span makes: the ID and the rate the servo answers at once it is stored.
struct CChange {
    uint8_t id;
    int fromBaud;
    uint8_t newId;
    int newBaud;
    // Whether the servo answers writes (RETURN_LEVEL 2) before the span is written, and after.
    bool confirmsBefore;
    bool confirmsAfter;
};

constexpr std::size_t kReturnLevelInSpan = Reg::RETURN_LEVEL - Reg::PARAM_SPAN_START;

// `current` is the span the servo holds now, `wire` the one it is given.
CChange ChangeOf(uint8_t id, int lineBaud, const Span& current, const Span& wire) {
    return {id,
            lineBaud,
            wire[0],
            static_cast<int>(BAUD_RATES[wire[1]]),
            current[kReturnLevelInSpan] >= 2,
            wire[kReturnLevelInSpan] >= 2};
}

// Refuses (EXIT_BAD_ARGUMENTS) when another servo already answers where this one is going; EXIT_OK to go on.
int CheckNoClash(CServoUsb& servo, const CCliPort& port, const CChange& change, std::ostream& err) {
    if (change.newId == change.id && change.newBaud == change.fromBaud) return EXIT_OK;
    const auto answers = AnswersAt(servo, port, change.fromBaud, change.newId, change.newBaud);
    if (!answers) {
        err << "brennix: the port cannot switch to " << change.newBaud << " baud; nothing written\n";
        return EXIT_PORT_UNAVAILABLE;
    }
    if (*answers) {
        err << "brennix: a servo already answers at " << Where(change.newId, change.newBaud)
            << "; the two would be unreachable. Nothing written\n";
        return EXIT_BAD_ARGUMENTS;
    }
    return EXIT_OK;
}

// Unlock, span write and lock, then the read-back at the new ID and rate. Prints the failure and the state
// the servo may be in; EXIT_OK only when the servo holds the span and is locked again.
int WriteAndVerify(CServoUsb& servo, CBusSequence& sequence, const CCliPort& port, const CChange& change,
                   const Span& wire, std::ostream& err) {
    const std::string from = Where(change.id, change.fromBaud);
    const std::string to = Where(change.newId, change.newBaud);
    const bool moves = change.newId != change.id || change.newBaud != change.fromBaud;
    // A servo set to answer reads only cannot confirm a write; the read-back at the end still judges it.
    const auto unconfirmed = [](const CStepReport& report, bool confirms) {
        return confirms && report.result != 1;
    };
    if (unconfirmed(RunStep(sequence, LockStep(change.id, 0, "")), change.confirmsBefore)) {
        err << "brennix: " << from << " did not confirm the unlock (step 1 of 3): it may be unlocked, "
            << "parameters not written\n";
        return EXIT_NO_REPLY;
    }
    if (unconfirmed(RunStep(sequence, SpanWriteStep(change.id, wire, "")), change.confirmsBefore)) {
        err << "brennix: " << from << " did not confirm the parameter write (step 2 of 3): it is unlocked"
            << (moves ? " and may answer at " + to + " or still at " + from : ", parameters may be written")
            << "\n";
        return EXIT_NO_REPLY;
    }
    if (change.newBaud != change.fromBaud && !port.setLineRate(change.newBaud)) {
        err << "brennix: the port cannot switch to " << change.newBaud << " baud: the servo has its new "
            << "parameters, is unlocked and answers at " << to << " only\n";
        return EXIT_PORT_UNAVAILABLE;
    }
    const bool lockConfirmed =
        !unconfirmed(RunStep(sequence, LockStep(change.newId, 1, "")), change.confirmsAfter);

    uint8_t who = 0;
    if (servo.Ping(change.newId, &who) != 1 || who != change.newId) {
        err << "brennix: no answer at " << to << " after the write"
            << (lockConfirmed ? "" : " nor to the lock (step 3 of 3)") << ": the servo may be unlocked"
            << (moves ? " and still at " + from : "") << "\n";
        return EXIT_NO_REPLY;
    }
    const auto stored = ReadSpan(sequence, change.newId);
    uint8_t lock = 0;
    const bool lockRead = servo.ReadData(change.newId, Reg::LOCK, 1, &lock) == 1;
    if (!stored || !lockRead) {
        err << "brennix: " << to << " answers but did not read back its parameters: it may be unlocked\n";
        return EXIT_NO_REPLY;
    }
    for (std::size_t i = 0; i < wire.size(); ++i) {
        if ((*stored)[i] != wire[i]) {
            err << "brennix: " << to << " holds other values than written (address "
                << Reg::PARAM_SPAN_START + i << ": wrote " << int(wire[i]) << ", reads " << int((*stored)[i])
                << ")" << (lock == 1 ? "" : "; it is unlocked") << "\n";
            return EXIT_NOT_VERIFIED;
        }
    }
    if (lock != 1) {
        err << "brennix: " << to << " holds the new parameters but is still unlocked"
            << (lockConfirmed ? "" : " (the lock, step 3 of 3, was not confirmed)") << "\n";
        return EXIT_NOT_VERIFIED;
    }
    return EXIT_OK;
}

// The span of a servo that answers at the present rate; prints why not and returns nullopt otherwise.
std::optional<Span> CurrentSpan(CServoUsb& servo, CBusSequence& sequence, uint8_t id, int lineBaud,
                                std::ostream& err) {
    auto span = servo.Ping(id) == 1 ? ReadSpan(sequence, id) : std::nullopt;
    if (!span) err << "brennix: no reply from " << Where(id, lineBaud) << "; nothing written\n";
    return span;
}

}  // namespace

int RunSetId(CServoUsb& servo, const CCliPort& port, int lineBaud, uint8_t id, uint8_t newId,
             std::ostream& out, std::ostream& err) {
    if (newId == id || newId > kMaxServoId) {
        err << "brennix: the new ID must be 0 to " << kMaxServoId << " and differ from " << int(id) << "\n";
        return EXIT_BAD_ARGUMENTS;
    }
    CBusSequence sequence(servo);
    const auto current = CurrentSpan(servo, sequence, id, lineBaud, err);
    if (!current) return EXIT_NO_REPLY;
    auto wire = current;
    (*wire)[0] = newId;
    const CChange change = ChangeOf(id, lineBaud, *current, *wire);
    if (const int refused = CheckNoClash(servo, port, change, err)) return refused;
    if (const int failed = WriteAndVerify(servo, sequence, port, change, *wire, err)) return failed;
    out << "ID " << int(id) << " is now ID " << int(newId) << "\n";
    return EXIT_OK;
}

int RunSetRate(CServoUsb& servo, const CCliPort& port, int lineBaud, uint8_t id, long rate, std::ostream& out,
               std::ostream& err) {
    const int code = rate > 0 && rate <= 4000000 ? BaudCodeOf(static_cast<uint32_t>(rate)) : -1;
    if (code < 0) {
        err << "brennix: " << rate << " is not a servo rate (1000000, 500000, 250000, 128000, 115200, 76800, "
            << "57600 or 38400)\n";
        return EXIT_BAD_ARGUMENTS;
    }
    if (rate == lineBaud) {
        err << "brennix: ID " << int(id) << " answers at " << rate << " baud already\n";
        return EXIT_BAD_ARGUMENTS;
    }
    if (!port.setLineRate) {
        err << "brennix: this port cannot change its rate\n";
        return EXIT_PORT_UNAVAILABLE;
    }
    CBusSequence sequence(servo);
    const auto current = CurrentSpan(servo, sequence, id, lineBaud, err);
    if (!current) return EXIT_NO_REPLY;
    auto wire = current;
    (*wire)[1] = static_cast<uint8_t>(code);
    const CChange change = ChangeOf(id, lineBaud, *current, *wire);
    if (const int refused = CheckNoClash(servo, port, change, err)) return refused;
    if (const int failed = WriteAndVerify(servo, sequence, port, change, *wire, err)) return failed;
    out << "ID " << int(id) << " now answers at " << rate << " baud\n";
    return EXIT_OK;
}

int RunSaveParameters(CServoUsb& servo, uint8_t id, const std::string& path, std::ostream& out,
                      std::ostream& err) {
    CBusSequence sequence(servo);
    const auto wire = servo.Ping(id) == 1 ? ReadSpan(sequence, id) : std::nullopt;
    if (!wire) {
        err << "brennix: no reply from ID " << int(id) << "; no file written\n";
        return EXIT_NO_REPLY;
    }
    // The page's image after a READ: the span in host order beside whatever the image held before.
    uint8_t* image = servo.m_pImage;
    std::memcpy(image + Reg::PARAM_SPAN_START, wire->data(), wire->size());
    if (servo.IsHighByteFirst()) SwapParameterWords(image);
    ParameterBytes bytes{};
    std::memcpy(bytes.data(), image, bytes.size());
    if (SaveParameterFile(path, bytes) != EParamFileStatus::Ok) {
        err << "brennix: cannot write " << path << " (a read-only file, a directory or no such folder?)\n";
        return EXIT_BAD_ARGUMENTS;
    }
    out << "saved ID " << int(id) << " to " << path << "\n";
    return EXIT_OK;
}

int RunLoadParameters(CServoUsb& servo, const CCliPort& port, int lineBaud, uint8_t id,
                      const std::string& path, bool withId, std::ostream& out, std::ostream& err) {
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
    if (bytes[Reg::BAUD_RATE] >= BAUD_RATES.size()) {
        err << "brennix: " << path << " holds baud code " << int(bytes[Reg::BAUD_RATE])
            << ", which is no servo rate; nothing written\n";
        return EXIT_BAD_ARGUMENTS;
    }
    if (withId && bytes[Reg::ID] > kMaxServoId) {
        err << "brennix: " << path << " holds ID " << int(bytes[Reg::ID]) << ", which no servo can have\n";
        return EXIT_BAD_ARGUMENTS;
    }
    // The file is in host order, as the page's image; the wire wants the page's byte order.
    uint8_t image[IMAGE_SIZE] = {};
    std::memcpy(image, bytes.data(), bytes.size());
    if (!withId) image[Reg::ID] = id;
    if (servo.IsHighByteFirst()) SwapParameterWords(image);
    const Span wire(image + Reg::PARAM_SPAN_START, image + Reg::PARAM_SPAN_START + Reg::PARAM_SPAN_LENGTH);
    const int newBaud = static_cast<int>(BAUD_RATES[wire[1]]);
    if (newBaud != lineBaud && !port.setLineRate) {
        err << "brennix: the file's rate is " << newBaud << " baud and this port cannot change its rate\n";
        return EXIT_PORT_UNAVAILABLE;
    }

    CBusSequence sequence(servo);
    const auto current = CurrentSpan(servo, sequence, id, lineBaud, err);
    if (!current) return EXIT_NO_REPLY;
    const CChange change = ChangeOf(id, lineBaud, *current, wire);
    if (const int refused = CheckNoClash(servo, port, change, err)) return refused;
    if (const int failed = WriteAndVerify(servo, sequence, port, change, wire, err)) return failed;
    out << "loaded " << path << " into " << Where(change.newId, change.newBaud) << "\n";
    return EXIT_OK;
}
