// Control defaults chosen to match classic dialog controls: left-aligned labels, no default buttons.
#include "ui/DialogBuilder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <algorithm>

namespace {

// Height of a closed drop-down list in dialog units: one line of text with its frame.
constexpr int kDropListHeight = 12;

}  // namespace

CDialogBuilder::CDialogBuilder(QWidget* pParent) : m_pParent(pParent), m_units(pParent->font()) {}

CDialogBuilder::CDialogBuilder(QWidget* pParent, const CDialogUnits& units)
    : m_pParent(pParent), m_units(units) {}

void CDialogBuilder::Place(QWidget* control, int x, int y, int width, int height) const {
    control->setGeometry(m_units.Rect(x, y, width, height));
}

QGroupBox* CDialogBuilder::Group(const QString& title, int x, int y, int width, int height) const {
    auto* group = new QGroupBox(title, m_pParent);
    Place(group, x, y, width, height);
    return group;
}

QLabel* CDialogBuilder::Label(const QString& text, int x, int y, int width, int height) const {
    auto* label = new QLabel(text, m_pParent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Place(label, x, y, width, height);
    return label;
}

QPushButton* CDialogBuilder::Button(const QString& text, int x, int y, int width, int height) const {
    auto* button = new QPushButton(text, m_pParent);
    button->setAutoDefault(false);
    button->setDefault(false);
    Place(button, x, y, width, height);
    return button;
}

QCheckBox* CDialogBuilder::Check(const QString& text, int x, int y, int width, int height) const {
    auto* box = new QCheckBox(text, m_pParent);
    Place(box, x, y, width, height);
    return box;
}

QRadioButton* CDialogBuilder::Radio(const QString& text, int x, int y, int width, int height) const {
    auto* radio = new QRadioButton(text, m_pParent);
    Place(radio, x, y, width, height);
    return radio;
}

QLineEdit* CDialogBuilder::Edit(int maxChars, bool digitsOnly, int x, int y, int width, int height) const {
    auto* edit = new QLineEdit(m_pParent);
    edit->setMaxLength(maxChars);
    if (digitsOnly) {
        static const QRegularExpression digits(QStringLiteral("[0-9]*"));
        edit->setValidator(new QRegularExpressionValidator(digits, edit));
    }
    Place(edit, x, y, width, height);
    return edit;
}

QLineEdit* CDialogBuilder::ReadOnlyField(int x, int y, int width, int height) const {
    auto* field = new QLineEdit(m_pParent);
    field->setReadOnly(true);
    Place(field, x, y, width, height);
    return field;
}

QPlainTextEdit* CDialogBuilder::LogPane(int x, int y, int width, int height) const {
    auto* pane = new QPlainTextEdit(m_pParent);
    pane->setReadOnly(true);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane->setLineWrapMode(QPlainTextEdit::NoWrap);
    Place(pane, x, y, width, height);
    return pane;
}

QComboBox* CDialogBuilder::DropList(int x, int y, int width, int height) const {
    auto* combo = new QComboBox(m_pParent);
    combo->setEditable(false);
    combo->setMaxVisibleItems(std::max(1, height / kDropListHeight));
    Place(combo, x, y, width, kDropListHeight);
    return combo;
}

QSlider* CDialogBuilder::Slider(int x, int y, int width, int height) const {
    auto* slider = new QSlider(Qt::Horizontal, m_pParent);
    slider->setTickPosition(QSlider::NoTicks);
    Place(slider, x, y, width, height);
    return slider;
}

QFrame* CDialogBuilder::WhiteFrame(int x, int y, int width, int height) const {
    auto* frame = new QFrame(m_pParent);
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    frame->setAutoFillBackground(true);
    QPalette palette = frame->palette();
    palette.setColor(QPalette::Window, Qt::white);
    frame->setPalette(palette);
    Place(frame, x, y, width, height);
    return frame;
}
