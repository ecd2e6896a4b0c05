// The node search's worker: the sweep of IDs at the port's rate, or the scan of every rate ("All Bauds"),
// reported to the GUI thread as signals.
#pragma once

#include <QObject>
#include <QString>

#include "link/Worker.h"
#include "ui/GuiHandOff.h"

class CServoUsb;
class CUsb;

// Thread rules: every public method is for the GUI thread, and the signals are emitted there. The worker
// only posts; a report of a run stopped since (Stop) is dropped.
class CNodeSearch : public QObject {
    Q_OBJECT
public:
    enum class EState { Idle, Sweeping, ScanningRates };

    CNodeSearch(CServoUsb& usb, QObject* parent);
    // Stops a running search and waits for its worker.
    ~CNodeSearch() override;

    // The IDs a sweep pings, 0 to 253 unless narrowed; ignored while a search runs.
    void SetRange(int firstId, int lastId);
    static constexpr int kLastSweptId = 253;
    // Pings every ID of the range on the worker, at the port's rate baud.
    void StartSweep(CUsb* transport, int baud);
    // Scans every rate for every servo; with singleNode a broadcast ping at each rate instead.
    void StartRateScan(CUsb* transport, bool singleNode);
    // Asks the worker to end before its next ping; `finished` follows once it has.
    void RequestStop();
    // Ends a search and waits for its worker (within one link timeout); emits `finished` at once when one
    // ran, and nothing of that run after.
    void Stop();
    EState State() const { return m_state; }
    // A search runs and was not asked to stop.
    bool IsSearching() const { return m_state != EState::Idle && !m_bStopAsked; }

    // The log's line for an ID that several servos answer to, from either search.
    static QString SharedIdLog(int id, int baud);

signals:
    void logLine(const QString& text);
    // A servo answered at the port's rate (sweep) or at a rate of the scan.
    void nodeFound(int id, int baud);
    void rateNodeFound(int id, int baud);
    // The search is over; `ended` says which one it was.
    void finished(CNodeSearch::EState ended);

private:
    struct CReport {
        enum class EKind { Log, Node, RateNode, Done };
        EKind kind = EKind::Log;
        QString text;
        int id = 0;
        int baud = 0;
        unsigned generation = 0;
    };
    void Begin(EState state, CWorker::Job job);
    // Worker side of either search.
    void RunSweep(const std::stop_token& token, unsigned generation, CUsb* transport, int baud);
    void RunRateScan(const std::stop_token& token, unsigned generation, CUsb* transport, bool singleNode);
    void PostLog(unsigned generation, const QString& text);
    void PostNode(unsigned generation, CReport::EKind kind, int id, int baud);
    void PostDone(unsigned generation);
    // GUI side: carries out the queued reports in order.
    Q_INVOKABLE void TakeReports();
    void End();

    CServoUsb& m_usb;
    EState m_state = EState::Idle;
    bool m_bStopAsked = false;
    int m_nFirst = 0;
    int m_nLast = kLastSweptId;
    CWorker m_worker;
    CGuiHandOff<CReport> m_reports{this, HAND_OFF_METHOD(CNodeSearch, TakeReports)};
};
