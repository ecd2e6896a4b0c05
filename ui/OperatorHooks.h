// Messages to the operator, the files they pick and the quit request, each through a hook that tests can
// replace.
#pragma once

#include <QString>
#include <functional>

class QWidget;

// What a file dialog asks for; each kind has its own filter and mode.
enum class EFileKind {
    PlotData,       // the ROBOT page's plot recording, CSV, saved
    PlotPicture,    // the ROBOT page's plot, PNG, saved
    ParameterSave,  // the PROGRAM page's parameter file (.dat), saved
    ParameterOpen,  // the PROGRAM page's parameter file (.dat), opened
    Firmware,       // the UPGRADE page's firmware (.hex or .bin), opened
    ServosData,     // the Servos window's rows, CSV, saved
    ServosPicture,  // the Servos window's plot, PNG, saved
    RecordingSave,  // a taught motion, CSV, saved
    RecordingOpen,  // a taught motion, CSV, opened
    BusFrames,      // the Bus window's frames, text, saved
};

using MessageHook = std::function<void(QWidget* pParent, const QString& text)>;
using QuitHook = std::function<void(int exitCode)>;
using QuestionHook = std::function<bool(QWidget* pParent, const QString& text)>;
// Answers a file dialog: the chosen path, or empty when cancelled.
using ChooseFileHook = std::function<QString(EFileKind kind)>;

// A modal box with the text and an OK button only, titled with the application's name.
void ShowMessage(QWidget* pParent, const QString& text);
// A modal box with the text and Yes and No buttons; true for Yes.
bool AskYesNo(QWidget* pParent, const QString& text);
// The path the operator picks for a file of this kind, the dialog modal over pParent; empty when cancelled.
// Saved kinds whose dialog cannot add a suffix get it appended when the name lacks it.
QString ChooseFile(QWidget* pParent, EFileKind kind);
// Ends the event loop with the exit code.
void RequestQuit(int exitCode);

// Each returns the hook it replaces; an empty hook restores the default. GUI thread only.
MessageHook SetMessageHook(MessageHook hook);
QuitHook SetQuitHook(QuitHook hook);
QuestionHook SetQuestionHook(QuestionHook hook);
ChooseFileHook SetChooseFileHook(ChooseFileHook hook);
