// The search's start, stop and hand-over of the worker's reports; the sweep at the port's rate.
#include "app/NodeSearch.h"

#include <algorithm>
#include <utility>

#include "link/IdSweep.h"
#include "link/ServoUsb.h"

CNodeSearch::CNodeSearch(CServoUsb& usb, QObject* parent) : QObject(parent), m_usb(usb) {}

CNodeSearch::~CNodeSearch() {
    m_worker.Stop();
}

QString CNodeSearch::SharedIdLog(int id, int baud) {
    return QStringLiteral("ID:%1 BAUD:%2 two or more servos answer").arg(id).arg(baud);
}

void CNodeSearch::SetRange(int firstId, int lastId) {
    if (m_state != EState::Idle) return;
    m_nFirst = std::clamp(firstId, 0, kLastSweptId);
    m_nLast = std::clamp(lastId, m_nFirst, kLastSweptId);
}

void CNodeSearch::StartSweep(CUsb* transport, int baud) {
    Begin(EState::Sweeping, [this, transport, baud](std::stop_token token, unsigned generation) {
        RunSweep(token, generation, transport, baud);
    });
}

void CNodeSearch::Begin(EState state, CWorker::Job job) {
    m_state = state;
    m_bStopAsked = false;
    // The previous worker has already posted its last report; it is returning, if not gone.
    m_worker.Join();
    if (m_worker.Start(std::move(job)) == 0) End();
}

void CNodeSearch::RequestStop() {
    if (m_state == EState::Idle) return;
    m_bStopAsked = true;
    m_worker.RequestStop();
}

void CNodeSearch::Stop() {
    m_bStopAsked = true;
    m_worker.Stop();
    m_reports.Clear();
    if (m_state != EState::Idle) End();
}

void CNodeSearch::End() {
    const EState ended = m_state;
    m_state = EState::Idle;
    m_bStopAsked = false;
    emit finished(ended);
}

void CNodeSearch::RunSweep(const std::stop_token& token, unsigned generation, CUsb* transport, int baud) {
    using EKind = CReport::EKind;
    CIdSweepEvents events;
    // A lost port fails every ping at once: end now rather than race through the rest of the IDs.
    events.stopRequested = [&] { return token.stop_requested() || (transport && transport->IsPortLost()); };
    events.pinging = [&](int id) { PostLog(generation, QStringLiteral("Pinging ID:%1 SERVO...").arg(id)); };
    events.answered = [&](int id) { PostNode(generation, EKind::Node, id, baud); };
    events.shared = [&](int id) { PostLog(generation, SharedIdLog(id, baud)); };
    SweepIds(m_usb, m_nFirst, m_nLast, baud, events);
    PostDone(generation);
}

void CNodeSearch::PostLog(unsigned generation, const QString& text) {
    m_reports.Post({CReport::EKind::Log, text, 0, 0, generation});
}

void CNodeSearch::PostNode(unsigned generation, CReport::EKind kind, int id, int baud) {
    m_reports.Post({kind, {}, id, baud, generation});
}

void CNodeSearch::PostDone(unsigned generation) {
    m_reports.Post({CReport::EKind::Done, {}, 0, 0, generation});
}

void CNodeSearch::TakeReports() {
    for (const CReport& report : m_reports.Take()) {
        if (!m_worker.IsCurrent(report.generation)) continue;
        switch (report.kind) {
            case CReport::EKind::Log:
                emit logLine(report.text);
                break;
            case CReport::EKind::Node:
                emit nodeFound(report.id, report.baud);
                break;
            case CReport::EKind::RateNode:
                emit rateNodeFound(report.id, report.baud);
                break;
            case CReport::EKind::Done:
                m_worker.Join();  // it posted this as its last act
                End();
                break;
        }
    }
}
