// Dialog windows on which Enter and Escape do nothing, as every window of the tool behaves.
#pragma once

#include <QDialog>

// The accept and cancel actions are empty, the keys that would trigger them are swallowed, and the window
// uses the dialog font; closing needs a closeEvent override of its own.
class CInertDialog : public QDialog {
    Q_OBJECT
public:
    explicit CInertDialog(QWidget* pParent = nullptr, Qt::WindowFlags flags = {});

    void accept() override {}
    void reject() override {}

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// A dialog that lives as a child window inside another, such as a tab page.
class CDialogPage : public CInertDialog {
    Q_OBJECT
public:
    explicit CDialogPage(QWidget* pParent = nullptr);
};
