#pragma once

// The operator's whole road through the main window against a simulated
// collector: record the collector by scanning it, record and select an
// equipment, download a layout, run the points and process the run.

#include "sim/collectorsim.h"

#include <QString>
#include <functional>

class MainWindow;
class shoudata;

namespace testkit {

struct Road
{
    // A second collector, recorded, given its layout as device two and run
    // beside the first.
    sim::CollectorSim *second = nullptr;
    QString equipment = QStringLiteral("Climatic chamber");
    int points = 2;       // 20 ℃ / 40 %RH, then 40 ℃ / 80 %RH
    int rowsPerPoint = 2; // live rows before the point is stopped
    int waitMs = 8000;    // for each point's rows
    // The equipment's working space (1 × 0.8 × 1.2 m) with the method's nine
    // locations, an M702 with a thermometer at each and the two humidity
    // transmitters at O and A.
    bool nineLocations = false;
    int settleMinutes = 0; // the run page's settling time
    // The collector's certificate (accuracy, resolution, U, stability) and
    // the equipment's set-value resolution, as a certificate needs them.
    bool standardsData = false;
    // Called while the last point runs, once its rows are there.
    std::function<void(shoudata *)> whileRunning;
};

// The layout the road writes into a collector of `family`: four channels
// (an M702 with two resistance thermometers and two humidity transmitters;
// an M701-TC with type K thermocouples; an M701-RTD in four-wire connection
// with ITS-90 coefficients on its second channel).
// With `thermometers` (M702 only) that many resistance thermometers from 101
// on, then the two transmitters.
QList<QStringList> roadLayout(rtu::Family family, int thermometers = 2);

// Empty when the road was walked to the end; otherwise where it stopped.
QString walkTheRoad(MainWindow &w, sim::CollectorSim &collector, const Road &road = Road());

} // namespace testkit
