// The real file dialog for each kind of file: filter, caption, open or save, and the suffix a name gets.
#pragma once

#include <QString>

#include "ui/OperatorHooks.h"

class QWidget;

// Runs the kind's modal dialog over pParent; the chosen path, or empty when cancelled. GUI thread only.
// Callers go through ChooseFile, which tests can answer instead.
QString ShowFileDialog(QWidget* pParent, EFileKind kind);
