// "All Bauds" on the search's worker: every servo at every rate, or with "Single Node" a broadcast ping at
// each rate.
#include "app/NodeSearch.h"
#include "link/BusScanner.h"
#include "link/SerialScanLine.h"
#include "link/ServoUsb.h"

void CNodeSearch::StartRateScan(CUsb* transport, bool singleNode) {
    Begin(EState::ScanningRates, [this, transport, singleNode](std::stop_token token, unsigned generation) {
        RunRateScan(token, generation, transport, singleNode);
    });
}

void CNodeSearch::RunRateScan(const std::stop_token& token, unsigned generation, CUsb* transport,
                              bool singleNode) {
    using EKind = CReport::EKind;
    if (transport) {
        CSerialScanLine line(*transport);
        CBusScanner scanner(m_usb, line);
        CScanEvents events;
        events.rateBegins = [&](int baud, std::chrono::microseconds) {
            PostLog(generation, QStringLiteral("Pinging BAUD:%1...").arg(baud));
        };
        events.rateSkipped = [&](int baud) {
            PostLog(generation, QStringLiteral("BAUD:%1 not possible on this adapter").arg(baud));
        };
        events.found = [&](int id, int baud) {
            PostLog(generation, QStringLiteral("Found ID:%1 BAUD:%2").arg(id).arg(baud));
            PostNode(generation, EKind::RateNode, id, baud);
        };
        events.collision = [&](int id, int baud) {
            const QString text =
                id >= 0 ? SharedIdLog(id, baud) : QStringLiteral("BAUD:%1 answers collided").arg(baud);
            PostLog(generation, text);
        };
        events.stopRequested = [&token] { return token.stop_requested(); };
        if (singleNode)
            scanner.FindSingle(AllServoRates(), events);
        else
            scanner.Scan({}, events);
    }
    PostDone(generation);
}
