#include "acquisition/runsession.h"

#include "acquisition/runregistry.h"
#include "storage/statements.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace acquisition {

RunSession::RunSession(QObject *parent, const SessionParts &parts)
    : QObject(parent), m_clock(parts.clock ? parts.clock : base::SystemClock::instance()),
      m_poller(new Poller(m_clock, parts.ports, this)), m_store(parts.writer)
{
    qRegisterMetaType<acquisition::RunState>();
    connect(m_poller, &Poller::started, this, &RunSession::onStarted);
    connect(m_poller, &Poller::startFailed, this, [this](const StartFailure &f) {
        setState(RunState::Idle);
        emit startFailed(f);
    });
    connect(m_poller, &Poller::stopped, this, [this] {
        retryStore();
        if (m_state == RunState::Stopping)
            storage::appendAudit(QStringLiteral("停止校准点"), pointLabel(m_point), {},
                                 QStringLiteral("{\"samples\":%1}").arg(m_samples.size()));
        setState(RunState::Idle);
        emit countersChanged();
        emit stopped();
    });
    connect(m_poller, &Poller::reading, this, &RunSession::onReading);
    connect(m_poller, &Poller::countersChanged, this, &RunSession::countersChanged);
    connect(m_poller, &Poller::lineFailed, this, [this](int collector, const QString &reason) {
        m_lineError = reason;
        m_lineFaultCollector = collector;
        emit lineFailed(collector, reason);
    });
}

RunSession::~RunSession()
{
    setRunActive(this, false);
}

// ---- selection ----

base::Status RunSession::loadSelection()
{
    const base::Result<storage::Selection> sel = storage::readSelection();
    if (!sel)
        return sel.status();
    m_equipment = sel.value.equipdata;
    m_selectedCollector = sel.value.datacollect;
    const base::Result<storage::Equipment> e = storage::equipmentRecord(m_equipment);
    if (!e)
        return e.status();
    m_pointCount = qMax(0, e.value.adjustnum.trimmed().toInt());
    m_setT = e.value.tem;
    m_setH = e.value.hum;
    m_layout = RunLayout::read();
    return reloadCollectors();
}

base::Status RunSession::reloadCollectors()
{
    const base::Result<QList<storage::Collector>> collectors = storage::listCollectors();
    m_serials.clear();
    m_ports.clear();
    for (const storage::Collector &c : collectors.value) {
        m_serials << c.serialnum;
        m_ports << c.portnum;
    }
    return collectors.status();
}

double RunSession::setPoint(bool humidity, int point) const
{
    bool ok = false;
    const double v = (humidity ? m_setH : m_setT).value(point - 1).trimmed().toDouble(&ok);
    return ok && point >= 1 ? v : std::nan("");
}

// ---- the run ----

void RunSession::setState(RunState state)
{
    m_state = state;
    setRunActive(this, isActive() || hasUnprocessedSamples());
    emit stateChanged();
}

void RunSession::rebuildTable(bool two)
{
    m_samples.clear();
    m_store.clear();
    m_tableTwo = two;
    m_hasTable = true;
    m_processed = true;
    emit tableReset();
    emit storeChanged();
}

void RunSession::start(const StartRequest &request)
{
    if (m_state != RunState::Idle)
        return;
    m_request = request;
    setState(RunState::Starting);
    // The layout is the one at the first point, for the whole run.
    if (request.point == 1 || !m_hasTable)
        m_layout = RunLayout::read();
    // Said before the first frame goes out: a chamber that follows the run
    // moves to this point now, not when the last one was stopped. Nothing of
    // the run depends on it, so a refusal only leaves the note as it was.
    storage::notePointStarted(request.point);
    // In the audit trail; a trail that cannot be written (the server away)
    // never holds up the run.
    const QJsonObject what{{QStringLiteral("equipment"), m_equipment},
                           {QStringLiteral("collector"), request.collectorSerial},
                           {QStringLiteral("collector2"),
                            request.two ? request.collectorSerial2 : QString()},
                           {QStringLiteral("interval"), request.intervalSeconds},
                           {QStringLiteral("settle"), request.settleSeconds}};
    storage::appendAudit(QStringLiteral("开始校准点"), pointLabel(request.point), {},
                         QString::fromUtf8(QJsonDocument(what).toJson(QJsonDocument::Compact)));
    m_poller->start(request, m_layout);
}

