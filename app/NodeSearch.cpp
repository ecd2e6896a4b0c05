// The node search: a sweep of IDs 0..253 on a worker thread, or one broadcast ping with "Single Node".
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTextCursor>
#include <algorithm>

#include "app/ServoMain.h"
#include "link/BusScanner.h"
#include "link/Packet.h"
#include "link/ServoCheck.h"
#include "link/ServoUsb.h"

QString CServoMain::SharedIdLog(int id, int baud) {
    return QStringLiteral("ID:%1 BAUD:%2 two or more servos answer").arg(id).arg(baud);
}

void CServoMain::SetSweepRange(int firstId, int lastId) {
    if (m_searchThread.joinable() && m_bSearching) return;
    m_nSweepFirst = std::clamp(firstId, 0, kLastSweptId);
    m_nSweepLast = std::clamp(lastId, m_nSweepFirst, kLastSweptId);
}

void CServoMain::OnSearch() {
    if (!m_bPortOpen) return;
    if (m_btnSearch->text() != QLatin1String("Search")) {
        m_bSearching = 0;  // the worker sees it before its next ID
        return;
    }
    m_btnSearch->setText(tr("Stop"));
    m_listNodes->setRowCount(0);
    if (m_checkAllBauds->isChecked()) {
        StartAllRateSearch();
        return;
    }
    if (m_checkSingleNode->isChecked()) {
        uint8_t answeringId = 0;
        CExchangeOutcome outcome;
        if (m_pUsb->Ping(BROADCAST_ID, &answeringId, &outcome)) {
            AppendLog(QStringLiteral("Pinging ID:BRCAST"));
            AddNode(answeringId, m_nBaud);
            // Several servos with that ID answer a ping as one; a read of their status spans tells them
            // apart.
            if (CheckFoundServo(*m_pUsb, answeringId, m_nBaud, outcome.error).sharing == EIdSharing::Shared)
                AppendLog(SharedIdLog(answeringId, m_nBaud));
        }
        m_btnSearch->setText(tr("Search"));
        return;
    }
    m_bSearching = 1;
    // The previous worker has already posted its last call; it is returning, if not gone.
    JoinSearchWorker();
    m_searchThread = std::thread(&CServoMain::SearchWorker, this);
}

void CServoMain::JoinSearchWorker() {
    if (m_searchThread.joinable()) m_searchThread.join();
}

int CServoMain::SearchWorker(CServoMain* pMain) {
    const CUsb* transport = pMain->Transport();
    for (int id = pMain->m_nSweepFirst; id <= pMain->m_nSweepLast; ++id) {
        if (!pMain->m_bSearching || !pMain->m_bPortOpen) break;
        // A lost port fails every ping at once: end now rather than race through the rest of the IDs.
        if (transport && transport->IsPortLost()) break;
        pMain->PostSearchReport(
            {CSearchReport::EKind::Log, QStringLiteral("Pinging ID:%1 SERVO...").arg(id)});
        // The answer byte for byte, as this exchange's own: at 1000000 baud two servos with one ID already
        // collide on the ping; below, their answers overlap cleanly and only a read of their status spans,
        // which differ, tells them apart.
        CRawAnswer answer;
        const uint8_t pinged = static_cast<uint8_t>(id);
        pMain->m_pUsb->PingRaw(pinged, std::chrono::microseconds{0}, &answer);
        const EAnswerKind kind = JudgeAnswer(answer.bytes, answer.got, pinged);
        if (kind != EAnswerKind::Clean && kind != EAnswerKind::Collided) continue;
        const int baud = pMain->m_nBaud;
        pMain->PostSearchReport({CSearchReport::EKind::Node, {}, id, baud});
        if (kind == EAnswerKind::Collided ||
            CheckFoundServo(*pMain->m_pUsb, pinged, baud, answer.bytes[4]).sharing == EIdSharing::Shared)
            pMain->PostSearchReport({CSearchReport::EKind::Log, SharedIdLog(id, baud)});
    }
    pMain->PostSearchReport({CSearchReport::EKind::Done, {}});
    return 0;
}

void CServoMain::PostSearchReport(CSearchReport report) {
    m_searchReports.Post(std::move(report));
}

void CServoMain::TakeSearchReports() {
    for (const CSearchReport& report : m_searchReports.Take()) {
        switch (report.kind) {
            case CSearchReport::EKind::Log:
                AppendLog(report.text);
                break;
            case CSearchReport::EKind::Node:
                AddNode(report.id, report.baud);
                break;
            case CSearchReport::EKind::Done:
                m_btnSearch->setText(tr("Search"));
                break;
            case CSearchReport::EKind::RateNode:
                AddRateNode(report.id, report.baud);
                break;
            case CSearchReport::EKind::AllRatesDone:
                HoldLinkForScan(false);
                m_btnSearch->setText(tr("Search"));
                break;
        }
    }
}

void CServoMain::AddNode(int id, int baud) {
    const QString idText = QString::number(id);
    const QString baudText = QString::number(baud);
    for (int row = 0; row < m_listNodes->rowCount(); ++row) {
        QTableWidgetItem* idItem = m_listNodes->item(row, 0);
        if (idItem && idItem->text() == idText) {
            m_listNodes->item(row, 1)->setText(baudText);
            return;
        }
    }
    const int row = m_listNodes->rowCount();
    m_listNodes->insertRow(row);
    m_listNodes->setItem(row, 0, new QTableWidgetItem(idText));
    m_listNodes->setItem(row, 1, new QTableWidgetItem(baudText));
    FeedServosWindow();
}

void CServoMain::AppendLog(const QString& message) {
    QTextCursor cursor = m_editLog->textCursor();
    cursor.movePosition(QTextCursor::End);
    if (!m_editLog->document()->isEmpty()) cursor.insertText(QStringLiteral("\n"));
    cursor.insertText(message);
    m_editLog->setTextCursor(cursor);
    m_editLog->ensureCursorVisible();
}

void CServoMain::OnClear() {
    m_editLog->clear();
    m_listNodes->setRowCount(0);
    FeedServosWindow();
}
