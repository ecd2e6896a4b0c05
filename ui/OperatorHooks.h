// Messages to the operator and the quit request, each through a hook that tests can replace.
#pragma once

#include <QString>
#include <functional>

class QWidget;

using MessageHook = std::function<void(QWidget* pParent, const QString& text)>;
using QuitHook = std::function<void(int exitCode)>;
using QuestionHook = std::function<bool(QWidget* pParent, const QString& text)>;

// A modal box with the text and an OK button only, titled with the application's name.
void ShowMessage(QWidget* pParent, const QString& text);
// A modal box with the text and Yes and No buttons; true for Yes.
bool AskYesNo(QWidget* pParent, const QString& text);
// Ends the event loop with the exit code.
void RequestQuit(int exitCode);

// Each returns the hook it replaces; an empty hook restores the default. GUI thread only.
MessageHook SetMessageHook(MessageHook hook);
QuitHook SetQuitHook(QuitHook hook);
QuestionHook SetQuestionHook(QuestionHook hook);
