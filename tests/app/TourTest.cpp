// The demo tour: as the program runs it (pictures, printed paths, exit code), and how a failed step ends it.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

#include "app/ServoMain.h"
#include "app/VelmoraApp.h"
#include "link/ControlTable.h"
#include "sim/BusSimulator.h"
#include "tests/ui/GuiTest.h"
#include "tour/DemoTour.h"

namespace {

// The whole tour takes under ten seconds; a loaded machine gets plenty more.
constexpr int kTourWaitMs = 90000;
constexpr int kExpectedPictures = 11;

struct CRun {
    int exitCode = -1;
    QStringList out;
    QString err;
};

CRun RunProgram(const QStringList& args) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(BRENNIX_DEBUG_EXE), args);
    CRun run;
    if (!process.waitForFinished(kTourWaitMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    if (process.exitStatus() == QProcess::NormalExit) run.exitCode = process.exitCode();
    run.out =
        QString::fromLocal8Bit(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

// More than one colour: a window that painted nothing, or a picture of nothing, is a single flat colour.
int DistinctColours(const QImage& image, int enough = 16) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            colours.insert(image.pixel(x, y));
            if (colours.size() >= enough) return enough;
        }
    }
    return static_cast<int>(colours.size());
}

}  // namespace

TEST(DemoTourProgram, WalksThroughTheToolAndPrintsAPictureOfEachStep) {
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    // A folder that does not exist yet: the tour makes it.
    const QString dir = temp.filePath(QStringLiteral("tour/pictures"));
    const CRun run = RunProgram({QStringLiteral("--simulate"), QStringLiteral("--tour"), dir});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();

    ASSERT_EQ(run.out.size(), kExpectedPictures) << run.out.join(QLatin1Char('\n')).toStdString();
    QSet<QString> seen;
    for (const QString& path : run.out) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_TRUE(path.startsWith(dir + QLatin1Char('/')) && path.endsWith(QLatin1String(".png")));
        EXPECT_FALSE(seen.contains(path)) << "one picture per step";
        seen.insert(path);
        EXPECT_GT(QFile(path).size(), 0);
        const QImage image(path);
        ASSERT_FALSE(image.isNull());
        EXPECT_GE(image.width(), 300);
        EXPECT_GE(image.height(), 200);
        EXPECT_GT(DistinctColours(image), 1) << "blank picture";
    }

    // What the operator saved: the 31 parameter bytes of the servo, with the P coefficient it wrote.
    QFile saved(QDir(dir).filePath(QStringLiteral("servo-parameters.dat")));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    ASSERT_EQ(bytes.size(), 31);
    EXPECT_EQ(static_cast<uint8_t>(bytes[Reg::ID]), 1);
    EXPECT_EQ(static_cast<uint8_t>(bytes[Reg::P_COEFF]), 20)
        << "the servo's factory P is 15; the tour writes 20";
}

TEST(DemoTourProgram, RefusesADirectoryItCannotMakeBeforeShowingAnything) {
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString file = temp.filePath(QStringLiteral("a-file"));
    {
        QFile blocker(file);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    const CRun run = RunProgram({QStringLiteral("--simulate"), QStringLiteral("--tour=") + file});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_TRUE(run.err.contains(QStringLiteral("cannot make the tour directory"))) << run.err.toStdString();

    // Never against the real adapter: the tour writes parameters and firmware into what it finds.
    const CRun real = RunProgram({QStringLiteral("--tour"), temp.path()});
    EXPECT_EQ(real.exitCode, 2);
    EXPECT_TRUE(real.err.contains(QStringLiteral("--simulate"))) << real.err.toStdString();
}

// A step whose outcome does not come ends the tour at once with exit code 1; the pictures of the steps
// before it stay, and the window is left with no worker running and the port closed.
TEST(DemoTourInProcess, AFailedStepEndsTheTourAndShutsTheWindowDown) {
    EnsureApplication();
    struct CCase {
        const char* what;
        std::function<void(sim::CBusSimulator&)> breakBus;
        int pictures;
        QString error;
    };
    const CCase cases[] = {
        {"the adapter is unplugged", [](sim::CBusSimulator& bus) { bus.Unplug(); }, 1,
         QStringLiteral("\"Enter\" failed: message \"Unable to connect Device!\"")},
        {"servo 3 is missing", [](sim::CBusSimulator& bus) { bus.RemoveServo(3); }, 3,
         QStringLiteral("\"Stop\" failed: the search listed 2 of 3 servos")},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir temp;
        ASSERT_TRUE(temp.isValid());
        CAppOptions options;
        options.nSimulatedServos = 3;
        options.szTourDir = temp.path().toStdString();
        CVelmoraApp app(options);
        ASSERT_TRUE(app.InitInstance());
        c.breakBus(*app.Simulator());

        CDemoTour tour(app, temp.path(), nullptr);
        QEventLoop loop;
        int exitCode = -1;
        QObject::connect(&tour, &CDemoTour::finished, &loop, [&](int code) {
            exitCode = code;
            loop.quit();
        });
        QTimer::singleShot(kTourWaitMs, &loop, &QEventLoop::quit);
        ASSERT_TRUE(tour.Start()) << tour.Error().toStdString();
        loop.exec();

        EXPECT_EQ(exitCode, 1);
        EXPECT_TRUE(tour.Error().contains(c.error)) << tour.Error().toStdString();
        EXPECT_EQ(tour.Pictures().size(), c.pictures);
        for (const QString& path : tour.Pictures()) EXPECT_TRUE(QFile::exists(path)) << path.toStdString();
        CServoMain* main = app.m_pMainWnd.get();
        EXPECT_FALSE(main->IsPortOpen());
        EXPECT_EQ(Child<QPushButton>(main, "search")->text(), QStringLiteral("Search"));
    }
}
