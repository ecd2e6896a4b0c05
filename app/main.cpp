// brennix-debug: the desktop tool; with --simulate it brings its own servo bus.
#include <QApplication>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/AppOptions.h"
#include "app/TourStart.h"
#include "app/VelmoraApp.h"

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
        std::fprintf(stderr, "brennix-debug: %s\n", app.StartError().c_str());
        return 1;
    }
    std::unique_ptr<QObject> tour;
    if (!parsed.options.szTourDir.empty()) {
        QString error;
        tour = StartTour(app, QString::fromLocal8Bit(parsed.options.szTourDir), &error);
        if (!tour) {
            std::fprintf(stderr, "brennix-debug: %s\n", qPrintable(error));
            return 1;
        }
    }
    return QApplication::exec();
}
