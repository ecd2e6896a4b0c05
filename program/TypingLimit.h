// Numeric edit fields that restrain only what the operator types, never what the page fills in.
#pragma once

#include <QString>
#include <QValidator>

class QLineEdit;

// Typed input may be digits only, up to a number of characters. Text the page sets is taken whole (a
// negative or longer value read from a servo), and deleting is always allowed, so such a value stays
// editable. Install with InstallTypingLimit; set texts with SetFieldText.
class CTypingLimit : public QValidator {
    Q_OBJECT
public:
    CTypingLimit(QLineEdit* edit, int maxTyped);

    State validate(QString& input, int& pos) const override;

    int MaxTyped() const { return m_nMaxTyped; }

private:
    friend void SetFieldText(QLineEdit* edit, const QString& text);

    int m_nMaxTyped;
    QString m_szLast;  // the field's text before the change being validated
    bool m_bProgramText = false;
};

// Gives the field a typing limit of maxTyped digits in place of its length limit.
void InstallTypingLimit(QLineEdit* edit, int maxTyped);
// Sets the field's text whole, whatever its typing limit.
void SetFieldText(QLineEdit* edit, const QString& text);
