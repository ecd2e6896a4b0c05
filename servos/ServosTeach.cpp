// Teaching by hand and playing back in the Servos window, and its files: recordings, plot data and picture.
#include <QBuffer>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include "link/MotionFile.h"
#include "servos/ServoPlot.h"
#include "servos/ServosWindow.h"
#include "ui/FileSaver.h"
#include "ui/OperatorHooks.h"

QString CServosWindow::ForeignRateProblem(const std::vector<uint8_t>& ids, const QString& what) const {
    for (uint8_t id : ids) {
        const CRosterRow* row = m_roster.Find(id);
        if (row && !row->polled)
            return tr("ID %1 answers at %2 baud, the port runs at %3: %4")
                .arg(id)
                .arg(row->baud)
                .arg(m_nBaud)
                .arg(what);
    }
    return {};
}

bool CServosWindow::StartRecording() {
    if (IsRecording() || IsPlaying() || !m_bPortOpen || m_bPortLost || m_nHolders != 0) return false;
    std::vector<uint8_t> ids;
    for (const CRosterRow& row : m_roster.Rows())
        if (row.chosen) ids.push_back(row.id);
    QString problem;
    if (ids.empty()) problem = tr("Choose the servos to record first");
    if (problem.isEmpty())
        problem = ForeignRateProblem(ids, tr("the servos of a recording share the port's rate"));
    for (uint8_t id : ids) {
        const CRosterRow* row = m_roster.Find(id);
        if (problem.isEmpty() && row->silent) problem = tr("ID %1 does not answer").arg(id);
    }
    if (!problem.isEmpty()) {
        ShowMessage(this, problem);
        return false;
    }
    const QString list = QString::fromStdString(IdListText(ids));
    if (!AskYesNo(this, tr("Torque goes off on %1: support the joints.\nRecord?").arg(list))) return false;
    m_recording = {ids, {}};
    m_recordIds = ids;
    const auto period = std::chrono::milliseconds(m_spinPeriod->value());
    m_recorder.Start([this, ids, period](std::stop_token token, unsigned) {
        CReport end;
        end.kind = CReport::EKind::RecordEnded;
        std::string problem;
        if (!TorqueOffEach(m_usb, ids, &problem)) {
            end.text = problem + "; nothing recorded";
        } else {
            end.tally = RecordMotion(
                m_usb, ids, period, std::nullopt, [&token] { return token.stop_requested(); },
                [this](const CMotionRow& row) {
                    CReport report;
                    report.kind = CReport::EKind::RecordRow;
                    report.row = row;
                    Post(std::move(report));
                    return true;
                });
        }
        Post(std::move(end));
    });
    ShowTeach(tr("Recording %1: torque is off, move the joints by hand").arg(list));
    UpdateButtons();
    return true;
}

void CServosWindow::StopRecording() {
    if (!m_recorder.IsRunning()) return;
    m_recorder.Stop();
    // Its last rows and its end are still in the hand-off: take them now, in order.
    TakeReports();
    UpdateButtons();
}

void CServosWindow::FinishRecording(const CTeachTally& tally) {
    const auto& rows = m_recording.rows;
    const double seconds = rows.empty() ? 0.0 : (rows.back().timeMs - rows.front().timeMs) / 1000.0;
    QString text = tr("Recorded %1 rows, %2 s").arg(rows.size()).arg(seconds, 0, 'f', 1);
    if (tally.missed > 0) text += tr(", %1 ticks without an answer").arg(tally.missed);
    if (tally.portLost) text += tr("; the port went away");
    text += tr("; torque stays off on %1").arg(QString::fromStdString(IdListText(m_recordIds)));
    ShowTeach(text);
}

