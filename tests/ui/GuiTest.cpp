// The application is created once and never destroyed, so no test depends on static destruction order.
#include "tests/ui/GuiTest.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTest>
#include <QWidget>

#include "ui/OperatorHooks.h"

QApplication* EnsureApplication() {
    static QApplication* application = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "brennix-gui-test";
        static char* argv[] = {name, nullptr};
        auto* app = new QApplication(argc, argv);
        QApplication::setApplicationName(QStringLiteral("Brennix Debug"));
        QApplication::setQuitOnLastWindowClosed(false);
        return app;
    }();
    return application;
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}

void SpinEvents(int ms) {
    QTest::qWait(ms);
}

COperatorRecorder::COperatorRecorder() {
    SetMessageHook([this](QWidget*, const QString& text) { m_messages << text; });
    SetQuitHook([this](int code) { m_quitCodes << code; });
    SetQuestionHook([this](QWidget*, const QString& text) {
        m_questions << text;
        return m_bAnswerYes;
    });
}

COperatorRecorder::~COperatorRecorder() {
    SetMessageHook({});
    SetQuitHook({});
    SetQuestionHook({});
}

CChooseFileAnswer::CChooseFileAnswer(std::function<QString(EFileKind)> answer)
    : m_previous(SetChooseFileHook(std::move(answer))) {}

CChooseFileAnswer::~CChooseFileAnswer() {
    SetChooseFileHook(std::move(m_previous));
}

QString SaveGrab(QWidget* widget, const QString& name) {
    QDir().mkpath(QStringLiteral(BRENNIX_GRAB_DIR));
    const QString path = QStringLiteral(BRENNIX_GRAB_DIR "/%1.png").arg(name);
    widget->grab().save(path);
    return path;
}

QStringList PaneLines(const QString& text) {
    if (text.isEmpty()) return {};
    return text.split(QLatin1Char('\n'));
}

// Under LeakSanitizer: fontconfig keeps a small cache for the life of the process, which is not ours. The
// same lists, for the programs the tests start, are in tests/sanitizers/: keep them in step.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

// Under ThreadSanitizer: the Qt libraries are not instrumented and lock with raw futexes, so memory that
// their own threads (image scaling, painting) and event queue hand over looks unsynchronised. Only accesses
// made from inside those libraries are ignored; our code stays checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n"
           "called_from_lib:libpng16.so.16\n";
}
