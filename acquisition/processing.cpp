// "数据处理": the header of the calibration, from the session's own data.

#include "acquisition/runsession.h"

#include "acquisition/runregistry.h"
#include "storage/spool.h"
#include "storage/statements.h"

namespace acquisition {

storage::RunHeader RunSession::header() const
{
    storage::RunHeader h;
    if (m_samples.isEmpty())
        return h;
    QStringList tem, hum;
    for (int k = 0; k < m_pointCount; ++k) {
        tem << m_setT.value(k);
        hum << m_setH.value(k);
    }
    int stored = 0;
    for (const RunSample &s : m_samples)
        stored += s.stored;
    QStringList channels;
    for (int n : m_layout.channels(m_tableTwo))
        channels << QString::number(n);
    h.dtbegin = m_samples.first().timeText();
    h.dtend = m_samples.last().timeText();
    h.pointnum = QString::number(m_pointCount);
    h.temset = storage::listText(tem);
    h.humset = storage::listText(hum);
    h.kindsA = m_layout.roadA;
    h.kindsB = m_layout.roadB;
    h.collector = m_capture.collector;
    h.equipname = m_capture.equipment;
    h.channum = QString::number(channels.size());
    h.samplenum = QString::number(stored);
    h.chanlist = storage::listText(channels);
    h.typesA = m_layout.typesA;
    h.typesB = m_layout.typesB;
    return h;
}

RunSession::Processing RunSession::process(bool replace)
{
    Processing p;
    auto failed = [&p](const QString &reason) {
        p.outcome = Processing::Failed;
        p.reason = reason;
        return p;
    };
    if (m_state != RunState::Idle) {
        p.outcome = Processing::Busy;
        return p;
    }
    if (m_samples.isEmpty()) {
        p.outcome = Processing::NoData;
        return p;
    }
    retryStore();
    if (m_store.waiting() > 0) {
        p.outcome = Processing::Unstored;
        p.waiting = m_store.waiting();
        p.reason = m_store.lastError();
        return p;
    }
    // Samples kept on this station's disk while the server was away go
    // first; a calibration is made only of what the server holds.
    storage::flushSpool();
    if (const storage::SpoolState spooled = storage::spoolState(); spooled.waiting > 0) {
        p.outcome = Processing::Unstored;
        p.waiting = spooled.waiting;
        p.reason = QStringLiteral("样本暂存在本机，等服务器恢复后发送：") + spooled.lastError;
        return p;
    }
    const base::Result<QString> type = storage::equipmentType(m_capture.equipment);
    if (!type)
        return failed(type.error);
    if (type.value.isEmpty()) {
        p.outcome = Processing::NoType;
        p.equipment = m_capture.equipment;
        return p;
    }
    storage::RunHeader h = header();
    // A calibration is known by the time it began: another station's of the
    // same second is never replaced nor mixed with this one.
    const base::Result<QString> other = storage::otherStationAt(h.dtbegin);
    if (!other)
        return failed(other.error);
    if (!other.value.isEmpty())
        return failed(QStringLiteral("工作站“%1”已有一次在同一时刻（%2）开始的校准，"
                                     "两次校准不能同用一个开始时刻。这次的样本留在数据库中，"
                                     "没有处理。")
                          .arg(other.value, h.dtbegin));
    const base::Result<bool> exists = storage::headerExists(h.dtbegin);
    if (!exists)
        return failed(exists.error);
    if (exists.value && !replace) {
        p.outcome = Processing::NeedsConfirmation;
        return p;
    }
    const base::Result<int> count = storage::countHeaders();
    if (!count)
        return failed(count.error);
    const base::Result<storage::Ambient> ambient = storage::readAmbient();
    if (!ambient)
        return failed(ambient.error);
    // A replaced header keeps its number.
    if (exists.value) {
        const base::Result<QString> number = storage::headerNumber(h.dtbegin);
        if (!number)
            return failed(number.error);
        h.num = number.value;
    } else {
        h.num = QString::number(count.value + 1);
    }
    h.envtem = ambient.value.tem;
    h.envhum = ambient.value.hum;
    h.equiptype = type.value;
    // The records the documents will be written from, as they are now.
    QStringList collectors{h.collector};
    if (!m_capture.collector2.isEmpty() && m_capture.collector2 != h.collector)
        collectors << m_capture.collector2;
    const base::Result<storage::Snapshot> records =
        storage::currentRecords(h.equipname, collectors);
    if (!records)
        return failed(records.error);
    const base::Status st = storage::storeCalibration(h, records.value, exists.value);
    if (!st)
        return failed(st.error);
    m_processed = true;
    setRunActive(this, isActive());
    p.outcome = Processing::Done;
    return p;
}

base::Status RunSession::discard()
{
    if (m_state != RunState::Idle)
        return base::Status::failure(QStringLiteral("校准正在进行，请先停止。"));
    if (!hasUnprocessedSamples())
        return base::Status::failure(QStringLiteral("没有尚未处理的校准。"));
    // Recorded as set aside through its last sample: the next start offers
    // nothing of it.
    const base::Status st = storage::setAsideUnprocessed(m_samples.last().timeText());
    if (!st)
        return st;
    rebuildTable(m_tableTwo);
    m_hasTable = false;
    setRunActive(this, isActive());
    emit stateChanged();
    return {};
}

} // namespace acquisition
