// The doctor command: its options, the checks of link/, and the report as text or Markdown.
#include "cli/CliDoctor.h"

#include <ostream>

#include "link/Doctor.h"
#include "link/DoctorHost.h"
#include "link/SerialScanLine.h"
#include "link/ServoUsb.h"

namespace {

struct CDoctorOptions {
    bool move = false;
    bool markdown = false;
};

bool ParseDoctorOptions(const CCliOptions& options, CDoctorOptions& parsed, std::ostream& err) {
    for (const std::string& arg : options.arguments) {
        if (arg == "--move") {
            parsed.move = true;
        } else if (arg == "--markdown") {
            parsed.markdown = true;
        } else {
            err << "brennix: unknown doctor option " << arg << "\n";
            return false;
        }
    }
    return true;
}

int Print(const CDoctorReport& report, const CDoctorOptions& options, std::ostream& out) {
    out << (options.markdown ? ReportMarkdown(report) : ReportText(report));
    out.flush();
    return report.Failed() ? EXIT_NO_REPLY : EXIT_OK;
}

}  // namespace

int RunDoctor(const CCliContext& c) {
    CServoUsb& servo = c.servo;
    std::ostream& out = c.out;
    std::ostream& err = c.err;
    const CCliOptions& options = c.options;
    CDoctorOptions parsed;
    if (!ParseDoctorOptions(options, parsed, err)) return EXIT_BAD_ARGUMENTS;
    CDoctorReport report;
    report.Append(HostChecks(c.port.path, true));
    CSerialScanLine line(*servo.Transport());
    CDoctorSettings settings;
    settings.move = parsed.move;
    // A --timeout given by the user is the adapter margin too, as for scan --all-rates.
    if (options.timeoutGiven) settings.adapterMargin = std::chrono::milliseconds(c.timeoutMs);
    CDoctor(servo, line).CheckBus(settings, report);
    return Print(report, parsed, out);
}

int RunDoctorWithoutPort(const CCliOptions& options, const std::string& portPath, std::ostream& out,
                         std::ostream& err) {
    CDoctorOptions parsed;
    if (!ParseDoctorOptions(options, parsed, err)) return EXIT_BAD_ARGUMENTS;
    CDoctorReport report;
    report.Append(HostChecks(portPath, false));
    if (!report.Failed())
        report.Add("host", "port opens", ECheckLevel::Fail, portPath + " could not be opened",
                   "see the checks above");
    report.Add("bus", "servos", ECheckLevel::Skip, "no port, no bus");
    Print(report, parsed, out);
    return EXIT_NO_REPLY;
}
