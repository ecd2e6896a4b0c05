// Key handling shared by all dialogs: Enter, Return and Escape stop here instead of reaching QDialog.
#include "ui/InertDialog.h"

#include <QKeyEvent>

#include "ui/DialogUnits.h"

CInertDialog::CInertDialog(QWidget* pParent, Qt::WindowFlags flags) : QDialog(pParent, flags) {
    setFont(DialogFont());
}

void CInertDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

CDialogPage::CDialogPage(QWidget* pParent) : CInertDialog(pParent) {
    // QDialog makes itself a top-level window; a page is embedded in its tab control instead.
    setWindowFlags(Qt::Widget);
}
