#pragma once

// A calibration run rig: a temporary database holding an equipment with
// three calibration points, recorded collectors and channel layouts, the
// simulated collectors on their pseudo-terminals, and a run page.

#include "pages/run/shoudata.h"
#include "tests/testkit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

namespace testkit {

struct RunRig
{
    TempDatabase db;
    std::unique_ptr<sim::CollectorSim> sim1, sim2;
    std::unique_ptr<shoudata> page;

    struct Setup
    {
        rtu::Family family = rtu::Family::M702;
        QStringList channelsA{"101", "102"};
        QStringList channelsB;   // non-empty: two collectors
        QString flagsA, flagsB;  // humidity flags; default all "0"
        QString secA;            // default: channelsA count
        sim::Options options;    // for both simulators
        bool exactValues = true; // channel n reads n / 4 (no noise)
    };

    bool build(const Setup &setup);
    QTableWidget *live() const { return child<QTableWidget>(page.get(), "twshow"); }
    QComboBox *point() const { return child<QComboBox>(page.get(), "comboBox_2"); }
    void start() { click(page.get(), "pushButton"); }
    void stop() { click(page.get(), "pushButton_2"); }
    void process() { click(page.get(), "pushButton_4"); }
    bool waitRows(int rows, int ms = 8000);
    QStringList row(int r) const;
};

} // namespace testkit
