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

void CDialogBuilder::Place(QWidget* control, const CDluRect& place) const {
    control->setGeometry(m_units.Rect(place));
}

QGroupBox* CDialogBuilder::Group(const QString& title, const CDluRect& place) const {
    auto* group = new QGroupBox(title, m_pParent);
    Place(group, place);
    return group;
}

QLabel* CDialogBuilder::Label(const QString& text, const CDluRect& place) const {
    auto* label = new QLabel(text, m_pParent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Place(label, place);
    return label;
}

QPushButton* CDialogBuilder::Button(const QString& text, const CDluRect& place) const {
    auto* button = new QPushButton(text, m_pParent);
    button->setAutoDefault(false);
    button->setDefault(false);
    Place(button, place);
    return button;
}

QCheckBox* CDialogBuilder::Check(const QString& text, const CDluRect& place) const {
    auto* box = new QCheckBox(text, m_pParent);
    Place(box, place);
    return box;
}

QRadioButton* CDialogBuilder::Radio(const QString& text, const CDluRect& place) const {
    auto* radio = new QRadioButton(text, m_pParent);
    Place(radio, place);
    return radio;
}

QLineEdit* CDialogBuilder::Edit(int maxChars, bool digitsOnly, const CDluRect& place) const {
    auto* edit = new QLineEdit(m_pParent);
    edit->setMaxLength(maxChars);
    if (digitsOnly) {
        static const QRegularExpression digits(QStringLiteral("[0-9]*"));
        edit->setValidator(new QRegularExpressionValidator(digits, edit));
    }
    Place(edit, place);
    return edit;
}

QLineEdit* CDialogBuilder::ReadOnlyField(const CDluRect& place) const {
    auto* field = new QLineEdit(m_pParent);
    field->setReadOnly(true);
    Place(field, place);
    return field;
}

QPlainTextEdit* CDialogBuilder::LogPane(const CDluRect& place) const {
    auto* pane = new QPlainTextEdit(m_pParent);
    pane->setReadOnly(true);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane->setLineWrapMode(QPlainTextEdit::NoWrap);
    Place(pane, place);
    return pane;
}

QComboBox* CDialogBuilder::DropList(const CDluRect& place) const {
    auto* combo = new QComboBox(m_pParent);
    combo->setEditable(false);
    combo->setMaxVisibleItems(std::max(1, place.height / kDropListHeight));
    Place(combo, {place.x, place.y, place.width, kDropListHeight});
    return combo;
}

QSlider* CDialogBuilder::Slider(const CDluRect& place) const {
    auto* slider = new QSlider(Qt::Horizontal, m_pParent);
    slider->setTickPosition(QSlider::NoTicks);
    Place(slider, place);
    return slider;
}

QFrame* CDialogBuilder::WhiteFrame(const CDluRect& place) const {
    auto* frame = new QFrame(m_pParent);
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    frame->setAutoFillBackground(true);
    QPalette palette = frame->palette();
    palette.setColor(QPalette::Window, Qt::white);
    frame->setPalette(palette);
    Place(frame, place);
    return frame;
}
