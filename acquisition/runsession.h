#pragma once

// The calibration run engine. It owns the collector lines, the poll timer,
// the run's state, reply assembly, decoding, the per-collector counters, the
// samples of the run, storing them and the calibration's header. The run
// page is its view: it forwards the operator's actions here and shows what
// the signals report. Nothing here blocks or runs a nested event loop.
//
// A sample's road: a line's readyRead -> SerialLine::received -> this
// session moves the bytes into the collector's ReplyAssembler -> a whole
// frame is judged (address, function, CRC, exception) -> once every
// collector of the tick has its reading, the values are decoded -> the
// sample is appended to samples() (sampleAdded) and stored; a sample that
// cannot be stored waits, in order, and is retried at every tick and before
// processing.

#include "acquisition/replyassembler.h"
#include "link/commands.h"
#include "storage/records.h"
#include "storage/result.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QVector>
#include <memory>

class QTimer;
namespace rtu {
class SerialLine;
}

namespace acquisition {

enum class RunState { Idle, Starting, Running, Stopping };

struct CollectorCounters
{
    int answered = 0;          // ticks with an accepted reading
    int missed = 0;            // ticks without any reply
    int rejected = 0;          // replies refused: CRC, length, exception, values
    int consecutiveMissed = 0; // ticks in a row without any reply
    int lastException = -1;    // code of the last exception reply, -1: none
    QString lastReason;        // why the last reply was refused
    QDateTime lastGood;        // time of the last accepted reading
};

struct RunSample
{
    QString time;     // "yyyy-MM-dd HH:mm:ss", shown and stored
    qint64 msecs = 0; // the same moment, milliseconds since the epoch
    QString point;    // "检点k"
    QStringList texts;
    QVector<float> values;
    bool stored = false;
};

struct StartRequest
{
    bool two = false;
    QString port1, port2;
    QString point; // "检点k"
    int intervalSeconds = 120;
    QString collectorSerial; // collector one, recorded in the header
};

class RunSession : public QObject
{
    Q_OBJECT

public:
    explicit RunSession(QObject *parent = nullptr);
    ~RunSession() override;

    // ---- the selection a run page is built with ----
    base::Status loadSelection();
    QString equipmentName() const { return m_equipment; }
    int pointCount() const { return m_pointCount; }
    QStringList setPointsT() const { return m_setT; } // ten, as stored
    QStringList setPointsH() const { return m_setH; }
    QStringList collectorSerials() const { return m_serials; }
    QStringList collectorPorts() const { return m_ports; }
    QString selectedCollector() const { return m_selectedCollector; }
    // Reloads the collector list (the second collector's box).
    base::Status reloadCollectors();

    // ---- state ----
    RunState state() const { return m_state; }
    bool isActive() const { return m_state != RunState::Idle; }
    // Samples that no header covers yet.
    bool hasUnprocessedSamples() const { return !m_samples.isEmpty() && !m_processed; }
    // The live table holds both collectors' channels.
    bool tableHoldsTwo() const { return m_tableTwo; }
    bool hasTable() const { return !m_headers.isEmpty(); }

    // Starting. Answers with started() or startFailed(message).
    void start(const StartRequest &request);
    // Stopping: the timer stops, late replies are ignored, the lines close
    // 200 ms later; then stopped().
    void stop();
    // Closes everything at once (the program is quitting).
    void abort();

