#pragma once

// What the operator needs to see while a point runs, worked out from the
// session's samples: the point's figures so far (with the same functions as
// the documents), whether the point is stable, and the alarms. Also keeps
// every reading of the run for the curve window.

#include "acquisition/curvestore.h"
#include "results/statistics.h"

#include <QDateTime>
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
    QString deviation; // mean - set value
};

struct LiveState
{
    QString point; // "检点k"
    int pointNumber = 0;
    QString setT, setH;
    QDateTime pointStarted;
    int pointSamples = 0;
    LiveKind t, h;
    bool stable = false;
    QDateTime stableSince;
    QString stability; // "稳定（…起）" or "未稳定：…"
    QStringList alarms;
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
    // Set values of point k as stored (curve reference lines).
    QString setPointT(int point) const;
    QString setPointH(int point) const;

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
    int m_rejected[2] = {0, 0};
    bool m_wrongCount[2] = {false, false};
};

} // namespace acquisition
