// The Servos window's commands to the whole robot: hold every servo where it is, all torque off, one
// servo's torque. Each runs on the GUI thread; every exchange waits for one poll read at most.
#include <QPushButton>

#include "servos/ServosWindow.h"
#include "ui/OperatorHooks.h"

void CServosWindow::HoldAll() {
    if (!m_bPortOpen || m_bPortLost || m_nHolders != 0 || IsRecording()) return;
    const std::vector<uint8_t> ids = m_roster.PolledIds();
    const std::vector<uint8_t> held = HoldWhereTheyAre(m_usb, ids);
    if (held.size() == ids.size())
        ShowTeach(tr("Held where they are: %1").arg(QString::fromStdString(IdListText(held))));
    else
        ShowTeach(tr("Held %1 of %2 servos; the others did not answer").arg(held.size()).arg(ids.size()));
}

void CServosWindow::OnEscape() {
    if (IsPlaying())
        StopPlaying();
    else
        HoldAll();
}

void CServosWindow::AllTorqueOff() {
    if (!m_bPortOpen || m_bPortLost || m_nHolders != 0) return;
    // A playback would put the next row's goals out, and may be about to switch torque on: it ends first.
    StopPlaying();
    const std::vector<CServoAtRate> servos = m_roster.Servos();
    const std::vector<std::optional<bool>> readBack = ::AllTorqueOff(m_usb, servos, m_nBaud);
    QStringList still, silent;
    for (std::size_t k = 0; k < servos.size(); ++k) {
        m_roster.SetTorque(servos[k].id, readBack[k]);
        if (!readBack[k])
            silent << QString::number(servos[k].id);
        else if (*readBack[k])
            still << QString::number(servos[k].id);
    }
    QString text = tr("All torque off sent");
    if (!still.isEmpty()) text += tr("; torque still on: %1").arg(still.join(QStringLiteral(", ")));
    if (!silent.isEmpty()) text += tr("; no read-back from %1").arg(silent.join(QStringLiteral(", ")));
    ShowTeach(text);
    Refresh();
}

void CServosWindow::SetTorque(uint8_t id, bool on) {
    const CRosterRow* row = m_roster.Find(id);
    if (!row || !row->polled || !m_bPortOpen || m_bPortLost || m_nHolders != 0) {
        Refresh();  // the box goes back to what the servo said last
        return;
    }
    std::string problem;
    const bool done = on ? TorqueOnWhereItIs(m_usb, id, &problem) : WriteTorque(m_usb, id, false);
    if (!done && problem.empty()) problem = "ID " + std::to_string(id) + " did not take torque off";
    m_roster.SetTorque(id, ReadTorque(m_usb, id));
    if (!done) ShowTeach(QString::fromStdString(problem));
    Refresh();
}
