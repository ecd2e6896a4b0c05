// Creates the controls of a dialog at their dialog-unit rectangles, with the behaviour every window shares.
#pragma once

#include <QString>

#include "ui/DialogUnits.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QWidget;

// Controls are created in the order of the calls, so a group box made before its contents stays below them.
class CDialogBuilder {
public:
    // Units from the parent's font.
    explicit CDialogBuilder(QWidget* pParent);
    CDialogBuilder(QWidget* pParent, const CDialogUnits& units);

    const CDialogUnits& Units() const { return m_units; }
    void Place(QWidget* control, const CDluRect& place) const;

    QGroupBox* Group(const QString& title, const CDluRect& place) const;
    QLabel* Label(const QString& text, const CDluRect& place) const;
    // Never a default button: Enter must not press it.
    QPushButton* Button(const QString& text, const CDluRect& place) const;
    QCheckBox* Check(const QString& text, const CDluRect& place) const;
    QRadioButton* Radio(const QString& text, const CDluRect& place) const;
    // Single-line edit taking at most maxChars typed characters, digits only when asked.
    QLineEdit* Edit(int maxChars, bool digitsOnly, const CDluRect& place) const;
    // Read-only single-line field.
    QLineEdit* ReadOnlyField(const CDluRect& place) const;
    // Read-only multi-line pane without scroll bars; it still scrolls to its caret.
    QPlainTextEdit* LogPane(const CDluRect& place) const;
    // Drop-down list without typing; the height given is the opened list's, the closed box is one line.
    QComboBox* DropList(const CDluRect& place) const;
    QSlider* Slider(const CDluRect& place) const;
    // Plain frame with a white face, for pictures and plots drawn later.
    QFrame* WhiteFrame(const CDluRect& place) const;

private:
    QWidget* m_pParent;
    CDialogUnits m_units;
};
