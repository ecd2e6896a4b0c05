// The application on a simulated bus with its Servos window open over the servos a search found.
#pragma once

#include <QElapsedTimer>
#include <QTableWidget>

#include "debug/RobotDlg.h"
#include "link/ControlTable.h"
#include "servos/ServosWindow.h"
#include "tests/app/AppFixture.h"

class ServosFixture : public AppFixture {
protected:
    // Servos with these specs; a search of IDs 0..9 at 1000000 baud, then Ctrl+L's window over what it found.
    void StartRobot(const std::vector<sim::CSimServoSpec>& servos) {
        ASSERT_NO_FATAL_FAILURE(StartAppWithServos(servos));
        ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
        Main()->SetSweepRange(0, 9);
        Click(Child<QPushButton>(Main(), "search"));
        ASSERT_TRUE(WaitForSweepEnd());
        Main()->activateWindow();
        QTest::keyClick(Main(), Qt::Key_L, Qt::ControlModifier);
        if (!Window()) Main()->ShowServosWindow();  // without a window manager nothing may be active
        ASSERT_NE(Window(), nullptr);
        ASSERT_TRUE(WaitUntil([this] { return Window()->IsPolling(); }));
    }
    static std::vector<sim::CSimServoSpec> Servos(std::initializer_list<uint8_t> ids) {
        std::vector<sim::CSimServoSpec> specs;
        for (uint8_t id : ids) specs.push_back(sim::DefaultServo(id));
        return specs;
    }

    CServosWindow* Window() const { return Main()->ServosWindow(); }
    QTableWidget* Table() const { return Window()->Table(); }
    QString Cell(int row, int column) const { return Table()->item(row, column)->text(); }
    // The row of an ID in the table.
    int Row(uint8_t id) const {
        const auto& rows = Window()->Roster().Rows();
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (rows[i].id == id) return static_cast<int>(i);
        return -1;
    }
    // Until every polled servo has a reading, then shown in the table.
    bool WaitForReadings() {
        const bool read = WaitUntil([this] {
            for (const CRosterRow& row : Window()->Roster().Rows())
                if (row.polled && !row.answered) return false;
            return true;
        });
        Window()->Refresh();
        return read;
    }
    // Status reads answered per servo over the time, per second, from the poll's own count.
    std::vector<double> RatesOver(const std::vector<uint8_t>& ids, int ms) {
        std::vector<uint64_t> before;
        for (uint8_t id : ids) before.push_back(Window()->Poller().Answered(id));
        QElapsedTimer timer;
        timer.start();
        SpinEvents(ms);
        std::vector<double> rates;
        for (std::size_t k = 0; k < ids.size(); ++k)
            rates.push_back((Window()->Poller().Answered(ids[k]) - before[k]) * 1000.0 /
                            static_cast<double>(timer.elapsed()));
        return rates;
    }
    // The frames heard since the last call, the poll's own reads left out.
    std::vector<std::vector<uint8_t>> HeardBesideThePoll() {
        std::vector<std::vector<uint8_t>> frames;
        for (const auto& frame : m_sim->Frames()) {
            const auto& b = frame.bytes;
            const bool pollRead =
                b[4] == 0x02 && ((b[5] == Reg::STATUS_SPAN_START && b[6] == Reg::STATUS_SPAN_LENGTH) ||
                                 (b[5] == Reg::RETURN_DELAY && b[6] == 25));
            if (!pollRead) frames.push_back(b);
        }
        m_sim->ClearFrames();
        return frames;
    }
};
