#pragma once

// The operator's whole road through the main window against a simulated
// collector: record the collector by scanning it, record and select an
// equipment, download a layout, run the points and process the run.

#include "sim/collectorsim.h"

#include <QString>

class MainWindow;

namespace testkit {

struct Road
{
    QString equipment = QStringLiteral("Climatic chamber");
    int points = 2;       // 20 ℃ / 40 %RH, then 40 ℃ / 80 %RH
    int rowsPerPoint = 2; // live rows before the point is stopped
    int waitMs = 8000;    // for each point's rows
};

// Empty when the road was walked to the end; otherwise where it stopped.
QString walkTheRoad(MainWindow &w, sim::CollectorSim &collector, const Road &road = Road());

} // namespace testkit