void RunSession::onStarted()
{
    const bool first = m_request.point == 1 || !m_hasTable;
    m_two = m_request.two;
    if (first) {
        rebuildTable(m_two);
        m_capture.equipment = m_equipment;
        m_capture.collector = m_request.collectorSerial;
        m_capture.collector2 = m_request.two ? m_request.collectorSerial2 : QString();
    }
    m_store.setContext(m_capture.equipment.isEmpty() ? m_equipment : m_capture.equipment,
                       m_layout.storedNames(m_tableTwo));
    m_lineError.clear();
    m_lineFaultCollector = 0;
    m_point = m_request.point;
    m_pointStarted = m_clock->now();
    m_settleUntil = m_request.settleSeconds > 0
                        ? m_pointStarted + qint64(m_request.settleSeconds) * 1000
                        : 0;
    m_settlingReadings = 0;
    m_lastSettling.clear();
    m_interval = qMax(1, m_request.intervalSeconds);
    setState(RunState::Running);
    emit started();
}

void RunSession::stop()
{
    if (m_state != RunState::Running)
        return;
    retryStore(); // the disk may have room again: no tick will try after this
    setState(RunState::Stopping);
    m_poller->stop();
}

void RunSession::abort()
{
    if (m_state == RunState::Idle)
        return;
    m_poller->abort(); // stopped() follows at once
}

void RunSession::onReading(const QVector<float> &values, qint64 at)
{
    if (m_state != RunState::Running)
        return;
    if (at < m_settleUntil) {
        ++m_settlingReadings;
        m_lastSettling = values;
        emit settlingReading();
        return;
    }
    RunSample s;
    s.msecs = at;
    s.point = m_point;
    s.values = values;
    m_samples.append(s);
    m_processed = false;
    setRunActive(this, true);
    const int index = m_samples.size() - 1;
    m_store.add(m_samples, index);
    emit storeChanged();
    emit sampleAdded(index);
}

void RunSession::endSettling()
{
    if (!isSettling())
        return;
    m_settleUntil = m_clock->now();
    emit stateChanged();
}

void RunSession::retryStore()
{
    if (m_store.retry(m_samples) || m_store.waiting() > 0)
        emit storeChanged();
}

bool RunSession::restore(const QList<storage::Sample> &samples, QString *why)
{
    auto fail = [why](const QString &reason) {
        if (why)
            *why = reason;
        return false;
    };
    if (isActive())
        return fail(QStringLiteral("校准正在进行。"));
    if (samples.isEmpty())
        return fail(QStringLiteral("没有样本。"));
    const QString equipment = samples.first().equipname;
    const base::Result<storage::Equipment> e = storage::equipmentRecord(equipment);
    if (!e)
        return fail(e.error);
    if (e.value.adjustnum.trimmed().toInt() <= 0)
        return fail(QStringLiteral("试验设备“%1”的记录已不存在或没有校准点。").arg(equipment));
    const RunLayout layout = RunLayout::read();
    const int values = storage::splitList(samples.first().coldata).size();
    bool two = false;
    if (values == layout.channelsA.size() + layout.channelsB.size() && !layout.channelsB.isEmpty())
        two = true;
    else if (values != layout.channelsA.size())
        return fail(QStringLiteral("样本有 %1 个通道，而当前的通道配置有 %2 个（设备二 %3 个），"
                                   "请恢复当时的通道配置后再试。")
                        .arg(values)
                        .arg(layout.channelsA.size())
                        .arg(layout.channelsB.size()));
    m_layout = layout;
    m_equipment = equipment;
    m_pointCount = e.value.adjustnum.trimmed().toInt();
    m_setT = e.value.tem;
    m_setH = e.value.hum;
    m_two = two;
    rebuildTable(two);
    m_capture.equipment = equipment;
    m_capture.collector = m_selectedCollector;
    for (const storage::Sample &stored : samples) {
        RunSample sample;
        sample.msecs = QDateTime::fromString(stored.coltime, QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                           .toMSecsSinceEpoch();
        sample.point = pointOfLabel(stored.jdnum);
        for (const QString &t : storage::splitList(stored.coldata))
            sample.values << t.toFloat();
        sample.stored = true;
        m_samples.append(sample);
        emit sampleAdded(m_samples.size() - 1);
    }
    m_point = m_samples.last().point;
    m_processed = false;
    setState(RunState::Idle);
    return true;
}

} // namespace acquisition
