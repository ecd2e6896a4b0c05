// brennix-debug: the desktop tool; with --simulate it brings its own servo bus.
#include <QApplication>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "AppOptions.h"
#include "DemoTour.h"
#include "VelmoraApp.h"

int main(int argc, char* argv[]) {
    // Our options are read before the toolkit starts, so --help and mistakes need no display.
    const CAppOptionsResult parsed = ParseAppOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed.options.bHelp) {
        std::fputs(AppUsage(), stdout);
        return 0;
    }
    if (!parsed.szError.empty()) {
        std::fprintf(stderr, "brennix-debug: %s\n%s", parsed.szError.c_str(), AppUsage());
        return 2;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brennix Debug"));
    // The windows end the program themselves, after stopping the search and closing the port.
    QApplication::setQuitOnLastWindowClosed(false);

    CVelmoraApp app(parsed.options);
    if (!app.InitInstance()) {
        std::fputs("brennix-debug: the simulated servo bus could not start\n", stderr);
        return 1;
    }
    std::unique_ptr<CDemoTour> tour;
    if (!parsed.options.szTourDir.empty()) {
        tour = std::make_unique<CDemoTour>(app, QString::fromLocal8Bit(parsed.options.szTourDir));
        QObject::connect(tour.get(), &CDemoTour::finished, &QCoreApplication::exit);
        if (!tour->Start()) {
            std::fprintf(stderr, "brennix-debug: %s\n", qPrintable(tour->Error()));
            return 1;
        }
    }
    return QApplication::exec();
}
