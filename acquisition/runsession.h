#pragma once

// A calibration run: the view the run page shows and what it tells. It
// holds the run's samples and puts together its parts: the layout captured
// at the first point (runlayout.h), the poller that talks to the collectors
// (poller.h), the store that writes every sample (samplestore.h) and the
// processing that writes the header (processing.cpp). Nothing here blocks
// or runs a nested event loop; time comes from a clock.
//
// A sample's road: a port's bytes -> the collector's Exchange cuts the reply
// by length and CRC -> the Poller decodes it with the layout and, once every
// collector of the tick has answered, emits the tick's values -> this session
// appends a RunSample (sampleAdded) and hands it to the SampleStore, which
// writes it now or, when the database refuses, keeps it waiting in order.

#include "acquisition/poller.h"
#include "acquisition/runlayout.h"
#include "acquisition/runtypes.h"
#include "acquisition/samplestore.h"
#include "base/clock.h"
#include "base/result.h"
#include "storage/records.h"

#include <QObject>
#include <QStringList>
#include <QVector>

namespace acquisition {

// What the session runs on; the program takes the defaults.
struct SessionParts
{
    base::Clock *clock = nullptr;    // the system's
    rtu::PortFactory ports;          // serial ports
    SampleStore::Writer writer;      // storage::insertSample
};

class RunSession : public QObject
{
    Q_OBJECT

public:
    explicit RunSession(QObject *parent = nullptr, const SessionParts &parts = SessionParts());
    ~RunSession() override;

    // ---- the selection a run page is built with ----
    base::Status loadSelection();
    QString equipmentName() const { return m_equipment; }
    int pointCount() const { return m_pointCount; }
    QStringList setPointsT() const { return m_setT; } // ten, as stored
    QStringList setPointsH() const { return m_setH; }
    // Set value of point k as a number; NaN when it is none.
    double setPoint(bool humidity, int point) const;
    QStringList collectorSerials() const { return m_serials; }
    QStringList collectorPorts() const { return m_ports; }
    QString selectedCollector() const { return m_selectedCollector; }
    base::Status reloadCollectors();

    // ---- state ----
    RunState state() const { return m_state; }
    bool isActive() const { return m_state != RunState::Idle; }
    bool hasUnprocessedSamples() const { return !m_samples.isEmpty() && !m_processed; }
    bool tableHoldsTwo() const { return m_tableTwo; }
    bool hasTable() const { return m_hasTable; }

    // started() or startFailed() follows.
    void start(const StartRequest &request);
    void stop();  // stopped() once the lines are closed
    void abort(); // closes everything at once (the program is quitting)

    // ---- the run's data ----
    const QVector<RunSample> &samples() const { return m_samples; }
    const RunLayout &layout() const { return m_layout; }
    QStringList channelNames() const { return m_layout.names(m_tableTwo); }
    QVector<bool> humidityChannels() const { return m_layout.humidity(m_tableTwo); }
    bool m702() const { return m_layout.m702(); }
    CollectorCounters counters(int collector) const { return m_poller->counters(collector); }
    bool twoCollectors() const { return m_two; }
    int unstoredCount() const { return m_store.waiting(); }
    QString lastStoreError() const { return m_store.lastError(); }
    // When the oldest sample still waiting was taken; empty when none waits.
    QString unstoredSince() const
    {
        const int i = m_store.oldestWaiting();
        return i < 0 ? QString() : m_samples[i].timeText();
    }
    QString lineError() const { return m_lineError; }
    int lineFaultCollector() const { return m_lineFaultCollector; }
    qint64 lastSampleLatencyNs() const { return m_poller->lastLatencyNs(); }
    int intervalSeconds() const { return m_interval; }
    int currentPoint() const { return m_point; }
    qint64 pointStarted() const { return m_pointStarted; } // ms since the epoch
    qint64 nextTick() const { return m_poller->nextTick(); } // 0: none due
    // Settling: the point runs, its readings are shown but none is stored
    // until `settledAt()` (ms since the epoch, 0: no settling).
    bool isSettling() const
    {
        return m_state == RunState::Running && m_settleUntil > m_clock->now();
    }
    qint64 settledAt() const { return m_settleUntil; }
    int settlingReadings() const { return m_settlingReadings; }
    const QVector<float> &lastSettlingReading() const { return m_lastSettling; }
    // Stores from the next reading on, whatever is left of the settling time.
    void endSettling();
    base::Clock *clock() const { return m_clock; }

    // Takes back the samples of a run that ended without processing (the
    // program was cut off): the equipment's set points, the table with the
    // current layout, the samples as stored ones. False with the reason when
    // the equipment is gone or the layout does not fit the samples.
    bool restore(const QList<storage::Sample> &samples, QString *why);
    // Tries again to store the samples that wait, oldest first.
    void retryStore();

    // ---- processing ----
    struct Processing
    {
        enum Outcome {
            Done,
            NoData,            // no sample
            Busy,              // a run is going
            Unstored,          // samples still wait to be stored (`waiting`, `reason`)
            NoType,            // the equipment has no type (`equipment`)
            NeedsConfirmation, // already processed; ask before replacing
            Failed,            // `reason`
        } outcome = Failed;
        int waiting = 0;
        QString reason;
        QString equipment;
    };
    Processing process(bool replace);
    // Gives up the run that was not processed: its samples stay in the
    // database, set aside (in no calibration, never offered again), and the
    // table starts afresh at the first point. Refused while a run goes on.
    base::Status discard();
    // The header processing would write now.
    storage::RunHeader header() const;

signals:
    void stateChanged();
    void started();
    void startFailed(const acquisition::StartFailure &failure);
    void stopped();
    void tableReset();
    void sampleAdded(int index);
    void settlingReading(); // a reading taken while the point settles
    void countersChanged();
    void storeChanged();
    void lineFailed(int collector, const QString &reason);

private:
    void setState(RunState state);
    void rebuildTable(bool two);
    void onReading(const QVector<float> &values, qint64 at);
    void onStarted();

    base::Clock *m_clock;
    Poller *m_poller;
    SampleStore m_store;
    RunState m_state = RunState::Idle;
    StartRequest m_request;

    // Selection read when the page was built.
    QString m_equipment;
    int m_pointCount = 0;
    QStringList m_setT, m_setH, m_serials, m_ports;
    QString m_selectedCollector;

    // The run.
    RunLayout m_layout;
    bool m_hasTable = false;
    bool m_two = false;
    bool m_tableTwo = false;
    int m_interval = 120;
    int m_point = 0;
    qint64 m_pointStarted = 0;
    qint64 m_settleUntil = 0;
    int m_settlingReadings = 0;
    QVector<float> m_lastSettling;
    QVector<RunSample> m_samples;
    QString m_lineError;
    int m_lineFaultCollector = 0;
    bool m_processed = true;

    // What the header records, captured at the start at the first point.
    struct HeaderCapture
    {
        QString equipment, collector, collector2;
    } m_capture;
};

} // namespace acquisition
