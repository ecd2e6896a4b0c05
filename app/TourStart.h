// --tour: the demo tour where the build has one (it walks the simulated bus); builds without the simulator
// carry a stand-in that refuses. The tour's own code lives in tour/, above this folder; CMake links the
// program's main against one of the two.
//
// Thread rules: GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

class CVelmoraApp;

// Starts the tour over the application's windows; the event loop exits with its code when it ends. Null
// with the reason in *error when it cannot start.
std::unique_ptr<QObject> StartTour(CVelmoraApp& app, const QString& dir, QString* error);
