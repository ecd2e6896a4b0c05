// Support for widget tests: one offscreen QApplication, waiting on conditions, recorded messages, grabs.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QApplication;
class QWidget;

// Creates the application on first use, on the offscreen platform unless another one is asked for.
QApplication* EnsureApplication();

// Processes events until the condition holds; false when it did not within the time.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 3000);
// Processes events for the time.
void SpinEvents(int ms);

// Records operator messages, questions and quit requests instead of showing boxes and ending the loop;
// questions get m_bAnswerYes.
class COperatorRecorder {
public:
    COperatorRecorder();
    ~COperatorRecorder();
    COperatorRecorder(const COperatorRecorder&) = delete;
    COperatorRecorder& operator=(const COperatorRecorder&) = delete;

    QStringList m_messages;
    QStringList m_questions;
    bool m_bAnswerYes = true;
    QList<int> m_quitCodes;
};

// Saves a picture of the widget as <build>/grabs/<name>.png; returns the path.
QString SaveGrab(QWidget* widget, const QString& name);

// The lines of a plain-text pane.
QStringList PaneLines(const QString& text);
