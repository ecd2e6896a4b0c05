// The shared window pieces: inert keys, controls made by the builder, the button-style tab control.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "tests/ui/GuiTest.h"
#include "ui/DialogBuilder.h"
#include "ui/InertDialog.h"
#include "ui/TabControl.h"

class WindowPiecesTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureApplication(); }
};

TEST_F(WindowPiecesTest, EnterAndEscapeNeitherCloseNorPressAButton) {
    CInertDialog dialog;
    const CDialogBuilder dlg(&dialog);
    QPushButton* button = dlg.Button(QStringLiteral("Go"), {10, 10, 40, 14});
    QSignalSpy clicks(button, &QPushButton::clicked);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    button->setFocus();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(button, key);
        QTest::keyClick(&dialog, key);
    }
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_EQ(clicks.count(), 0);
    // Space still presses the focused button: only the dialog's accept and cancel keys are inert.
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(WindowPiecesTest, PageLivesInsideItsParent) {
    QWidget host;
    CDialogPage page(&host);
    EXPECT_FALSE(page.isWindow());
    host.show();
    page.show();
    QTest::keyClick(&page, Qt::Key_Escape);
    EXPECT_TRUE(page.isVisible());
}

TEST_F(WindowPiecesTest, DigitEditTakesDigitsUpToItsLimit) {
    QWidget host;
    const CDialogBuilder dlg(&host);
    QLineEdit* digits = dlg.Edit(3, true, {0, 0, 30, 12});
    QLineEdit* any = dlg.Edit(3, false, {0, 20, 30, 12});
    QTest::keyClicks(digits, QStringLiteral("1a-2345"));
    QTest::keyClicks(any, QStringLiteral("-12345"));
    EXPECT_EQ(digits->text(), QStringLiteral("123"));
    EXPECT_EQ(any->text(), QStringLiteral("-12"));
}

TEST_F(WindowPiecesTest, TabsReportOnlyTheOperatorsChangeOfTab) {
    CTabControl tabs;
    tabs.InsertTab(0, QStringLiteral("ROBOT"));
    tabs.InsertTab(1, QStringLiteral("PROGRAM"));
    tabs.InsertTab(2, QStringLiteral("UPGRADE"));
    tabs.resize(600, 40);
    tabs.show();
    QSignalSpy changes(&tabs, &CTabControl::currentChanged);

    tabs.SelectTab(0);
    EXPECT_EQ(tabs.CurrentTab(), 0);
    EXPECT_EQ(changes.count(), 0);

    QTest::mouseClick(tabs.TabButton(2), Qt::LeftButton);
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.at(0).at(0).toInt(), 2);
    EXPECT_TRUE(tabs.TabButton(2)->isChecked());
    EXPECT_FALSE(tabs.TabButton(0)->isChecked());

    QTest::mouseClick(tabs.TabButton(2), Qt::LeftButton);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(tabs.CurrentTab(), 2);
}

TEST_F(WindowPiecesTest, TabsShareOneWidthInInsertionOrder) {
    CTabControl tabs;
    tabs.InsertTab(0, QStringLiteral("A"));
    tabs.InsertTab(1, QStringLiteral("A MUCH LONGER CAPTION"));
    tabs.InsertTab(0, QStringLiteral("FIRST"));
    ASSERT_EQ(tabs.TabCount(), 3);
    EXPECT_EQ(tabs.TabButton(0)->text(), QStringLiteral("FIRST"));
    EXPECT_EQ(tabs.TabButton(2)->text(), QStringLiteral("A MUCH LONGER CAPTION"));
    EXPECT_EQ(tabs.TabButton(0)->width(), tabs.TabButton(2)->width());
    EXPECT_EQ(tabs.TabButton(1)->x(), tabs.TabButton(0)->width());
}