bool CServosWindow::StartPlaying() {
    if (IsRecording() || IsPlaying() || !m_bPortOpen || m_bPortLost || m_nHolders != 0) return false;
    QString problem;
    if (m_recording.rows.empty()) problem = tr("Record or open a motion first");
    if (problem.isEmpty())
        problem = ForeignRateProblem(m_recording.ids, tr("a recording plays at the port's rate"));
    if (!problem.isEmpty()) {
        ShowMessage(this, problem);
        return false;
    }
    CPlayOptions options;
    options.speed = m_comboSpeed->currentData().toDouble();
    options.loops = m_spinLoops->value();
    m_player.Start([this, recording = m_recording, options](std::stop_token token, unsigned) {
        CPlayEvents events;
        events.stop = [&token] { return token.stop_requested(); };
        events.note = [this](const std::string& line) {
            CReport report;
            report.kind = CReport::EKind::PlayNote;
            report.text = line;
            Post(std::move(report));
        };
        CReport end;
        end.kind = CReport::EKind::PlayEnded;
        end.play = PlayMotion(m_usb, recording, options, events);
        Post(std::move(end));
    });
    ShowTeach(tr("Playing %1 rows of %2")
                  .arg(m_recording.rows.size())
                  .arg(QString::fromStdString(IdListText(m_recording.ids))));
    UpdateButtons();
    return true;
}

void CServosWindow::StopPlaying() {
    if (!m_player.IsRunning()) return;
    m_player.Stop();
    TakeReports();
    UpdateButtons();
}

void CServosWindow::FinishPlaying(const CPlayResult& result) {
    switch (result.end) {
        case EPlayEnd::Finished:
            ShowTeach(tr("Played %1 rows").arg(result.rowsSent));
            break;
        case EPlayEnd::Stopped:
            ShowTeach(
                tr("Stopped after %1 rows: the servos hold where they are, torque on").arg(result.rowsSent));
            break;
        case EPlayEnd::Refused:
            ShowTeach(tr("Not played: %1; nothing was written").arg(QString::fromStdString(result.message)));
            break;
        case EPlayEnd::Failed:
            ShowTeach(tr("Playback failed after %1 rows: %2")
                          .arg(result.rowsSent)
                          .arg(QString::fromStdString(result.message)));
            break;
    }
}

void CServosWindow::ShowTeach(const QString& text) {
    m_szTeach = text;
    m_labelTeach->setText(text);
}

QString CServosWindow::TeachText() const {
    return m_szTeach;
}

void CServosWindow::Choose(EFileKind kind) {
    const QString path = ChooseFile(this, kind);
    if (path.isEmpty()) return;
    switch (kind) {
        case EFileKind::ServosData:
            SaveData(path);
            break;
        case EFileKind::ServosPicture:
            SavePicture(path);
            break;
        case EFileKind::RecordingSave:
            SaveRecording(path);
            break;
        case EFileKind::RecordingOpen:
            OpenRecording(path);
            break;
        default:  // the other kinds belong to other windows
            break;
    }
}

bool CServosWindow::SaveData(const QString& path) {
    // Formatted here, so the file holds what was read when the operator asked.
    auto text = std::make_shared<std::string>(m_roster.DataCsv());
    return m_pSaver->Save(path, [text] { return *text; });
}

bool CServosWindow::SavePicture(const QString& path) {
    const QImage picture = m_pPlot->grab().toImage();
    return m_pSaver->Save(path, [picture] {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "PNG");
        return png.toStdString();
    });
}

bool CServosWindow::SaveRecording(const QString& path) {
    if (m_recording.rows.empty()) {
        ShowMessage(this, tr("No motion recorded yet"));
        return false;
    }
    auto text = std::make_shared<std::string>(MotionText(m_recording));
    return m_pSaver->Save(path, [text] { return *text; });
}

QString CServosWindow::OpenRecording(const QString& path) {
    std::string problem;
    const auto recording = ReadMotionFile(QFile::encodeName(path).toStdString(), &problem);
    if (!recording) {
        const QString why = QString::fromStdString(problem);
        ShowMessage(this, why);
        return why;
    }
    m_recording = *recording;
    const auto& rows = m_recording.rows;
    ShowTeach(tr("Opened %1 rows of %2, %3 s")
                  .arg(rows.size())
                  .arg(QString::fromStdString(IdListText(m_recording.ids)))
                  .arg((rows.back().timeMs - rows.front().timeMs) / 1000.0, 0, 'f', 1));
    return {};
}