    // ---- the run's data ----
    const QVector<RunSample> &samples() const { return m_samples; }
    QStringList channelList() const { return m_channelList; }
    QStringList headers() const { return m_headers; } // "时间", "检定点", "101(℃)"...
    QString humidityFlags(int collector) const { return collector == 1 ? m_flagsA : m_flagsB; }
    QStringList channelsOf(int collector) const
    {
        return collector == 1 ? m_channelsA : m_channelsB;
    }
    bool m702() const { return m_family702; }
    CollectorCounters counters(int collector) const
    {
        return collector == 1 ? m_counters[0] : m_counters[1];
    }
    bool twoCollectors() const { return m_two; }
    int unstoredCount() const { return m_pending.size(); }
    QString lastStoreError() const { return m_storeError; }
    QString lineError() const { return m_lineError; }
    qint64 lastSampleLatencyNs() const { return m_lastLatencyNs; }
    int intervalSeconds() const { return m_interval; }
    QString currentPoint() const { return m_point; }
    // When the run at the current point was started.
    QDateTime pointStarted() const { return m_pointStarted; }
    // Channel names of the live table's columns: "101", or "1-101" and
    // "2-101" when the table holds two collectors.
    QStringList channelNames() const;
    // Per channel of the table: true for a humidity channel.
    QVector<bool> humidityChannels() const;
    // When the next poll goes out, or an invalid time when none is due.
    QDateTime nextTick() const;

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
            Unstored,          // samples still wait to be stored
            NoType,            // the equipment has no type
            NeedsConfirmation, // already processed; ask before replacing
            Failed,
        } outcome = Failed;
        QString message;
    };
    Processing process(bool replace);
    // The header processing would write now.
    storage::RunHeader header() const;

signals:
    void stateChanged();
    void started();
    void startFailed(const QString &message);
    void stopped();
    void tableReset();
    void sampleAdded(int index);
    void countersChanged();
    void storeChanged();
    void lineFailed(int collector, const QString &reason);

private:
    struct Collector
    {
        rtu::SerialLine *line = nullptr;
        ReplyAssembler assembler;
        QTimer *stale = nullptr; // a partial reply that stopped arriving
        QByteArray echo;         // bytes received during the speed-echo wait
        QByteArray reading;      // the accepted reading of the current tick
        bool waiting = false; // no reading yet for the current tick
        bool heard = false;   // a reply (even a refused one) came for this tick
        qint64 completedNs = 0;
    };

    void setState(RunState state);
    void readLayout();
    void rebuildTable(bool two);
    ReplyAssembler assemblerFor(int index) const;
    bool openLine(int index, const QString &port, QString *error);
    void closeLines();
    void failStart(const QString &message);
    void startStep(int step);
    void beginRunning();
    void tick();
    void sendSecond();
    void onReceived(int index);
    void onStale(int index);
    void handle(int index, const Frame &frame);
    void reject(int index, const QString &reason, int exception = -1);
    void dispatch();
    void addSample(const QStringList &texts, qint64 completedNs);
    bool storeOne(RunSample &sample);
    void onLineFailed(int index, const QString &reason);

    RunState m_state = RunState::Idle;
    StartRequest m_request;
    Collector m_c[2];
    CollectorCounters m_counters[2];
    QTimer *m_poll = nullptr;
    QTimer *m_second = nullptr; // collector two's send, 500 ms after collector one's
    QTimer *m_step = nullptr;   // the waits of starting and stopping
    int m_stepIndex = 0;
    QElapsedTimer m_clock;
    QElapsedTimer m_sinceTick;

    // Selection read when the page was built.
    QString m_equipment;
    int m_pointCount = 0;
    QStringList m_setT, m_setH, m_serials, m_ports;
    QString m_selectedCollector;

    // Layout read at every start at the first point.
    QString m_headType;
    QStringList m_channelsA, m_channelsB, m_channelList, m_headers;
    QList<int> m_countsA{0, 0, 0}, m_countsB{0, 0, 0};
    QString m_flagsA, m_flagsB;
    bool m_family702 = true;

    // The run.
    bool m_two = false;
    bool m_tableTwo = false;
    int m_interval = 120;
    QString m_point;
    QDateTime m_pointStarted;
    QVector<RunSample> m_samples;
    QList<int> m_pending; // indices of samples not stored yet, oldest first
    QString m_storeError, m_lineError;
    qint64 m_lastLatencyNs = 0;
    bool m_processed = true;

    // What the header records, captured at the start at the first point.
    struct HeaderCapture
    {
        QString equipment, collector, roadA, roadB, typesA, typesB;
    } m_capture;
};

} // namespace acquisition

Q_DECLARE_METATYPE(acquisition::RunState)
