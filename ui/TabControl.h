// A tab control whose tabs are buttons of one fixed width; the owner places and shows the page windows.
#pragma once

#include <QWidget>

class QButtonGroup;
class QAbstractButton;

class CTabControl : public QWidget {
    Q_OBJECT
public:
    explicit CTabControl(QWidget* pParent = nullptr);

    void InsertTab(int index, const QString& text);
    int TabCount() const;
    // Index of the selected tab, -1 before any is selected.
    int CurrentTab() const { return m_nCurrent; }
    // Selects without emitting currentChanged: only the operator's choice is a page change.
    void SelectTab(int index);
    QAbstractButton* TabButton(int index) const;
    // Height of the row of tab buttons in pixels.
    int TabRowHeight() const;

signals:
    // The operator picked another tab than the one selected.
    void currentChanged(int index);

private:
    void OnTabClicked(int index);
    void ArrangeTabs();

    QButtonGroup* m_group;
    int m_nCurrent = -1;
};
