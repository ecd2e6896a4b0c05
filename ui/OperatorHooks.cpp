// Default hooks: real modal message and question boxes, the file dialogs, and QCoreApplication::exit.
#include "ui/OperatorHooks.h"

#include "ui/FileDialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <utility>

namespace {

MessageHook g_messageHook;
QuitHook g_quitHook;
QuestionHook g_questionHook;
ChooseFileHook g_chooseFileHook;

}  // namespace

void ShowMessage(QWidget* pParent, const QString& text) {
    if (g_messageHook) {
        g_messageHook(pParent, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text, QMessageBox::Ok,
                    pParent);
    box.exec();
}

bool AskYesNo(QWidget* pParent, const QString& text) {
    if (g_questionHook) return g_questionHook(pParent, text);
    QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(), text,
                    QMessageBox::Yes | QMessageBox::No, pParent);
    return box.exec() == QMessageBox::Yes;
}

QString ChooseFile(QWidget* pParent, EFileKind kind) {
    if (g_chooseFileHook) return g_chooseFileHook(kind);
    return ShowFileDialog(pParent, kind);
}

void RequestQuit(int exitCode) {
    if (g_quitHook) {
        g_quitHook(exitCode);
        return;
    }
    QCoreApplication::exit(exitCode);
}

MessageHook SetMessageHook(MessageHook hook) {
    return std::exchange(g_messageHook, std::move(hook));
}

QuitHook SetQuitHook(QuitHook hook) {
    return std::exchange(g_quitHook, std::move(hook));
}

QuestionHook SetQuestionHook(QuestionHook hook) {
    return std::exchange(g_questionHook, std::move(hook));
}

ChooseFileHook SetChooseFileHook(ChooseFileHook hook) {
    return std::exchange(g_chooseFileHook, std::move(hook));
}
