#pragma once

// A calibration run rig: a temporary database holding an equipment with
// three calibration points, recorded collectors and channel layouts, the
// simulated collectors on their pseudo-terminals, and a run page.

#include "pages/run/shoudata.h"
#include "sim/directport.h"
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
    // The run's time: advanced by the rig unless the run is on real serial
    // lines (Setup::realSerial), where the system's clock goes on by itself.
    base::ManualClock clock;
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
        // Simulators on pseudo-terminals and the system's clock; otherwise
        // the run talks to them directly on the rig's clock.
        bool realSerial = false;
        // Stores the samples; default: the database.
        acquisition::SampleStore::Writer writer;
    };
    // A run on the simulators' pseudo-terminals and the system's clock: what
    // the main window builds, and the timing of real lines.
    static Setup realSetup()
    {
        Setup s;
        s.realSerial = true;
        return s;
    }
    bool real = false;
    // The port names the run page is given for collector one and two.
    QString portName(int collector) const;

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
    // Real serial: waits up to `ms`; otherwise advances the clock tick by
    // tick, at most `ms` of the run's time.
    bool waitRows(int rows, int ms = 8000);
    QStringList row(int r) const;
    // The run's time moves on `ms` (the rig's clock), or passes (real serial).
    void advance(qint64 ms);
    // Advances in steps of `stepMs` until `done`, at most `ms` of run time.
    bool advanceUntil(const std::function<bool()> &done, qint64 ms, qint64 stepMs = 100);
    int samples() const;

    // Without a page: starts the session at `point` and waits until it runs.
    bool startSession(const QString &point = QStringLiteral("检点1"), bool two = false);
    void stopSession();
    // On a server: the samples the run kept in the spool sent (when the
    // server takes them).
    void sent();
};

} // namespace testkit
