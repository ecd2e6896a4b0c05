// The typed part of a change is what differs between the text before and after it.
#include "program/TypingLimit.h"

#include <QLineEdit>
#include <algorithm>

CTypingLimit::CTypingLimit(QLineEdit* edit, int maxTyped)
    : QValidator(edit), m_nMaxTyped(maxTyped), m_szLast(edit->text()) {
    connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) { m_szLast = text; });
}

QValidator::State CTypingLimit::validate(QString& input, int&) const {
    if (m_bProgramText) return Acceptable;
    const qsizetype shorter = std::min(input.size(), m_szLast.size());
    qsizetype prefix = 0;
    while (prefix < shorter && input[prefix] == m_szLast[prefix]) ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix &&
           input[input.size() - 1 - suffix] == m_szLast[m_szLast.size() - 1 - suffix])
        ++suffix;
    const QStringView inserted = QStringView(input).mid(prefix, input.size() - prefix - suffix);
    if (inserted.isEmpty()) return Acceptable;  // only deleted
    for (const QChar c : inserted)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return Invalid;
    return input.size() <= m_nMaxTyped ? Acceptable : Invalid;
}

void InstallTypingLimit(QLineEdit* edit, int maxTyped) {
    edit->setMaxLength(32767);
    edit->setValidator(new CTypingLimit(edit, maxTyped));
}

void SetFieldText(QLineEdit* edit, const QString& text) {
    auto* limit = qobject_cast<CTypingLimit*>(const_cast<QValidator*>(edit->validator()));
    if (limit) limit->m_bProgramText = true;
    edit->setText(text);
    if (limit) limit->m_bProgramText = false;
}
