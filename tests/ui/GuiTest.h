// Support for widget tests: one offscreen QApplication, waiting on conditions, recorded messages, grabs.
#pragma once

#include <QLatin1String>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "ui/OperatorHooks.h"

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

// Answers every file dialog with what the function gives for its kind while it lives, then puts back the
// hook it found.
class CChooseFileAnswer {
public:
    explicit CChooseFileAnswer(std::function<QString(EFileKind)> answer);
    ~CChooseFileAnswer();
    CChooseFileAnswer(const CChooseFileAnswer&) = delete;
    CChooseFileAnswer& operator=(const CChooseFileAnswer&) = delete;

private:
    std::function<QString(EFileKind)> m_previous;
};

// Saves a picture of the widget as <build>/grabs/<name>.png; returns the path.
QString SaveGrab(QWidget* widget, const QString& name);

// The lines of a plain-text pane.
QStringList PaneLines(const QString& text);

// The one control of type W named name below parent, as tests find what an operator sees. Throws when there
// is none or more than one, so the test fails naming the control instead of crashing on a null pointer.
template <class W>
W* Child(const QObject* parent, const char* name) {
    const QList<W*> found = parent->findChildren<W*>(QLatin1String(name));
    if (found.size() != 1)
        throw std::logic_error(std::to_string(found.size()) + " controls named " + name + " below " +
                               parent->objectName().toStdString() + " " + parent->metaObject()->className());
    return found.front();
}
template <class W>
W* Child(const QObject& parent, const char* name) {
    return Child<W>(&parent, name);
}
template <class W, class T>
W* Child(const std::unique_ptr<T>& parent, const char* name) {
    return Child<W>(parent.get(), name);
}
