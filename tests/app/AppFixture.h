// An application instance on a simulated bus, started as the program starts it, with messages recorded.
#pragma once

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <memory>
#include <vector>

#include "app/ServoMain.h"
#include "app/VelmoraApp.h"
#include "app/VelmoraDlg.h"
#include "link/BrennixUsb.h"
#include "link/ServoUsb.h"
#include "sim/BusSimulator.h"
#include "tests/ui/GuiTest.h"

// The link's own timeout: shorter ones made answers from the simulator miss their window on a loaded machine.
inline constexpr int kTestTimeoutMs = 50;
// A sweep of all IDs at the test timeout, with room for a loaded machine.
inline constexpr int kSweepWaitMs = 30000;

class AppFixture : public ::testing::Test {
protected:
    void SetUp() override { EnsureApplication(); }

    void TearDown() override {
        m_app.reset();
        m_sim.reset();
    }

    // The simulator serves the given IDs; the application is told its port as with --port.
    void StartApp(std::vector<uint8_t> ids) {
        m_sim = std::make_unique<sim::CBusSimulator>(std::move(ids));
        ASSERT_TRUE(m_sim->Start());
        CAppOptions options;
        options.szPortPath = m_sim->SlavePath();
        StartWithOptions(options);
    }

    // The simulator serves servos set up one by one.
    void StartAppWithServos(const std::vector<sim::CSimServoSpec>& servos) {
        m_sim = std::make_unique<sim::CBusSimulator>(servos, sim::CSimLineOptions{});
        ASSERT_TRUE(m_sim->Start());
        CAppOptions options;
        options.szPortPath = m_sim->SlavePath();
        StartWithOptions(options);
    }

    void StartWithOptions(const CAppOptions& options) {
        m_app = std::make_unique<CVelmoraApp>(options);
        ASSERT_TRUE(m_app->InitInstance());
        m_app->m_pTransport->SetTimeoutMs(kTestTimeoutMs);
    }

    CServoMain* Main() const { return m_app->m_pMainWnd.get(); }
    CVelmoraDlg* Splash() const { return m_app->m_pStartDlg.get(); }
    uint8_t* Image() const { return m_app->m_pUsb->Image(); }

    void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    void Enter() {
        Click(Child<QPushButton>(Splash(), "enter"));
        ASSERT_TRUE(Main()->isVisible());
    }

    void OpenAt(const QString& baud) {
        const int index = Child<QComboBox>(Main(), "portBaud")->findText(baud);
        ASSERT_GE(index, 0);
        Child<QComboBox>(Main(), "portBaud")->setCurrentIndex(index);
        Click(Child<QPushButton>(Main(), "portOpen"));
        ASSERT_EQ(Child<QPushButton>(Main(), "portOpen")->text(), QStringLiteral("Close"));
    }

    void EnterAndOpen() {
        ASSERT_NO_FATAL_FAILURE(Enter());
        ASSERT_NO_FATAL_FAILURE(OpenAt(QStringLiteral("1000000")));
    }

    QStringList LogLines() const {
        return PaneLines(Child<QPlainTextEdit>(Main(), "nodeLog")->toPlainText());
    }

    // The node list as "ID/Baud" texts, top to bottom.
    QStringList Nodes() const {
        QStringList rows;
        const QTableWidget* list = Child<QTableWidget>(Main(), "nodes");
        for (int row = 0; row < list->rowCount(); ++row)
            rows << list->item(row, 0)->text() + QLatin1Char('/') + list->item(row, 1)->text();
        return rows;
    }

    bool SweepRunning() const {
        return Child<QPushButton>(Main(), "search")->text() == QLatin1String("Stop");
    }
    bool WaitForSweepEnd(int timeoutMs = kSweepWaitMs) {
        return WaitUntil([this] { return !SweepRunning(); }, timeoutMs);
    }

    COperatorRecorder m_operator;
    std::unique_ptr<sim::CBusSimulator> m_sim;  // outlives the application, which holds its port
    std::unique_ptr<CVelmoraApp> m_app;
};
