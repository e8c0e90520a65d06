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
#include <QTableView>
#include <QTableWidget>

namespace testkit {

struct RunRig
{
    TempDatabase db;
    std::unique_ptr<sim::CollectorSim> sim1, sim2;
    std::unique_ptr<shoudata> page;
    std::unique_ptr<acquisition::RunSession> session; // when built without a page

    struct Setup
    {
        rtu::Family family = rtu::Family::M702;
        QStringList channelsA{"101", "102"};
        QStringList channelsB;   // non-empty: two collectors
        QString flagsA, flagsB;  // humidity flags; default all "0"
        QString secA;            // default: channelsA count
        sim::Options options;    // for both simulators
        bool exactValues = true; // channel n reads n / 4 (no noise)
        bool withPage = true;    // false: a RunSession alone, without widgets
    };

    bool build(const Setup &setup);
    QTableView *live() const { return child<QTableView>(page.get(), "twshow"); }
    int liveRows() const { return live()->model()->rowCount(); }
    int liveColumns() const { return live()->model()->columnCount(); }
    QString liveHeader(int c) const
    {
        return live()->model()->headerData(c, Qt::Horizontal).toString();
    }
    QComboBox *point() const { return child<QComboBox>(page.get(), "comboBox_2"); }
    // Click, then wait until the start or the stop has settled.
    void start();
    void stop();
    void process() { click(page.get(), "pushButton_4"); }
    bool waitRows(int rows, int ms = 8000);
    QStringList row(int r) const;

    // Without a page: starts the session at `point` and waits until it runs.
    bool startSession(const QString &point = QStringLiteral("检点1"), bool two = false);
    void stopSession();
};

} // namespace testkit
