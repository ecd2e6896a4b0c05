// --tour in builds without the simulator, which the tour walks: refused.
#include "app/TourStart.h"

std::unique_ptr<QObject> StartTour(CVelmoraApp&, const QString&, QString* error) {
    *error = QStringLiteral("no demo tour in this build: it needs the simulated bus");
    return nullptr;
}
