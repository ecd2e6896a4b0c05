// The program's --tour: the demo tour, ending the event loop with its exit code.
#include "app/TourStart.h"

#include <QCoreApplication>

#include "tour/DemoTour.h"

std::unique_ptr<QObject> StartTour(CVelmoraApp& app, const QString& dir, QString* error) {
    auto tour = std::make_unique<CDemoTour>(app, dir);
    QObject::connect(tour.get(), &CDemoTour::finished, &QCoreApplication::exit);
    if (!tour->Start()) {
        *error = tour->Error();
        return nullptr;
    }
    return tour;
}
