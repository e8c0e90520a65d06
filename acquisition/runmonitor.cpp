#include "acquisition/runmonitor.h"

#include "acquisition/runsession.h"
#include "results/calibration.h"

#include <QSettings>
#include <cmath>

namespace acquisition {

MonitorSettings MonitorSettings::load()
{
    QSettings s;
    MonitorSettings m;
    s.beginGroup(QStringLiteral("stability"));
    m.windowSeconds = s.value(QStringLiteral("windowSeconds"), m.windowSeconds).toDouble();
    m.minSamples = s.value(QStringLiteral("minSamples"), m.minSamples).toInt();
    m.limitT = s.value(QStringLiteral("limitT"), m.limitT).toDouble();
    m.limitH = s.value(QStringLiteral("limitH"), m.limitH).toDouble();
    m.missAlarm = s.value(QStringLiteral("missAlarm"), m.missAlarm).toInt();
    s.endGroup();
    return m;
}

void MonitorSettings::save() const
{
    QSettings s;
    s.beginGroup(QStringLiteral("stability"));
    s.setValue(QStringLiteral("windowSeconds"), windowSeconds);
    s.setValue(QStringLiteral("minSamples"), minSamples);
    s.setValue(QStringLiteral("limitT"), limitT);
    s.setValue(QStringLiteral("limitH"), limitH);
    s.setValue(QStringLiteral("missAlarm"), missAlarm);
    s.endGroup();
}

RunMonitor::RunMonitor(RunSession *session, QObject *parent)
    : QObject(parent), m_session(session), m_settings(MonitorSettings::load())
{
    connect(session, &RunSession::tableReset, this, &RunMonitor::onTableReset);
    connect(session, &RunSession::started, this, &RunMonitor::onStarted);
    connect(session, &RunSession::sampleAdded, this, &RunMonitor::onSample);
    connect(session, &RunSession::countersChanged, this, &RunMonitor::onCounters);
}

RunMonitor::~RunMonitor() = default;

void RunMonitor::setSettings(const MonitorSettings &settings)
{
    m_settings = settings;
    updateStability();
    updateAlarms();
    emit changed();
}

void RunMonitor::setCurves(const CurveStore &store)
{
    m_curves = store;
    emit curvesChanged();
}

static QString listItem(const QStringList &items, int point)
{
    return point >= 1 ? items.value(point - 1) : QString();
}

QString RunMonitor::setPointT(int point) const
{
    return listItem(m_session->setPointsT(), point);
}

QString RunMonitor::setPointH(int point) const
{
    return listItem(m_session->setPointsH(), point);
}

double RunMonitor::setValue(bool humidity, int point) const
{
    return m_session->setPoint(humidity, point);
}

void RunMonitor::onTableReset()
{
    m_implausible.clear();
    const QStringList names = m_session->channelNames();
    const QVector<bool> humidity = m_session->humidityChannels();
    QVector<results::Kind> kinds;
    QString mask;
    for (bool h : humidity) {
        kinds << (h ? results::Kind::Humidity : results::Kind::Temperature);
        mask += h ? QLatin1Char('1') : QLatin1Char('0');
    }
    m_curves.reset(names, kinds);
    // A layout of one collector with every channel classified by its mask.
    storage::RunHeader h;
    h.channum = QString::number(names.size());
    h.kindsA = QStringLiteral("%1;0;0;").arg(names.size());
    h.typesA = mask;
    h.chanlist = storage::listText(names);
    m_layout = results::ChannelLayout::fromHeader(h);
    for (int i = 0; i < m_layout.names.size(); ++i)
        m_layout.names[i] = names.value(i);
    m_state = LiveState();
    emit curvesChanged();
}

void RunMonitor::onStarted()
{
    m_rejected[0] = m_session->counters(1).rejected;
    m_rejected[1] = m_session->counters(2).rejected;
    m_wrongCount[0] = m_wrongCount[1] = false;
    restartPoint();
    updateAlarms();
    emit changed();
}

void RunMonitor::restartPoint()
{
    const int point = m_session->currentPoint();
    m_state.point = point;
    m_state.setT = setPointT(point);
    m_state.setH = setPointH(point);
    m_state.pointStarted = m_session->pointStarted();
    m_state.stable = false;
    m_state.stableSince = 0;
    // The point's samples so far, oldest first (a point may be run again).
    m_point = std::make_unique<results::PointAccumulator>(m_layout);
    m_state.pointSamples = 0;
    for (const RunSample &s : m_session->samples()) {
        if (s.point != point)
            continue;
        m_point->add(s.values);
        ++m_state.pointSamples;
    }
    updateFigures();
    updateStability();
}

bool plausibleReading(bool humidity, double value)
{
    if (!std::isfinite(value))
        return false;
    return humidity ? value >= -5.0 && value <= 105.0 : value >= -200.0 && value <= 1372.0;
}

void RunMonitor::onSample(int index)
{
    const RunSample &s = m_session->samples().at(index);
    m_curves.append(s.msecs, s.point, s.values);
    m_implausible.clear();
    for (int i = 0; i < s.values.size(); ++i) {
        const bool humidity = m_curves.kind(i) == results::Kind::Humidity;
        if (plausibleReading(humidity, s.values[i]))
            continue;
        Alarm a;
        a.kind = Alarm::Implausible;
        a.channel = m_curves.names().value(i);
        a.collector = a.channel.startsWith(QLatin1String("2-")) ? 2 : 1;
        a.humidity = humidity;
        a.value = s.values[i];
        m_implausible << a;
    }
    // A sample means every collector's reply decoded.
    m_wrongCount[0] = m_wrongCount[1] = false;
    if (s.point == m_state.point && m_point) {
        m_point->add(s.values);
        ++m_state.pointSamples;
        updateFigures();
    }
    updateStability();
    updateAlarms();
    emit curvesChanged();
    emit changed();
}

void RunMonitor::onCounters()
{
    for (int c = 0; c < 2; ++c) {
        const CollectorCounters n = m_session->counters(c + 1);
        if (n.rejected > m_rejected[c] && n.lastRefusal == Refusal::WrongCount)
            m_wrongCount[c] = true;
        m_rejected[c] = n.rejected;
    }
    updateAlarms();
    emit changed();
}

void RunMonitor::updateFigures()
{
    if (!m_point)
        return;
    const results::PointResult r = m_point->result(m_state.point, m_state.setT, m_state.setH);
    auto fill = [&](LiveKind &k, const results::KindFigures &f, bool humidity) {
        k.present = f.channels > 0;
        k.figures = f;
        const double set = setValue(humidity, m_state.point);
        k.deviation = f.mean.ok && !std::isnan(set) ? results::Figure(f.mean.value - set)
                                                     : results::Figure();
    };
    fill(m_state.t, r.t, false);
    fill(m_state.h, r.h, true);
}

void RunMonitor::updateStability()
{
    const int n = m_curves.samples();
    const int point = m_state.point;
    m_state.stable = false;
    m_state.stability = Stability();
    if (n == 0 || point == 0 || m_state.pointSamples == 0) {
        m_state.stableSince = 0;
        return;
    }
    const qint64 latest = m_curves.time(n - 1);
    const qint64 window = qint64(m_settings.windowSeconds * 1000.0);
    // The point's first sample and the samples in the window.
    int first = -1;
    for (int i = 0; i < n; ++i)
        if (m_curves.point(i) == point) {
            first = i;
            break;
        }
    QVector<int> inWindow;
    for (int i = m_curves.lowerBound(latest - window); i < n; ++i)
        if (m_curves.point(i) == point)
            inWindow << i;
    const qint64 covered = first < 0 ? 0 : latest - m_curves.time(first);
    if (covered < window || inWindow.size() < m_settings.minSamples) {
        m_state.stableSince = 0;
        Stability &st = m_state.stability;
        st.kind = Stability::TooFew;
        st.coveredMinutes = covered / 60000.0;
        st.windowMinutes = m_settings.windowSeconds / 60.0;
        st.samples = inWindow.size();
        st.minSamples = m_settings.minSamples;
        return;
    }
    // The channel whose range is largest against its limit.
    double worstRatio = -1, worstRange = 0;
    int worst = -1;
    for (int c = 0; c < m_curves.channels(); ++c) {
        float lo = NAN, hi = NAN;
        for (int i : inWindow) {
            const float v = m_curves.value(c, i);
            if (std::isnan(v))
                continue;
            lo = std::isnan(lo) ? v : std::min(lo, v);
            hi = std::isnan(hi) ? v : std::max(hi, v);
        }
        if (std::isnan(lo))
            continue;
        const double limit =
            m_curves.kind(c) == results::Kind::Humidity ? m_settings.limitH : m_settings.limitT;
        const double range = double(hi) - double(lo);
        const double ratio = limit > 0 ? range / limit : range;
        if (ratio > worstRatio) {
            worstRatio = ratio;
            worstRange = range;
            worst = c;
        }
    }
    // A hair of rounding on a range equal to the limit counts as within it.
    if (worst >= 0 && worstRatio > 1.0 + 1e-6) {
        m_state.stableSince = 0;
        Stability &st = m_state.stability;
        st.kind = Stability::Unsettled;
        st.humidity = m_curves.kind(worst) == results::Kind::Humidity;
        st.channel = m_curves.names().value(worst);
        st.range = worstRange;
        st.limit = st.humidity ? m_settings.limitH : m_settings.limitT;
        return;
    }
    m_state.stable = true;
    if (m_state.stableSince == 0)
        m_state.stableSince = latest;
    m_state.stability.kind = Stability::Stable;
    m_state.stability.since = m_state.stableSince;
}

void RunMonitor::updateAlarms()
{
    m_state.alarms.clear();
    if (m_session->state() == RunState::Idle)
        return;
    for (int c = 0; c < (m_session->twoCollectors() ? 2 : 1); ++c) {
        const CollectorCounters n = m_session->counters(c + 1);
        if (n.consecutiveMissed >= qMax(1, m_settings.missAlarm)) {
            Alarm a;
            a.collector = c + 1;
            a.count = n.consecutiveMissed;
            a.lastGood = n.lastGood;
            m_state.alarms << a;
        }
        if (m_wrongCount[c]) {
            Alarm a;
            a.kind = Alarm::WrongCount;
            a.collector = c + 1;
            m_state.alarms << a;
        }
    }
    m_state.alarms += m_implausible;
}

} // namespace acquisition
