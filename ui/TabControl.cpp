// Tabs drawn as exclusive checkable buttons, all as wide as the widest caption needs.
#include "ui/TabControl.h"

#include <QButtonGroup>
#include <QPushButton>
#include <algorithm>

CTabControl::CTabControl(QWidget* pParent) : QWidget(pParent), m_group(new QButtonGroup(this)) {
    m_group->setExclusive(true);
    connect(m_group, &QButtonGroup::idClicked, this, &CTabControl::OnTabClicked);
}

void CTabControl::InsertTab(int index, const QString& text) {
    const int count = TabCount();
    index = std::clamp(index, 0, count);
    // Ids are tab indices: shift those at and after the insertion point.
    for (int i = count - 1; i >= index; --i) m_group->setId(m_group->button(i), i + 1);
    auto* button = new QPushButton(text, this);
    button->setCheckable(true);
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::TabFocus);
    m_group->addButton(button, index);
    if (m_nCurrent >= index) ++m_nCurrent;
    ArrangeTabs();
    button->show();
}

int CTabControl::TabCount() const {
    return static_cast<int>(m_group->buttons().size());
}

QAbstractButton* CTabControl::TabButton(int index) const {
    return m_group->button(index);
}

void CTabControl::SelectTab(int index) {
    QAbstractButton* button = m_group->button(index);
    if (!button) return;
    button->setChecked(true);
    m_nCurrent = index;
}

int CTabControl::TabRowHeight() const {
    int height = 0;
    for (QAbstractButton* button : m_group->buttons()) height = std::max(height, button->sizeHint().height());
    return height;
}

void CTabControl::OnTabClicked(int index) {
    if (index == m_nCurrent) return;
    m_nCurrent = index;
    emit currentChanged(index);
}

void CTabControl::ArrangeTabs() {
    int width = 0;
    for (QAbstractButton* button : m_group->buttons()) width = std::max(width, button->sizeHint().width());
    const int height = TabRowHeight();
    for (int i = 0; i < TabCount(); ++i) m_group->button(i)->setGeometry(i * width, 0, width, height);
}
