#pragma once

// What the operator needs to see while a point runs, worked out from the
// session's samples: the point's figures so far (with the same functions as
// the documents), whether the point is stable, and the alarms. Also keeps
// every reading of the run for the curve window.

#include "acquisition/curvestore.h"
#include "results/statistics.h"

#include <QObject>
#include <memory>

namespace acquisition {

class RunSession;

// Kept per user with QSettings, not in the database.
struct MonitorSettings
{
    double windowSeconds = 1800; // the stability window
    int minSamples = 30;         // samples the window must hold
    double limitT = 0.5;         // largest range of a temperature channel, ℃
    double limitH = 2.0;         // largest range of a humidity channel, %RH
    int missAlarm = 3;           // ticks in a row without a reply before the alarm

    static MonitorSettings load();
    void save() const;
};

struct LiveKind
{
    bool present = false; // the run has channels of this kind
    results::KindFigures figures;
    results::Figure deviation; // mean - set value
};

// Whether the point is stable, and if not, why.
struct Stability
{
    enum Kind {
        NoData,    // the point has no sample yet
        TooFew,    // the window is not covered or holds too few samples
        Unsettled, // a channel moves more than its limit
        Stable,
    } kind = NoData;
    double coveredMinutes = 0, windowMinutes = 0; // TooFew
    int samples = 0, minSamples = 0;              // TooFew
    QString channel;                              // Unsettled: the channel that moves most
    double range = 0, limit = 0;
    bool humidity = false;
    qint64 since = 0; // Stable: since when (ms since the epoch)
};

// Something the operator must see at once.
struct Alarm
{
    enum Kind {
        Silent,      // `count` ticks in a row without a reply
        WrongCount,  // the collector's values do not match its layout
        Implausible, // a channel reads what its kind cannot mean
    } kind = Silent;
    int collector = 1;
    int count = 0;
    qint64 lastGood = 0; // Silent: the last good reading, 0: none
    // Implausible: the channel ("1-103"), its kind and its last reading.
    QString channel;
    bool humidity = false;
    double value = 0;
};

// What a reading of a kind can mean: a relative humidity between 0 and
// 100 %RH (a transmitter's few percent beyond included), a temperature
// within what the collectors' probes measure (platinum resistance from
// -200 ℃, thermocouples up to 1372 ℃). Outside: the probe type, the wiring
// or the channel's kind is wrong.
bool plausibleReading(bool humidity, double value);

struct LiveState
{
    int point = 0; // the calibration point shown
    QString setT, setH; // its set values as stored
    qint64 pointStarted = 0;
    int pointSamples = 0;
    LiveKind t, h;
    bool stable = false;
    qint64 stableSince = 0;
    Stability stability;
    QVector<Alarm> alarms;
};

class RunMonitor : public QObject
{
    Q_OBJECT

public:
    explicit RunMonitor(RunSession *session, QObject *parent = nullptr);
    ~RunMonitor() override;

    const LiveState &state() const { return m_state; }
    const CurveStore &curves() const { return m_curves; }
    // Replaces the readings the curve window draws (a recorded run).
    void setCurves(const CurveStore &store);
    MonitorSettings settings() const { return m_settings; }
    void setSettings(const MonitorSettings &settings);
    // Set values of point k as stored, and as numbers (NaN: none).
    QString setPointT(int point) const;
    QString setPointH(int point) const;
    double setValue(bool humidity, int point) const;

signals:
    void changed();
    void curvesChanged();

private:
    void onTableReset();
    void onStarted();
    void onSample(int index);
    void onCounters();
    void restartPoint();
    void updateFigures();
    void updateStability();
    void updateAlarms();

    RunSession *m_session;
    MonitorSettings m_settings;
    LiveState m_state;
    CurveStore m_curves;
    results::ChannelLayout m_layout;
    std::unique_ptr<results::PointAccumulator> m_point;
    QVector<Alarm> m_implausible; // channels of the last sample
    int m_rejected[2] = {0, 0};
    bool m_wrongCount[2] = {false, false};
};

} // namespace acquisition
